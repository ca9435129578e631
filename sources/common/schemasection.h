// The "schema" section of the scan file's extension (scanextension.h): what the catalog
// records' first archive form leaves out, per table: the names of default constraints, the
// full 64-bit identity values, the sort direction of index key columns and the columns an
// index includes, the foreign keys
// with their names, actions and state, the CHECK constraints and, after the tables, the
// predicates of filtered indexes. Both engines write it, so a
// scan reopened from its file exports the schema the scan itself would.
#pragma once

#include <string>

#include "common/records.h"
#include "platform/collections.h"

class CScanFileExtension;

constexpr const char* kSchemaSectionTag = "schema";

// What a scan loaded from a file without the section lacks, as the load logs it.
constexpr const char* kSchemaSectionMissing =
    "Scan file written before constraints were kept: its scan has no foreign keys (2005/2008 format), no CHECK "
    "constraints, no names of default constraints, no descending index key columns and identity values cut to "
    "32 bits; exports from it lack them";

void WriteSchemaSection(CScanFileExtension& extension, const CStringKeyMap<CTable*>& tables);

// The "type-nullability" section: which user data types are NOT NULL, for a format whose
// first archive form of CDataType does not keep the type's status.
constexpr const char* kRuleSectionTag = "column-rules";
// Per table (by key) and column (in order) the name of the rule bound to it.
void WriteRuleSection(CScanFileExtension& extension, const CStringKeyMap<CTable*>& tables);
// Restores the rule names; a file without the section loads its columns without rules
// (said in the log when the scan has rules that could have been bound).
void ApplyRuleSection(const CScanFileExtension& extension, CStringKeyMap<CTable*>& tables, bool rulesExist);

constexpr const char* kTypeSectionTag = "type-nullability";
void WriteTypeSection(CScanFileExtension& extension, const CStringKeyMap<CDataType*>& types);
// Without the section (an older file) the types load as nullable, which the log says.
void ApplyTypeSection(const CScanFileExtension& extension, CStringKeyMap<CDataType*>& types);

// The "type-bindings" section: per user data type (by key) the ids of the default object and
// the rule bound to the type and the rule's name. Without it (an older file) no type is bound,
// which the log says when the scan has types.
constexpr const char* kTypeBindingSectionTag = "type-bindings";
void WriteTypeBindingSection(CScanFileExtension& extension, const CStringKeyMap<CDataType*>& types);
void ApplyTypeBindingSection(const CScanFileExtension& extension, CStringKeyMap<CDataType*>& types);

// Applies a section read back to the loaded tables (by their keys; a key no loaded table has
// is passed over). False, logged, with no table changed, when the section does not parse.
bool ReadSchemaSection(const std::string& bytes, CStringKeyMap<CTable*>& tables);

// Both halves of an engine's load: the section applied when the file has it, else the line
// that says what the scan lacks.
void ApplySchemaSection(const CScanFileExtension& extension, CStringKeyMap<CTable*>& tables);

// The "view-indexes" section: per view that has indexes (by key) its owner, its columns (id
// and name) and its indexes (id, name, kind, key columns with their direction, included
// columns), which the first archive form of a view does not keep. Without it (an older file)
// the views load without indexes, which the log says when the scan has views.
constexpr const char* kViewIndexSectionTag = "view-indexes";
void WriteViewIndexSection(CScanFileExtension& extension, const CStringKeyMap<CViewStoredProc*>& views);
void ApplyViewIndexSection(const CScanFileExtension& extension, CStringKeyMap<CViewStoredProc*>& views);
