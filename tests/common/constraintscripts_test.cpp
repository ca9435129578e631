#include "common/constraintscripts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Texts(const std::vector<CString>& statements) {
  std::vector<std::string> out;
  for (const CString& s : statements) out.push_back(s.str());
  return out;
}

ConstraintState State(bool notTrusted, bool disabled, bool notForReplication) {
  ConstraintState s;
  s.notTrusted = notTrusted;
  s.disabled = disabled;
  s.notForReplication = notForReplication;
  return s;
}

}  // namespace

TEST(ConstraintScripts, ForeignKeysKeepTheirActionsAndState) {
  const struct {
    const char* what;
    BYTE onDelete, onUpdate;
    ConstraintState state;
    std::vector<std::string> expected;
  } cases[] = {
      {"checked, no action", kNoAction, kNoAction, State(false, false, false),
       {"ALTER TABLE [dbo].[O] WITH CHECK ADD CONSTRAINT [FK]] x] FOREIGN KEY ([a],[b]) REFERENCES [s].[R] ([k],[l])"}},
      {"actions, never checked", kCascade, kSetNull, State(true, false, false),
       {"ALTER TABLE [dbo].[O] WITH NOCHECK ADD CONSTRAINT [FK]] x] FOREIGN KEY ([a],[b]) REFERENCES [s].[R] ([k],[l]) "
        "ON DELETE CASCADE ON UPDATE SET NULL"}},
      // Switched off: added without a check and switched off again.
      {"disabled, not for replication", kSetDefault, kNoAction, State(true, true, true),
       {"ALTER TABLE [dbo].[O] WITH NOCHECK ADD CONSTRAINT [FK]] x] FOREIGN KEY ([a],[b]) REFERENCES [s].[R] ([k],[l]) "
        "ON DELETE SET DEFAULT NOT FOR REPLICATION",
        "ALTER TABLE [dbo].[O] NOCHECK CONSTRAINT [FK]] x]"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Texts(SqlForeignKeyStatements("[dbo].[O]", "FK] x", {"a", "b"}, "[s].[R]", {"k", "l"}, c.onDelete,
                                            c.onUpdate, c.state)),
              c.expected)
        << c.what;
}

TEST(ConstraintScripts, CheckConditionsStayWhole) {
  const struct {
    const char* text;
    ConstraintState state;
    std::vector<std::string> expected;
  } cases[] = {
      {"([Quantity]>(0))", State(false, false, false),
       {"ALTER TABLE [t] WITH CHECK ADD CONSTRAINT [CK] CHECK ([Quantity]>(0))"}},
      // Parentheses that do not enclose the whole condition get an outer pair.
      {" ([a]>(0)) and ([b]<(1)) ", State(true, false, false),
       {"ALTER TABLE [t] WITH NOCHECK ADD CONSTRAINT [CK] CHECK (([a]>(0)) and ([b]<(1)))"}},
      {"a like '(x'", State(false, false, false),
       {"ALTER TABLE [t] WITH CHECK ADD CONSTRAINT [CK] CHECK (a like '(x')"}},
      {"([a]=')')", State(true, true, true),
       {"ALTER TABLE [t] WITH NOCHECK ADD CONSTRAINT [CK] CHECK NOT FOR REPLICATION ([a]=')')",
        "ALTER TABLE [t] NOCHECK CONSTRAINT [CK]"}},
  };
  for (const auto& c : cases) {
    CCheckConstraint check;
    check.m_strName = "CK";
    check.m_strText = c.text;
    check.m_state = c.state;
    EXPECT_EQ(Texts(SqlCheckStatements("[t]", check)), c.expected) << c.text;
  }
  EXPECT_EQ(SqlColumnDefault("DF_a", "((0))").str(), " CONSTRAINT [DF_a] DEFAULT ((0))");
  EXPECT_EQ(SqlColumnDefault("", "(1)").str(), " DEFAULT (1)");
}
