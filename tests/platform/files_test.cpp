// Source files: only regular files are opened, no open waits, and a pinned source is read
// through its one descriptor whatever happens to its path.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "support/fixtures.h"

namespace {

std::string ReadAll(const CSourceFile& f) {
  std::string out(size_t(f.Size()), '\0');
  out.resize(f.ReadAt(0, out.data(), out.size()));
  return out;
}

}  // namespace

TEST(SourceFile, OnlyRegularFilesOpenAndNothingWaits) {
  testsupport::TempDir dir;
  const std::string pipe = dir.file("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::string plain = dir.file("plain");
  testsupport::WriteFile(plain, "pages");
  struct Case {
    std::string path;
    std::string refusal;  // "" when it opens
  } cases[] = {
      {plain, ""},
      {pipe, "is a named pipe (FIFO), not a file"},
      {"/dev/zero", "is a device, not a file"},
      {dir.path(), "is a folder, not a file"},
      {dir.file("absent"), "cannot be opened: No such file or directory"},
      {"", "no file was named"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const auto start = std::chrono::steady_clock::now();
    CSourceFile f;
    EXPECT_EQ(f.Open(c.path.c_str()), c.refusal.empty());
    EXPECT_EQ(f.Refusal(), c.refusal);
    EXPECT_EQ(f.IsOpen(), c.refusal.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
}

TEST(SourcePin, EveryOpenOfThePathReadsThePinnedFileAndTheChangeIsTold) {
  testsupport::TempDir dir;
  const std::string path = dir.file("source.mdf");
  testsupport::WriteFile(path, "first file");
  CSourcePin pin;
  ASSERT_TRUE(pin.Pin(path.c_str()));
  std::string how;
  EXPECT_FALSE(pin.Changed(&how));
  EXPECT_EQ(how, "");

  // Another file put in its place: the pinned one is what every open on the path reads.
  const std::string other = dir.file("other");
  testsupport::WriteFile(other, "second file, longer");
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  CSourceFile f;
  ASSERT_TRUE(f.Open(path.c_str()));
  EXPECT_EQ(ReadAll(f), "first file");
  EXPECT_TRUE(pin.Changed(&how));
  EXPECT_EQ(how, "another file took its name (the one opened first was read throughout)");

  // Released, the path is opened as it is now.
  pin.Release();
  CSourceFile after;
  ASSERT_TRUE(after.Open(path.c_str()));
  EXPECT_EQ(ReadAll(after), "second file, longer");
  // The file opened under the pin still reads the first file.
  EXPECT_EQ(ReadAll(f), "first file");
}

TEST(SourcePin, ASourceCutOrWrittenDuringTheWorkIsTold) {
  testsupport::TempDir dir;
  const std::string path = dir.file("source.bak");
  testsupport::WriteFile(path, std::string(8192, 'x'));
  {
    CSourcePin pin;
    ASSERT_TRUE(pin.Pin(path.c_str()));
    ASSERT_EQ(truncate(path.c_str(), 4096), 0);
    std::string how;
    EXPECT_TRUE(pin.Changed(&how));
    EXPECT_EQ(how, "its size changed from 8192 to 4096 bytes");
  }
  {
    CSourcePin pin;
    ASSERT_TRUE(pin.Pin(path.c_str()));
    // Same size, new contents, a later modification time.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    std::string how;
    EXPECT_TRUE(pin.Changed(&how));
    EXPECT_EQ(how, "it was written to");
  }
  CSourcePin refused;
  EXPECT_FALSE(refused.Pin(dir.path().c_str()));
  EXPECT_EQ(refused.Refusal(), "is a folder, not a file");
  EXPECT_FALSE(refused.Changed());
}
