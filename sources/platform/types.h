// Fixed-width integer names used throughout the engines. They keep the widths the
// on-disk formats and the scan file use, independent of the host's long size.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;   // 32 bits, as the file formats expect
using UINT = std::uint32_t;
using INT64 = std::int64_t;
using UINT64 = std::uint64_t;
