// Splits a writable, zero-terminated text in place: each token is ended by writing a zero
// over the first byte of the separator that follows it; the byte is put back on the next
// call, on Reset and when the tokenizer is destroyed (so a text must outlive a tokenizer
// that stopped in it, or be released with Reset first).
#pragma once

class StrTok {
 public:
  StrTok() = default;
  virtual ~StrTok();
  StrTok(const StrTok&) = delete;
  StrTok& operator=(const StrTok&) = delete;

  // Starts on a new text. The previous text is never touched again: a walk that ran to its
  // end left it whole, and one that stopped early leaves its last separator cut unless the
  // caller called Reset while that text was still alive.
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
