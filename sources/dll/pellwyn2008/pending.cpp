// Operations whose stages are not built yet: they do nothing, so the engine links and the
// program's calls are harmless. Each is replaced by its own source file as it is built.
#include "pellwyn2008.h"

void CSQLServer2008::GetTableRecord(BYTE*, WORD, CTable*) {}
WORD CSQLServer2008::ExportTableRecord(BYTE*, WORD, CTable*, CDatabase*, CString*, bool*) { return 0; }
void CSQLServer2008::StartRecoverTableRecordThread() {}
void CSQLServer2008::GenerateUserDataTypeQueries() {}
void CSQLServer2008::GenerateTableQueries(CTable*) {}
void CSQLServer2008::GenerateTableQueries(CTable*, CDatabase*) {}
void CSQLServer2008::GenerateViewQueries(CViewStoredProc*) {}
void CSQLServer2008::GenerateStoredProcQueries(CViewStoredProc*) {}
void CSQLServer2008::GenerateRulesQueries(CViewStoredProc*) {}
void CSQLServer2008::GenerateTriggerQueries(CViewStoredProc*) {}
void CSQLServer2008::GenerateFunctionQueries(CViewStoredProc*) {}
DWORD CSQLServer2008::RecoverTableRecordThread(void*) { return 0; }
DWORD CSQLServer2008::RecoverTableRecordThread(void*, CTable*, CDatabase*) { return 0; }

// Catalog stages.
