// Splits a writable, zero-terminated text in place: each token is ended by writing a zero
// over the first byte of the separator that follows it; the byte is put back on the next
// call, on Reset and when the tokenizer is destroyed.
#pragma once

class StrTok {
 public:
  StrTok() = default;
  virtual ~StrTok();
  StrTok(const StrTok&) = delete;
  StrTok& operator=(const StrTok&) = delete;

  // Starts on a new text. The previous text, if any, is restored first, so it must still
  // be alive; callers that free a text early call Reset before.
  char* FirstToken(char* text, const char* separator);
  char* NextToken(const char* separator);
  // Puts the saved byte back and forgets the text.
  void Reset(char* text = nullptr);

  bool m_bDelimitersAsTokens = false;
  bool m_bEmptyTokens = false;
  bool m_bMultiCharDelimiter = false;

 private:
  char* m_pszCurrent = nullptr;
  char m_chSaved = 0;
};
