#include "records.h"

CTable::~CTable() {
  for (CColumn* c = m_pColumnHead; c;) {
    CColumn* next = c->m_pNext;
    delete c;
    c = next;
  }
  for (CColumn* c = m_pColumn2Head; c;) {
    CColumn* next = c->m_pNext;
    delete c;
    c = next;
  }
  for (CVarColumn* v = m_pVarHead; v;) {
    CVarColumn* next = v->m_pNext;
    delete v;
    v = next;
  }
  // The table owns its index records.
  for (auto& entry : m_mapTableIndexes) delete entry.second;
  if (m_hBlobFile != kInvalidFile) CloseFileHandle(m_hBlobFile);
}

void CTable::AppendColumn(CColumn* column) {
  if (!column) return;
  column->m_pNext = nullptr;
  if (m_pColumnTail) m_pColumnTail->m_pNext = column;
  else m_pColumnHead = column;
  m_pColumnTail = column;
}

void CTable::AppendVarColumn(CVarColumn* column) {
  if (!column) return;
  column->m_pNext = nullptr;
  if (m_pVarTail) m_pVarTail->m_pNext = column;
  else m_pVarHead = column;
  m_pVarTail = column;
}

void CTable::SetIndex(const CString& key, CIndexInfo* index) {
  CIndexInfo** old = m_mapTableIndexes.Find(key.view());
  if (old) {
    if (*old != index) delete *old;
    *old = index;
  } else {
    m_mapTableIndexes.SetAt(key.view(), index);
  }
}
