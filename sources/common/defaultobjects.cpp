#include "common/defaultobjects.h"

#include <algorithm>
#include <cctype>

#include "common/executionlog.h"
#include "common/sqltext.h"

static bool IsIdentifierChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

// Where the words "create default" begin in a default text (any case, any blanks between
// them), or npos: such a text is the statement of a default object, not an expression.
size_t FindCreateDefault(const std::string& text, size_t* nameStart) {
  std::string lower(text);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (size_t at = lower.find("create"); at != std::string::npos; at = lower.find("create", at + 1)) {
    if (at > 0 && IsIdentifierChar(lower[at - 1])) continue;
    size_t p = at + 6;
    const size_t blanks = p;
    while (p < lower.size() && std::isspace(static_cast<unsigned char>(lower[p]))) ++p;
    if (p == blanks || lower.compare(p, 7, "default") != 0) continue;
    p += 7;
    if (p < lower.size() && IsIdentifierChar(lower[p])) continue;
    if (nameStart) {
      while (p < lower.size() && std::isspace(static_cast<unsigned char>(lower[p]))) ++p;
      *nameStart = p;
    }
    return at;
  }
  return std::string::npos;
}

bool IsDefaultObjectText(const CString& text) { return FindCreateDefault(text.str()) != std::string::npos; }

// The default object's name as its statement writes it ("D", "[dbo].[D]", "dbo.D"); empty
// when the text names none.
CString DefaultObjectName(const CString& text) {
  const std::string& s = text.str();
  size_t p = 0;
  if (FindCreateDefault(s, &p) == std::string::npos) return CString();
  const size_t start = p;
  for (;;) {
    if (p >= s.size()) break;
    if (s[p] == '[' || s[p] == '"') {
      const char close = s[p] == '[' ? ']' : '"';
      ++p;
      for (;;) {
        if (p >= s.size()) return CString();  // the name never ends
        if (s[p] == close) {
          if (p + 1 < s.size() && s[p + 1] == close) {
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        ++p;
      }
    } else {
      const size_t part = p;
      while (p < s.size() && IsIdentifierChar(s[p])) ++p;
      if (p == part) break;
    }
    if (p < s.size() && s[p] == '.') {
      ++p;
      continue;
    }
    break;
  }
  return CString(s.substr(start, p - start));
}

static CString ColumnTarget(const CString& owner, const CString& table, const CString& column) {
  return SqlQuoteNString(SqlQualifiedName(owner, table) + "." + SqlQuoteName(column));
}

CString SqlBindDefaultStatement(const CString& owner, const CString& table, const CString& column,
                                const CString& defaultName) {
  return "EXEC sp_bindefault " + SqlQuoteNString(defaultName) + ", " + ColumnTarget(owner, table, column);
}

CString SqlBindRuleStatement(const CString& owner, const CString& table, const CString& column,
                             const CString& ruleName) {
  return "EXEC sp_bindrule " + SqlQuoteNString(SqlQuoteName(ruleName)) + ", " + ColumnTarget(owner, table, column);
}

CString SqlBindRuleToTypeStatement(const CString& typeName, const CString& ruleName) {
  return "EXEC sp_bindrule " + SqlQuoteNString(SqlQuoteName(ruleName)) + ", " + SqlQuoteNString(SqlQuoteName(typeName));
}

CString SqlUnbindRuleStatement(const CString& owner, const CString& table, const CString& column) {
  return "EXEC sp_unbindrule " + ColumnTarget(owner, table, column);
}

CString SqlBindDefaultToTypeStatement(const CString& typeName, const CString& defaultName) {
  return "EXEC sp_bindefault " + SqlQuoteNString(defaultName) + ", " + SqlQuoteNString(SqlQuoteName(typeName));
}

CString SqlUnbindDefaultStatement(const CString& owner, const CString& table, const CString& column) {
  return "EXEC sp_unbindefault " + ColumnTarget(owner, table, column);
}

const CDataType* UserTypeNamed(const CStringKeyMap<CDataType*>& types, const CString& name) {
  if (name.IsEmpty()) return nullptr;
  for (const auto& entry : types)
    if (entry.second && entry.second->m_strName == name) return entry.second;
  return nullptr;
}

void LogUnboundTypeObjects(const CDataType& type) {
  auto Log = [](const CString& text) { CExecutionLog::WriteLog(0, 0, text.c_str(), false); };
  if (type.m_dwDefaultObjectId != 0 && (type.m_strDefaultText.IsEmpty() || DefaultObjectName(type.m_strDefaultText).IsEmpty()))
    Log(FormatString("User data type %s: its default object (id %lu) was not recovered and is not bound",
                     SqlQuoteName(type.m_strName), static_cast<unsigned long>(type.m_dwDefaultObjectId)));
  if (type.m_dwRuleId != 0 && type.m_strRuleName.IsEmpty())
    Log(FormatString("User data type %s: its rule (id %lu) was not recovered and is not bound",
                     SqlQuoteName(type.m_strName), static_cast<unsigned long>(type.m_dwRuleId)));
}

void ResolveTypeBindings(CStringKeyMap<CDataType*>& types, const CStringKeyMap<CViewStoredProc*>& rules,
                         const CStringKeyMap<CIndexInfo*>& texts) {
  for (auto& [key, type] : types) {
    if (!type) continue;
    CViewStoredProc* rule = nullptr;
    if (type->m_dwRuleId != 0 && rules.Lookup(FormatString("%lu", type->m_dwRuleId).view(), rule) && rule)
      type->m_strRuleName = rule->m_strName;
    CIndexInfo* text = nullptr;
    if (type->m_dwDefaultObjectId != 0 && texts.Lookup(FormatString("%lu", type->m_dwDefaultObjectId).view(), text) && text &&
        IsDefaultObjectText(text->m_strText))
      type->m_strDefaultText = text->m_strText;
  }
}

std::vector<RuleOfTypes> RulesBoundToTypes(const std::vector<const CDataType*>& types,
                                           const CStringKeyMap<CViewStoredProc*>& rules) {
  std::vector<RuleOfTypes> out;
  for (const CDataType* type : types) {
    if (!type || type->m_dwRuleId == 0 || type->m_strRuleName.IsEmpty()) continue;
    CViewStoredProc* rule = nullptr;
    if (!rules.Lookup(FormatString("%lu", type->m_dwRuleId).view(), rule) || !rule) continue;
    CString text(rule->m_strText);
    text.Trim();
    if (text.IsEmpty()) continue;
    auto same = [&](const RuleOfTypes& r) { return r.rule == rule; };
    auto found = std::find_if(out.begin(), out.end(), same);
    if (found == out.end()) found = out.insert(out.end(), RuleOfTypes{rule, {}});
    found->types.push_back(type->m_strName);
  }
  return out;
}
