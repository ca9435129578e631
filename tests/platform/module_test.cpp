#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/module.h"
#include "support/fixtures.h"

namespace fs = std::filesystem;
using testsupport::RunAsOrdinaryUser;
using testsupport::TempDir;

TEST(StateFolder, Decision) {
  struct Case {
    bool writable;
    const char* xdg;
    const char* home;
    const char* want;
  } cases[] = {
      {true, "/x/state", "/h", "/opt/corvane/"},             // a writable program folder wins
      {false, "/x/state", "/h", "/x/state/corvane/"},
      {false, "/x/state/", "/h", "/x/state/corvane/"},        // one slash between the parts
      {false, nullptr, "/h", "/h/.local/state/corvane/"},    // XDG_STATE_HOME unset
      {false, "", "/h/", "/h/.local/state/corvane/"},        // set but empty counts as unset
      {false, "state", "/h", "/h/.local/state/corvane/"},    // a relative value is ignored
      {false, nullptr, nullptr, "/opt/corvane/"},            // nowhere else: quiet failures there
      {false, nullptr, "home", "/opt/corvane/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseStateFolder("/opt/corvane/", c.writable, c.xdg, c.home), c.want)
        << c.writable << " " << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
  }
  EXPECT_EQ(ChooseStateFolder("/opt/corvane", true, nullptr, nullptr), "/opt/corvane/");
}

TEST(StateFolder, WritableFolders) {
  TempDir dir;
  EXPECT_TRUE(IsWritableFolder(dir.path()));
  EXPECT_TRUE(IsWritableFolder(dir.path() + "/"));
  EXPECT_FALSE(IsWritableFolder(dir.path() + "/missing"));
  EXPECT_FALSE(IsWritableFolder(""));
  testsupport::WriteFile(dir.file("file"), "x");
  EXPECT_FALSE(IsWritableFolder(dir.file("file")));  // a file is no folder, writable or not

  // An installed program's folder: readable and searchable by everyone, writable by no one
  // but its owner (and not even by the owner here, so the check holds as any user).
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const std::string path = dir.path();
  EXPECT_EQ(RunAsOrdinaryUser([&] { return IsWritableFolder(path) ? 1 : 0; }), 0);
  ::chmod(dir.path().c_str(), 0755);
}

// An installed copy: the program's folder is not the user's, so its files go to the XDG state
// folder, which is made (mode 0700, as the XDG rules ask) on first use; with XDG_STATE_HOME
// unset they go under HOME. The writable case is every other test of the logs and settings.
TEST(StateFolder, AnInstalledProgramWritesUnderTheUsersStateFolder) {
  TempDir program, user;
  ASSERT_EQ(::chmod(program.path().c_str(), 0555), 0);
  ASSERT_EQ(::chmod(user.path().c_str(), 0777), 0);
  const std::string programPath = program.path(), userPath = user.path();
  struct Case {
    bool setXdg;
    std::string want;
  } cases[] = {
      {true, userPath + "/state/corvane/"},
      {false, userPath + "/home/.local/state/corvane/"},
  };
  for (const Case& c : cases) {
    const int result = RunAsOrdinaryUser([&] {
      SetModuleFolderOverride(programPath);
      ::setenv("HOME", (userPath + "/home").c_str(), 1);
      if (c.setXdg) ::setenv("XDG_STATE_HOME", (userPath + "/state").c_str(), 1);
      else ::unsetenv("XDG_STATE_HOME");
      if (::mkdir((userPath + "/home").c_str(), 0700) != 0 && errno != EEXIST) return 2;
      return GetStateFolderPath() == c.want ? 0 : 1;
    });
    EXPECT_EQ(result, 0) << c.want;
    struct stat st {};
    ASSERT_EQ(::stat(c.want.c_str(), &st), 0) << c.want;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u) << c.want;
  }
  // Nothing was written beside the program.
  ::chmod(program.path().c_str(), 0755);
  EXPECT_TRUE(fs::is_empty(program.path()));
}
