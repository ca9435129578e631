// CString: the 8-bit text type every engine and the program use.
// A thin value type over std::string with the operations the engines call.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class CString {
 public:
  CString() = default;
  CString(const char* text) : m_s(text ? text : "") {}  // NOLINT: implicit by design
  CString(const char* text, int length) : m_s(text ? std::string(text, length > 0 ? size_t(length) : 0) : std::string()) {}
  CString(const std::string& s) : m_s(s) {}  // NOLINT
  CString(std::string&& s) : m_s(std::move(s)) {}  // NOLINT
  CString(std::string_view s) : m_s(s) {}  // NOLINT
  CString(char ch, int repeat = 1) : m_s(repeat > 0 ? size_t(repeat) : 0, ch) {}

  // Text access.
  operator const char*() const { return m_s.c_str(); }  // NOLINT: implicit like LPCSTR
  const char* c_str() const { return m_s.c_str(); }
  const std::string& str() const { return m_s; }
  std::string& str() { return m_s; }
  std::string_view view() const { return m_s; }

  int GetLength() const { return int(m_s.size()); }
  bool IsEmpty() const { return m_s.empty(); }
  void Empty() { m_s.clear(); }
  char GetAt(int i) const { return (i >= 0 && i < GetLength()) ? m_s[size_t(i)] : '\0'; }
  void SetAt(int i, char ch) { if (i >= 0 && i < GetLength()) m_s[size_t(i)] = ch; }

  CString& operator=(const char* text) { m_s = text ? text : ""; return *this; }
  CString& operator=(const std::string& s) { m_s = s; return *this; }
  CString& operator=(char ch) { m_s.assign(1, ch); return *this; }
  CString& operator+=(const CString& s) { m_s += s.m_s; return *this; }
  CString& operator+=(const char* s) { if (s) m_s += s; return *this; }
  CString& operator+=(char ch) { m_s += ch; return *this; }
  void Append(const char* data, int length) { if (data && length > 0) m_s.append(data, size_t(length)); }

  friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
  friend CString operator+(const CString& a, const char* b) { CString r(a); r += b; return r; }
  friend CString operator+(const char* a, const CString& b) { CString r(a); r += b; return r; }
  friend CString operator+(const CString& a, char b) { CString r(a); r += b; return r; }

  friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
  friend bool operator==(const CString& a, const char* b) { return a.m_s == (b ? b : ""); }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  friend bool operator<(const CString& a, const CString& b) { return a.m_s < b.m_s; }

  int Compare(const char* other) const { return m_s.compare(other ? other : ""); }
  // ASCII case-insensitive comparison; bytes >= 0x80 compare as they are.
  int CompareNoCase(const char* other) const;

  int Find(char ch, int start = 0) const;
  int Find(const char* sub, int start = 0) const;
  int ReverseFind(char ch) const;
  CString Left(int count) const;
  CString Right(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;

  CString& MakeUpper();
  CString& MakeLower();
  // Whitespace trimming classifies bytes as unsigned, so names with bytes >= 0x80 are safe.
  CString& Trim();
  CString& TrimLeft();
  CString& TrimRight();
  CString& TrimRight(char ch);
  CString& TrimRight(const char* set);
  CString& TrimLeft(const char* set);
  int Replace(char from, char to);
  int Replace(const char* from, const char* to);

  // printf-style formatting with the widths the engines were written for:
  // "%d", "%u", "%x", "%ld", "%lu", "%lx" take 32-bit values and "%hd" 16-bit values on
  // every host; "%I64d", "%I64u", "%I64x", "%lld" and "%llu" take 64-bit values. Arguments
  // are captured by type, so a CString can be given to "%s" directly and a missing
  // argument prints nothing instead of reading garbage.
  template <class... A>
  void Format(const char* format, const A&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg()};
    FormatArgs(format, list, sizeof...(A));
  }
  template <class... A>
  void AppendFormat(const char* format, const A&... args) {
    CString tail;
    tail.Format(format, args...);
    m_s += tail.m_s;
  }

  struct FormatArg {
    enum Kind { None, Signed, Unsigned, Real, Text, Pointer } kind = None;
    long long i = 0;
    unsigned long long u = 0;
    double d = 0;
    const char* s = nullptr;
    const void* p = nullptr;
    FormatArg() = default;
    FormatArg(bool v) : kind(Signed), i(v) {}
    FormatArg(char v) : kind(Signed), i(v) {}
    FormatArg(signed char v) : kind(Signed), i(v) {}
    FormatArg(unsigned char v) : kind(Unsigned), u(v) {}
    FormatArg(short v) : kind(Signed), i(v) {}
    FormatArg(unsigned short v) : kind(Unsigned), u(v) {}
    FormatArg(int v) : kind(Signed), i(v) {}
    FormatArg(unsigned v) : kind(Unsigned), u(v) {}
    FormatArg(long v) : kind(Signed), i(v) {}
    FormatArg(unsigned long v) : kind(Unsigned), u(v) {}
    FormatArg(long long v) : kind(Signed), i(v) {}
    FormatArg(unsigned long long v) : kind(Unsigned), u(v) {}
    FormatArg(float v) : kind(Real), d(v) {}
    FormatArg(double v) : kind(Real), d(v) {}
    FormatArg(const char* v) : kind(Text), s(v) {}
    FormatArg(char* v) : kind(Text), s(v) {}
    FormatArg(const CString& v) : kind(Text), s(v.c_str()) {}
    FormatArg(const std::string& v) : kind(Text), s(v.c_str()) {}
    FormatArg(const void* v) : kind(Pointer), p(v) {}
    template <size_t N>
    FormatArg(const char (&v)[N]) : kind(Text), s(v) {}
  };
  void FormatArgs(const char* format, const FormatArg* args, size_t count);

  // Writable buffer of at least minLength bytes (plus terminator); ReleaseBuffer trims at the
  // first zero byte (or at newLength when given).
  char* GetBuffer(int minLength = 0);
  void ReleaseBuffer(int newLength = -1);

 private:
  std::string m_s;
};

// Formats into a new string (convenience for keys and log lines).
template <class... A>
CString FormatString(const char* format, const A&... args) {
  CString s;
  s.Format(format, args...);
  return s;
}

struct CStringLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return a < b; }
};

// UTF-8 and UTF-16 code units, the few steps every layer needs (common/unicodetext.h builds
// the program's text rules on them).
// Appends code point `cp` as UTF-8.
void AppendUtf8(std::string& out, unsigned cp);
// The code point of UTF-8 at `at`, or -1 when the bytes there are no UTF-8 sequence (overlong
// forms and surrogates included); `at` moves past what was read (one byte for -1).
long NextUtf8(std::string_view text, size_t& at);
// UTF-8 as UTF-16 units; a byte that is no UTF-8 is taken as the Latin-1 letter it would be.
std::u16string WidenUtf8(std::string_view utf8);
// UTF-16 units as UTF-8; a lone surrogate becomes U+FFFD and clears *clean (when given).
std::string NarrowUtf16(const char16_t* units, size_t count, bool* clean = nullptr);
