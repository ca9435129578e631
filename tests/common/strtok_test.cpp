#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/strtok.h"

namespace {
std::vector<std::string> Split(std::string text, const char* sep, std::string* after = nullptr) {
  std::vector<std::string> out;
  StrTok tok;
  tok.m_bMultiCharDelimiter = true;
  for (char* t = tok.FirstToken(text.data(), sep); t; t = tok.NextToken(sep)) out.emplace_back(t);
  if (after) *after = text;
  return out;
}
using V = std::vector<std::string>;
}  // namespace

TEST(StrTok, MultiCharacterSeparator) {
  struct Case {
    const char* text;
    V tokens;
  } cases[] = {
      {"a$#$b$#$c", {"a", "b", "c"}}, {"$#$a", {"a"}},       {"a$#$", {"a"}},
      {"", {}},                       {"a$#$$#$c", {"a", "c"}}, {"Empty$#$12", {"Empty", "12"}},
      {"x$#y", {"x$#y"}},             {"ab", {"ab"}},        {"v$#$1$#$x", {"v", "1", "x"}},
  };
  for (const auto& c : cases) {
    std::string after;
    EXPECT_EQ(Split(c.text, "$#$", &after), c.tokens) << c.text;
    EXPECT_EQ(after, c.text) << "text restored after a full walk";
  }
}

TEST(StrTok, ResetRestoresAnEarlyStopAndBadArgumentsReturnAtOnce) {
  std::string text = "a$#$b$#$c";
  StrTok tok;
  tok.m_bMultiCharDelimiter = true;
  EXPECT_STREQ(tok.FirstToken(text.data(), "$#$"), "a");
  tok.Reset();
  EXPECT_EQ(text, "a$#$b$#$c");
  EXPECT_EQ(tok.FirstToken(nullptr, "$#$"), nullptr);
  std::string whole = "abc";
  EXPECT_STREQ(tok.FirstToken(whole.data(), ""), "abc");
  EXPECT_EQ(tok.NextToken(""), nullptr);
}

// A caller that stops early and goes on with the next text (one row after another) may have
// freed the first one meanwhile: starting on the next text must not write into it.
TEST(StrTok, FirstTokenLeavesThePreviousTextAlone) {
  StrTok tok;
  tok.m_bMultiCharDelimiter = true;
  auto* freed = new char[8];
  std::memcpy(freed, "a$#$b", 6);
  EXPECT_STREQ(tok.FirstToken(freed, "$#$"), "a");
  delete[] freed;  // under the address sanitizer, a write into it is reported here
  std::string kept = "c$#$d";
  EXPECT_STREQ(tok.FirstToken(kept.data(), "$#$"), "c");
  std::string next = "e$#$f";
  EXPECT_STREQ(tok.FirstToken(next.data(), "$#$"), "e");
  EXPECT_EQ(kept, std::string("c\0#$d", 5)) << "the earlier text stays as it was left";
  EXPECT_STREQ(tok.NextToken("$#$"), "f");
  EXPECT_EQ(tok.NextToken("$#$"), nullptr);
  EXPECT_EQ(next, "e$#$f");
}

TEST(StrTok, DestructorRestoresTheText) {
  std::string text = "a$#$b";
  {
    StrTok tok;
    tok.m_bMultiCharDelimiter = true;
    tok.FirstToken(text.data(), "$#$");
  }
  EXPECT_EQ(text, "a$#$b");
}

TEST(StrTok, CharacterSetAndOptions) {
  std::string text = "a,,b;c";
  StrTok tok;
  V got;
  for (char* t = tok.FirstToken(text.data(), ",;"); t; t = tok.NextToken(",;")) got.emplace_back(t);
  EXPECT_EQ(got, (V{"a", "b", "c"}));
  std::string t2 = "a$#$$#$c";
  StrTok empty;
  empty.m_bMultiCharDelimiter = true;
  empty.m_bEmptyTokens = true;
  got.clear();
  for (char* t = empty.FirstToken(t2.data(), "$#$"); t; t = empty.NextToken("$#$")) got.emplace_back(t);
  EXPECT_EQ(got, (V{"a", "", "c"}));
  std::string t3 = "a$#$b";
  StrTok delims;
  delims.m_bMultiCharDelimiter = true;
  delims.m_bDelimitersAsTokens = true;
  got.clear();
  for (char* t = delims.FirstToken(t3.data(), "$#$"); t; t = delims.NextToken("$#$")) got.emplace_back(t);
  EXPECT_EQ(got, (V{"a", "$#$", "b"}));
}
