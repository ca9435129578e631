// Statements that recreate foreign keys and CHECK constraints as the catalog describes them,
// shared by both engines so a key restored from either format reads the same.
#pragma once

#include <vector>

#include "common/records.h"
#include "platform/cstring.h"

// Where a format's constraint status word keeps each flag of a constraint's state: the two
// formats use one set of flags at different bits.
struct ConstraintStatusBits {
  DWORD systemNamed;
  DWORD disabled;
  DWORD notForReplication;
  DWORD notTrusted;
};
ConstraintState ConstraintStateOf(DWORD status, const ConstraintStatusBits& bits);

// The statements of one foreign key, in the order they run: the key itself, WITH CHECK, or
// WITH NOCHECK where the server never checked the rows it holds; then, for a key that was
// switched off, the statement that switches it off again. `table` and `refTable` are
// qualified names ("[dbo].[Orders]"); the column lists hold bare names, pair by pair.
std::vector<CString> SqlForeignKeyStatements(const CString& table, const CString& name,
                                             const std::vector<CString>& columns, const CString& refTable,
                                             const std::vector<CString>& refColumns, BYTE deleteAction,
                                             BYTE updateAction, const ConstraintState& state);

// The statements of one CHECK constraint of `table` (qualified), in the same form.
std::vector<CString> SqlCheckStatements(const CString& table, const CCheckConstraint& check);

// " CONSTRAINT [name] DEFAULT text", or " DEFAULT text" without a name: a column's default
// inside CREATE TABLE.
CString SqlColumnDefault(const CString& name, const CString& text);
