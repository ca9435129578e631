#include "constraintscripts.h"

#include "common/sqltext.h"

ConstraintState ConstraintStateOf(DWORD status, const ConstraintStatusBits& bits) {
  ConstraintState state;
  state.systemNamed = (status & bits.systemNamed) != 0;
  state.disabled = (status & bits.disabled) != 0;
  state.notForReplication = (status & bits.notForReplication) != 0;
  state.notTrusted = (status & bits.notTrusted) != 0;
  return state;
}

namespace {

const char* ActionText(BYTE action) {
  switch (action) {
    case kCascade: return "CASCADE";
    case kSetNull: return "SET NULL";
    case kSetDefault: return "SET DEFAULT";
    default: return nullptr;
  }
}

CString ColumnList(const std::vector<CString>& columns) {
  CString out;
  for (const CString& c : columns) {
    if (!out.IsEmpty()) out += ",";
    out += SqlQuoteName(c);
  }
  return out;
}

// WITH CHECK ADD, or WITH NOCHECK ADD for a constraint the rows were never checked against
// (a switched-off one is never trusted either).
CString AddClause(const CString& table, const CString& name, const ConstraintState& state) {
  const bool check = !state.notTrusted && !state.disabled;
  return "ALTER TABLE " + table + (check ? " WITH CHECK" : " WITH NOCHECK") + " ADD CONSTRAINT " + SqlQuoteName(name);
}

// Whether the whole text is one parenthesised expression: "(a) and (b)" is not.
bool WhollyParenthesised(const std::string& text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  int depth = 0;
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '[' || c == '"') {
      quote = c == '[' ? ']' : c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0 && i + 1 < text.size()) return false;
    }
  }
  return depth == 0;
}

CString SwitchOff(const CString& table, const CString& name) {
  return "ALTER TABLE " + table + " NOCHECK CONSTRAINT " + SqlQuoteName(name);
}

}  // namespace

std::vector<CString> SqlForeignKeyStatements(const CString& table, const CString& name,
                                             const std::vector<CString>& columns, const CString& refTable,
                                             const std::vector<CString>& refColumns, BYTE deleteAction,
                                             BYTE updateAction, const ConstraintState& state) {
  CString statement = AddClause(table, name, state) + " FOREIGN KEY (" + ColumnList(columns) + ") REFERENCES " +
                      refTable + " (" + ColumnList(refColumns) + ")";
  if (const char* action = ActionText(deleteAction)) statement += CString(" ON DELETE ") + action;
  if (const char* action = ActionText(updateAction)) statement += CString(" ON UPDATE ") + action;
  if (state.notForReplication) statement += " NOT FOR REPLICATION";
  std::vector<CString> out{statement};
  if (state.disabled) out.push_back(SwitchOff(table, name));
  return out;
}

std::vector<CString> SqlCheckStatements(const CString& table, const CCheckConstraint& check) {
  CString condition(check.m_strText);
  condition.Trim();
  // The catalog keeps the condition in parentheses; a text without them still needs them.
  if (!WhollyParenthesised(condition.str())) condition = "(" + condition + ")";
  CString statement = AddClause(table, check.m_strName, check.m_state) + " CHECK ";
  if (check.m_state.notForReplication) statement += "NOT FOR REPLICATION ";
  std::vector<CString> out{statement + condition};
  if (check.m_state.disabled) out.push_back(SwitchOff(table, check.m_strName));
  return out;
}

CString SqlColumnDefault(const CString& name, const CString& text) {
  if (name.IsEmpty()) return " DEFAULT " + text;
  return " CONSTRAINT " + SqlQuoteName(name) + " DEFAULT " + text;
}
