// Writes backup sets into a Microsoft Tape Format image as SQL Server lays them out: an SSET
// descriptor block, then an MSDA block whose pad stream is followed by the MQDA stream with
// the database pages, 24 bytes past its header. Used to append sets to copies of real
// backups and to build small synthetic ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace backupwriter {

constexpr unsigned kFullBackup = 4;
constexpr unsigned kDifferentialBackup = 8;

inline void PutLE(std::string& b, size_t at, std::uint64_t value, int width) {
  if (b.size() < at + size_t(width)) b.resize(at + size_t(width), '\0');
  for (int i = 0; i < width; ++i) b[at + size_t(i)] = char(BYTE(value >> (8 * i)));
}

// Appends one set holding `pages` (8192 bytes each) at the next 512-byte boundary of `tape`.
// Gives the file position of the set's first page.
inline size_t AppendSet(std::string& tape, unsigned setAttributes, unsigned number, const std::u16string& name,
                        const std::vector<std::vector<BYTE>>& pages) {
  const size_t sset = (tape.size() + 511) / 512 * 512;
  tape.resize(sset + 1024, '\0');
  tape.replace(sset, 4, "SSET");
  PutLE(tape, sset + 52, setAttributes, 4);
  PutLE(tape, sset + 62, number, 2);
  PutLE(tape, sset + 64, name.size() * 2, 2);  // name: tape address (size, offset)
  PutLE(tape, sset + 66, 200, 2);
  for (size_t i = 0; i < name.size(); ++i) PutLE(tape, sset + 200 + 2 * i, name[i], 2);
  tape.replace(sset + 88, 5, std::string("\x1f\x63\x12\x81\x43", 5));  // 2008-12-09 08:05:03
  const size_t msda = sset + 1024;
  const size_t pad = 102;
  const size_t mqda = msda + 52 + 22 + pad;
  const size_t data = mqda + 24;
  tape.resize(data + pages.size() * 8192, '\0');
  tape.replace(msda, 4, "MSDA");
  PutLE(tape, msda + 8, 52, 2);
  tape.replace(msda + 52, 4, "APAD");
  PutLE(tape, msda + 52 + 8, pad, 8);
  tape.replace(mqda, 4, "MQDA");
  PutLE(tape, mqda + 8, 2 + pages.size() * 8192, 8);
  for (size_t p = 0; p < pages.size(); ++p)
    tape.replace(data + p * 8192, 8192, reinterpret_cast<const char*>(pages[p].data()), 8192);
  return data;
}

}  // namespace backupwriter
