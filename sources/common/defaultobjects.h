// Default objects: a column's default text may be the whole statement of a bound default
// object ("CREATE DEFAULT [dbo].[zero] AS 0") instead of an expression. The schema scripts
// create such an object once and bind it to each column that uses it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/records.h"
#include "platform/collections.h"
#include "platform/cstring.h"

// Where the words "create default" begin in a default text (any case, any blanks between
// them), or npos; *nameStart, when given, gets where the object's name begins.
size_t FindCreateDefault(const std::string& text, size_t* nameStart = nullptr);

// Whether the text is a default object's statement rather than an expression.
bool IsDefaultObjectText(const CString& text);

// Gives each user data type the name of its bound rule and the statement of its bound default
// object, from the ids its row holds. Only an id that names a rule of this database, or the
// text of a default object's own statement, binds; anything else the id names binds nothing.
// `texts` maps an object id ("%lu") to its recovered definition text.
void ResolveTypeBindings(CStringKeyMap<CDataType*>& types, const CStringKeyMap<CViewStoredProc*>& rules,
                         const CStringKeyMap<CIndexInfo*>& texts);

// The rules the exported types are bound to, each once with the names of its types, in the
// order the types come: a type's rule is created and bound right after the types, before any
// table, whether or not the rules themselves are exported. A rule without text is left out.
struct RuleOfTypes {
  const CViewStoredProc* rule = nullptr;
  std::vector<CString> types;
};
std::vector<RuleOfTypes> RulesBoundToTypes(const std::vector<const CDataType*>& types,
                                           const CStringKeyMap<CViewStoredProc*>& rules);

// The default object's name as its statement writes it ("D", "[dbo].[D]", "dbo.D"); empty
// when the text names none.
CString DefaultObjectName(const CString& text);

// EXEC sp_bindefault N'name', N'[owner].[table].[column]'.
CString SqlBindDefaultStatement(const CString& owner, const CString& table, const CString& column,
                                const CString& defaultName);

// EXEC sp_bindrule N'[rule]', N'[owner].[table].[column]'.
CString SqlBindRuleStatement(const CString& owner, const CString& table, const CString& column,
                             const CString& ruleName);

// EXEC sp_bindrule N'[rule]', N'[type]': without futureonly, so the type's existing columns
// that have no rule of their own take it too, as they had it in the original.
CString SqlBindRuleToTypeStatement(const CString& typeName, const CString& ruleName);

// EXEC sp_unbindrule N'[owner].[table].[column]': for a column of a bound type that had no rule.
CString SqlUnbindRuleStatement(const CString& owner, const CString& table, const CString& column);

// EXEC sp_bindefault N'name', N'[type]': without futureonly, so columns of the type created
// after it take the default, as they had it in the original.
CString SqlBindDefaultToTypeStatement(const CString& typeName, const CString& defaultName);

// EXEC sp_unbindefault N'[owner].[table].[column]': for a column of a bound type that had no default.
CString SqlUnbindDefaultStatement(const CString& owner, const CString& table, const CString& column);

// The user data type of that name, or null.
const CDataType* UserTypeNamed(const CStringKeyMap<CDataType*>& types, const CString& name);

// Logs, by the type's name, a bound default or rule of the type that names no recovered
// default object or rule: the exports create the type without it.
void LogUnboundTypeObjects(const CDataType& type);
