// Sections of the scan file's extension (scanextension.h) for facts of a scan that the
// catalog records' first archive form leaves out, written by both engines:
//  - "freed-pages": per table, the pages the allocation map marks free that hold its ghost
//    records, so a reopened scan of a database file recovers the same deleted rows;
//  - "collations": per table, each column's collation id, from which the preview takes the
//    code page of char/varchar/text values;
//  - "catalog-loss": per table, what a cut-off source lost of its catalog, and whether the
//    recovery was stopped before its end, so a reopened scan still marks its tables and still
//    warns before export.
#pragma once

#include "common/records.h"
#include "platform/collections.h"

class CScanFileExtension;

constexpr const char* kFreedPagesSectionTag = "freed-pages";
constexpr const char* kCollationSectionTag = "collations";
constexpr const char* kCatalogLossSectionTag = "catalog-loss";

// What a scan loaded from a file without each section lacks, as the load logs it.
constexpr const char* kFreedPagesSectionMissing =
    "Scan file written before freed pages were kept: its scan recovers no deleted rows from pages the allocation "
    "map marks free";
constexpr const char* kCollationSectionMissing =
    "Scan file written before column collations were kept: its previews show char, varchar and text values in "
    "the default code page";
constexpr const char* kCatalogLossSectionMissing =
    "Scan file written before incomplete catalogs were kept: its tables carry no marks of a cut-off source and a "
    "stopped recovery is not told apart";

// Writes the three sections; stopped says the recovery ended before its end.
void WriteScanFactSections(CScanFileExtension& extension, const CStringKeyMap<CTable*>& tables, bool stopped);

// Applies the sections read back to the loaded tables (by their keys; a key no loaded table
// has is passed over). A section absent is logged as what the scan lacks; one that does not
// parse is logged and leaves the tables as without it. Returns whether the saved recovery was
// stopped before its end (false when the file does not say).
bool ApplyScanFactSections(const CScanFileExtension& extension, CStringKeyMap<CTable*>& tables);
