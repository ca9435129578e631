#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/module.h"
#include "support/fixtures.h"
#include "ui/core/programfolder.h"
#include "ui/core/sqlsettings.h"

TEST(SqlSettings, Values) {
  struct Case {
    const char* text;
    int threadSize;           // ThreadSize(7)
    const char* avoid;
  } cases[] = {
      {"Thread_Size=4\nAvoid_Duplicate=1\n", 4, "1"},
      {"Thread_Size=4\r\nAvoid_Duplicate=1\r\n", 4, "1"},  // edited on Windows
      {"Avoid_Duplicate=1\r\r\n", 7, "1\r"},               // only one carriage return is a line end
      {"Thread_Size=2\nThread_Size=5\n", 5, ""},            // a later line wins
      {"Thread_Size=lots\n", 0, ""},                        // not a number
      {"Thread_Size=3x\n", 3, ""},
      {"", 7, ""},                                          // no key: kept, and empty
      {"# Thread_Size=3\nThread_Size 3\n", 7, ""},          // no '=' or another key
      {"Avoid_Duplicate=0", 7, "0"},                        // no line end at the end
  };
  for (const Case& c : cases) {
    SqlSettings s = SqlSettings::Parse(c.text);
    EXPECT_TRUE(s.FileFound());
    EXPECT_EQ(s.ThreadSize(7), c.threadSize) << c.text;
    EXPECT_EQ(s.AvoidDuplicate(), c.avoid) << c.text;
  }
  // The value is everything after the first '='.
  EXPECT_EQ(SqlSettings::Parse("a=b=c\n").Value("a"), "b=c");
  EXPECT_EQ(SqlSettings::Parse("=x\n").Value(""), "x");
  EXPECT_FALSE(SqlSettings::Parse("a=b\n").Value("A"));
}

TEST(SqlSettings, MissingFileAndTheProgramsOwnFile) {
  testsupport::ModuleFolderScope scope;
  SqlSettings none = SqlSettings::ReadProgramSettings();
  EXPECT_FALSE(none.FileFound());
  EXPECT_EQ(none.AvoidDuplicate(), "0");
  EXPECT_EQ(none.ThreadSize(3), 3);

  testsupport::WriteFile(scope.path() + "/sql.settings", "Thread_Size=2\r\nAvoid_Duplicate=1\r\n");
  SqlSettings read = SqlSettings::ReadProgramSettings();
  EXPECT_TRUE(read.FileFound());
  EXPECT_EQ(read.ThreadSize(3), 2);
  EXPECT_EQ(read.AvoidDuplicate(), "1");
}

// Paths under the program's folder do not depend on the working directory.
TEST(ProgramFolder, FilesAreUnderTheExecutablesFolderFromAnyWorkingDirectory) {
  testsupport::ModuleFolderScope scope;
  testsupport::TempDir elsewhere;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path());
  const std::string help = ProgramFile(kHelpFileName);
  const std::string settings = ProgramFile("/sql.settings");
  std::filesystem::current_path(before);
  EXPECT_EQ(help, scope.path() + "/Help.html");
  EXPECT_EQ(settings, scope.path() + "/sql.settings");
  EXPECT_EQ(ProgramFolder(), scope.path() + "/");
}

// An installed copy reads the settings the user keeps in the state folder; a file beside the
// program, which the user could not have edited, is not read.
TEST(SqlSettings, InstalledCopyReadsTheUsersStateFolder) {
  testsupport::TempDir program, user;
  testsupport::WriteFile(program.file("sql.settings"), "Thread_Size=9\n");
  const std::string state = user.path() + "/state";
  std::filesystem::create_directories(state + "/corvane");
  testsupport::WriteFile(state + "/corvane/sql.settings", "Thread_Size=4\nAvoid_Duplicate=1\n");
  for (const std::string& folder : {user.path(), state, state + "/corvane"})
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
  std::filesystem::permissions(program.path(), std::filesystem::perms(0555));
  const std::string programPath = program.path();
  const int result = testsupport::RunAsOrdinaryUser([&] {
    SetModuleFolderOverride(programPath);
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    const SqlSettings settings = SqlSettings::ReadProgramSettings();
    if (StateFile(kSettingsFileName) != state + "/corvane/sql.settings") return 1;
    return settings.ThreadSize(0) == 4 && settings.AvoidDuplicate() == "1" ? 0 : 2;
  });
  EXPECT_EQ(result, 0);
  std::filesystem::permissions(program.path(), std::filesystem::perms(0755));
}
