// Off-row text, ntext and image values of the 2000 format: the 16-byte text pointer a data
// row holds, and the reader that gathers the value from its text pages through the shared
// bounded walk (common/lobcore.h).
//
// Text pointer (a variable entry whose end offset has bit 0x8000; little-endian):
//    0  text timestamp; its first 4 bytes are the value identifier the root carries   8
//    8  page of the value's first record                                              4
//   12  file                                                                          2
//   14  slot                                                                          2
// Every 2000 pointer has this form. Its first two bytes are always 0, so the first 32-bit word
// says nothing about the form (it is 0 for every 65,536th value).
#pragma once

#include <string>

#include "common/lobcore.h"
#include "common/page.h"
#include "platform/types.h"

namespace rows2000 {

constexpr size_t kTextPointerSize = 16;

struct TextPointer {
  DWORD valueId = 0;
  DWORD page = 0;
  WORD file = 0;
  WORD slot = 0;
};

// False when fewer than 16 bytes are there.
bool ParseTextPointer(ByteView bytes, TextPointer& pointer);

// How a value's bytes become its text.
enum class LobRender : BYTE {
  kText,     // 8-bit text: the bytes without their zeros
  kUnicode,  // UTF-16 as UTF-8 (rows2000::UnicodeShown)
  kHex,      // two lower-case hex digits per byte
};
std::string RenderLob(const std::string& bytes, LobRender render);

// Reads values through the engine's page source. Stateless between calls and safe to share
// between threads: each read has its own walk and page buffer.
class LobReader {
 public:
  explicit LobReader(lobcore::PageReader pages, const lobcore::Limits& limits = lobcore::Limits());

  // The value's bytes, appended to `bytes`, as far as they could be read.
  lobcore::Report Read(const TextPointer& pointer, std::string& bytes) const;

  // The engine's ReadLobValue: the value rendered; "" when nothing could be read.
  std::string ReadRendered(const TextPointer& pointer, LobRender render) const;

  // The 2000 format's reading rules for the shared walk.
  static lobcore::Policy Policy();

 private:
  lobcore::PageReader m_pages;
  lobcore::Limits m_limits;
};

}  // namespace rows2000
