#include <gtest/gtest.h>

#include <string>

#include "common/scriptfile.h"
#include "support/fixtures.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}
}  // namespace

TEST(ScriptFile, AsciiStaysAsItIsAndTheFirstOtherCharacterTurnsTheFileToUtf16) {
  TempDir dir;
  const std::string plain = dir.file("plain.sql"), wide = dir.file("wide.sql");
  FILE_HANDLE a = CreateFileForWrite(plain.c_str());
  ASSERT_TRUE(WriteScriptFileText(a, "CREATE TABLE [t] ([c] int)\r\n"));
  ASSERT_TRUE(WriteScriptFileText(a, "go\r\n"));
  CloseFileHandle(a);
  EXPECT_EQ(ReadFile(plain), "CREATE TABLE [t] ([c] int)\r\ngo\r\n");

  FILE_HANDLE b = CreateFileForWrite(wide.c_str());
  ASSERT_TRUE(WriteScriptFileText(b, "go\r\n"));
  ASSERT_TRUE(WriteScriptFileText(b, "CREATE TABLE [\xE4\xB8\x80\xF0\x9F\x98\x80]"));  // U+4E00, U+1F600
  ASSERT_TRUE(WriteScriptFileText(b, "\r\ngo\r\n"));
  CloseFileHandle(b);
  EXPECT_EQ(ReadFile(wide), std::string("\xFF\xFE", 2) + Utf16("go\r\nCREATE TABLE [") +
                                std::string("\x00\x4E\x3D\xD8\x00\xDE", 6) + Utf16("]\r\ngo\r\n"));

  // A file made after the wide one was closed (it may get the same descriptor) starts as ASCII.
  FILE_HANDLE c = CreateFileForWrite(plain.c_str());
  ASSERT_TRUE(WriteScriptFileText(c, "go\r\n"));
  CloseFileHandle(c);
  EXPECT_EQ(ReadFile(plain), "go\r\n");
  EXPECT_FALSE(WriteScriptFileText(kInvalidFile, "go"));
}
