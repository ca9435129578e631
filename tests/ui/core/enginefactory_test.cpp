#include <gtest/gtest.h>

#include <cstdlib>

#include "dll/pellwyn2005/pellwyn2005.h"
#include "dll/pellwyn2008/pellwyn2008.h"
#include "support/fixtures.h"
#include "ui/core/enginefactory.h"

namespace {

struct Case {
  int number;
  const char* text;
  const char* label;
  const char* format;
};

const Case kVersions[] = {
    {1, "2000", "(SQL Server 2000)", "2000 Format"},
    {2, "2005", "(SQL Server 2005)", "2005 Format"},
    {3, "2008", "(SQL Server 2008)", "2008 Format"},
};

bool Is2005(CSQLServer* e) { return dynamic_cast<CSQLServer2005*>(e) != nullptr; }
bool Is2008Only(CSQLServer* e) { return dynamic_cast<CSQLServer2008*>(e) && !Is2005(e); }

}  // namespace

// The version dialog's number and the scan file's text reach the same engine, which logs its
// own format line.
TEST(EngineFactory, NumberAndTextGiveTheSameVersionAndEngine) {
  for (const Case& c : kVersions) {
    SCOPED_TRACE(c.text);
    const EngineVersion* byNumber = FindEngineVersion(c.number);
    ASSERT_NE(byNumber, nullptr);
    EXPECT_EQ(FindEngineVersion(c.text), byNumber);
    EXPECT_STREQ(byNumber->label, c.label);
    EXPECT_STREQ(byNumber->formatText, c.format);

    testsupport::ModuleFolderScope scope;
    for (bool byText : {false, true}) {
      CreatedEngine created = byText ? CreateEngine(std::string_view(c.text)) : CreateEngine(c.number);
      EXPECT_EQ(created.version, byNumber);
      if (!EngineAvailable(c.number)) {
        EXPECT_FALSE(created);
        EXPECT_NE(created.refusal.find(std::string("SQL Server ") + c.text), std::string::npos) << created.refusal;
        continue;
      }
      ASSERT_TRUE(created) << created.refusal;
      ASSERT_NE(created.engine->m_pStatus, nullptr);
      // The export asks the engine, not the window, which server generation it scripts for.
      EXPECT_EQ(created.engine->m_nFormatVersion, std::atoi(c.text));
      if (c.number == 2) {
        EXPECT_TRUE(Is2005(created.engine.get()));
      } else if (c.number == 3) {
        EXPECT_TRUE(Is2008Only(created.engine.get()));
      }
    }
  }
  // The two libraries this build always has.
  EXPECT_TRUE(EngineAvailable(2));
  EXPECT_TRUE(EngineAvailable(3));
}

TEST(EngineFactory, EachEngineLogsItsFormat) {
  for (int number : {2, 3}) {
    testsupport::ModuleFolderScope scope;
    CreatedEngine created = CreateEngine(number);
    ASSERT_TRUE(created);
    const std::string log = scope.ReadExecLog();
    EXPECT_NE(log.find(std::string("MSG:") + created.version->formatText), std::string::npos) << log;
    EXPECT_NE(log.find("Last Log On"), std::string::npos);
  }
}

TEST(EngineFactory, UnknownVersionsMakeNothing) {
  for (int number : {0, -1, 4, 2008}) {
    CreatedEngine created = CreateEngine(number);
    EXPECT_FALSE(created) << number;
    EXPECT_EQ(created.version, nullptr);
    EXPECT_FALSE(created.refusal.empty());
  }
  for (const char* text : {"", "2009", "2008 ", "tarnwell", "3"}) {
    EXPECT_FALSE(CreateEngine(std::string_view(text))) << text;
    EXPECT_EQ(FindEngineVersion(std::string_view(text)), nullptr) << text;
  }
}
