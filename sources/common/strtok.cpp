#include "strtok.h"

#include <cstring>

StrTok::~StrTok() { Reset(); }

void StrTok::Reset(char* text) {
  if (m_pszCurrent && m_chSaved) *m_pszCurrent = m_chSaved;
  m_chSaved = 0;
  m_pszCurrent = text;
}

char* StrTok::FirstToken(char* text, const char* separator) {
  // The saved byte belongs to the previous text, which the caller may have freed or reused
  // by now: it is dropped, never written back.
  m_chSaved = 0;
  m_pszCurrent = text;
  return NextToken(separator);
}

char* StrTok::NextToken(const char* separator) {
  if (!m_pszCurrent) return nullptr;
  const bool hadSaved = m_chSaved != 0;
  if (hadSaved) {
    *m_pszCurrent = m_chSaved;
    m_chSaved = 0;
  }
  char* token = m_pszCurrent;
  const size_t len = separator ? std::strlen(separator) : 0;
  if (len == 0) {
    // No separator: the rest of the text is one token.
    m_pszCurrent = nullptr;
    return *token || m_bEmptyTokens ? token : nullptr;
  }
  char* pos = nullptr;
  if (m_bDelimitersAsTokens) {
    if (m_bMultiCharDelimiter) {
      if (std::strncmp(token, separator, len) == 0) pos = token + len;
      else pos = std::strstr(token, separator);
    } else {
      if (*token && std::strchr(separator, *token)) pos = token + 1;
      else pos = std::strpbrk(token, separator);
    }
  } else if (m_bMultiCharDelimiter) {
    while (std::strncmp(token, separator, len) == 0) {
      token += len;
      if (m_bEmptyTokens) break;
    }
    pos = std::strstr(token, separator);
  } else {
    if (!m_bEmptyTokens) {
      while (*token && std::strchr(separator, *token)) ++token;
    } else if (hadSaved && *token && std::strchr(separator, *token)) {
      ++token;
    }
    pos = std::strpbrk(token, separator);
  }
  if (pos && *pos) {
    m_chSaved = *pos;
    *pos = '\0';
    m_pszCurrent = pos;
  } else {
    m_chSaved = 0;
    m_pszCurrent = nullptr;
  }
  if (*token == '\0' && !m_bEmptyTokens) return nullptr;
  return token;
}
