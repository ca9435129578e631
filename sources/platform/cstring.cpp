#include "cstring.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
inline bool IsSpace(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u == ' ' || (u >= '\t' && u <= '\r');
}
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
}  // namespace

int CString::CompareNoCase(const char* other) const {
  if (!other) other = "";
  size_t i = 0;
  for (;; ++i) {
    unsigned char a = i < m_s.size() ? static_cast<unsigned char>(AsciiLower(m_s[i])) : 0;
    unsigned char b = static_cast<unsigned char>(AsciiLower(other[i]));
    if (i >= m_s.size() && b == 0) return 0;
    if (a != b) return a < b ? -1 : 1;
    if (b == 0) return 1;
  }
}

int CString::Find(char ch, int start) const {
  if (start < 0) start = 0;
  if (size_t(start) >= m_s.size()) return -1;
  size_t r = m_s.find(ch, size_t(start));
  return r == std::string::npos ? -1 : int(r);
}

int CString::Find(const char* sub, int start) const {
  if (!sub) return -1;
  if (start < 0) start = 0;
  if (size_t(start) > m_s.size()) return -1;
  size_t r = m_s.find(sub, size_t(start));
  return r == std::string::npos ? -1 : int(r);
}

int CString::ReverseFind(char ch) const {
  size_t r = m_s.rfind(ch);
  return r == std::string::npos ? -1 : int(r);
}

CString CString::Left(int count) const {
  if (count <= 0) return CString();
  return CString(m_s.substr(0, size_t(count)));
}

CString CString::Right(int count) const {
  if (count <= 0) return CString();
  if (size_t(count) >= m_s.size()) return *this;
  return CString(m_s.substr(m_s.size() - size_t(count)));
}

CString CString::Mid(int first) const {
  if (first < 0) first = 0;
  if (size_t(first) >= m_s.size()) return CString();
  return CString(m_s.substr(size_t(first)));
}

CString CString::Mid(int first, int count) const {
  if (first < 0) first = 0;
  if (count <= 0 || size_t(first) >= m_s.size()) return CString();
  return CString(m_s.substr(size_t(first), size_t(count)));
}

CString& CString::MakeUpper() {
  for (char& c : m_s) c = AsciiUpper(c);
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : m_s) c = AsciiLower(c);
  return *this;
}

CString& CString::TrimLeft() {
  size_t i = 0;
  while (i < m_s.size() && IsSpace(m_s[i])) ++i;
  m_s.erase(0, i);
  return *this;
}

CString& CString::TrimRight() {
  size_t n = m_s.size();
  while (n > 0 && IsSpace(m_s[n - 1])) --n;
  m_s.resize(n);
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }

CString& CString::TrimRight(char ch) {
  size_t n = m_s.size();
  while (n > 0 && m_s[n - 1] == ch) --n;
  m_s.resize(n);
  return *this;
}

CString& CString::TrimRight(const char* set) {
  if (!set) return *this;
  size_t n = m_s.size();
  while (n > 0 && std::strchr(set, m_s[n - 1]) && m_s[n - 1] != '\0') --n;
  m_s.resize(n);
  return *this;
}

CString& CString::TrimLeft(const char* set) {
  if (!set) return *this;
  size_t i = 0;
  while (i < m_s.size() && m_s[i] != '\0' && std::strchr(set, m_s[i])) ++i;
  m_s.erase(0, i);
  return *this;
}

int CString::Replace(char from, char to) {
  int n = 0;
  for (char& c : m_s) {
    if (c == from) {
      c = to;
      ++n;
    }
  }
  return n;
}

int CString::Replace(const char* from, const char* to) {
  if (!from || !*from) return 0;
  if (!to) to = "";
  const size_t fl = std::strlen(from), tl = std::strlen(to);
  int n = 0;
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t hit = m_s.find(from, pos);
    if (hit == std::string::npos) break;
    out.append(m_s, pos, hit - pos);
    out.append(to, tl);
    pos = hit + fl;
    ++n;
  }
  if (n) {
    out.append(m_s, pos, std::string::npos);
    m_s.swap(out);
  }
  return n;
}

char* CString::GetBuffer(int minLength) {
  if (minLength > 0 && size_t(minLength) > m_s.size()) m_s.resize(size_t(minLength));
  return m_s.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) {
    m_s.resize(std::strlen(m_s.c_str()));
  } else if (size_t(newLength) <= m_s.size()) {
    m_s.resize(size_t(newLength));
  }
}

void CString::FormatArgs(const char* format, const FormatArg* args, size_t count) {
  std::string out;
  if (!format) {
    m_s.clear();
    return;
  }
  size_t next = 0;
  auto take = [&]() -> const FormatArg* { return next < count ? &args[next++] : nullptr; };
  auto asSigned = [](const FormatArg* a) -> long long {
    if (!a) return 0;
    switch (a->kind) {
      case FormatArg::Signed: return a->i;
      case FormatArg::Unsigned: return static_cast<long long>(a->u);
      case FormatArg::Real: return static_cast<long long>(a->d);
      default: return 0;
    }
  };
  char buf[512];
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    std::string spec = "%";
    while (*p && std::strchr("-+ #0", *p)) spec += *p++;
    if (*p == '*') {
      spec += std::to_string(int(asSigned(take())));
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') spec += *p++;
    }
    if (*p == '.') {
      spec += *p++;
      if (*p == '*') {
        spec += std::to_string(int(asSigned(take())));
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') spec += *p++;
      }
    }
    // Length: h hh l ll I64 I32 L z j t.
    int width = 32;  // bits of the integer argument
    if (p[0] == 'h' && p[1] == 'h') { width = 8; p += 2; }
    else if (*p == 'h') { width = 16; ++p; }
    else if (p[0] == 'l' && p[1] == 'l') { width = 64; p += 2; }
    else if (*p == 'l') { width = 32; ++p; }
    else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') { width = 64; p += 3; }
    else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') { width = 32; p += 3; }
    else if (*p == 'z' || *p == 'j' || *p == 't') { width = 64; ++p; }
    else if (*p == 'L') { ++p; }
    char conv = *p;
    if (!conv) {
      out.append(start);
      break;
    }
    ++p;
    const FormatArg* a = nullptr;
    int n = 0;
    // A conversion without an argument prints nothing rather than inventing a value.
    if (std::strchr("diuxXocfFeEgGaAsp", conv) && next >= count) continue;
    switch (conv) {
      case 'd':
      case 'i': {
        a = take();
        long long v = asSigned(a);
        if (width == 8) v = static_cast<signed char>(v);
        else if (width == 16) v = static_cast<short>(v);
        else if (width == 32) v = static_cast<std::int32_t>(v);
        n = std::snprintf(buf, sizeof buf, (spec + "lld").c_str(), v);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        a = take();
        unsigned long long v = static_cast<unsigned long long>(asSigned(a));
        if (a && a->kind == FormatArg::Unsigned) v = a->u;
        if (width == 8) v = static_cast<unsigned char>(v);
        else if (width == 16) v = static_cast<unsigned short>(v);
        else if (width == 32) v = static_cast<std::uint32_t>(v);
        n = std::snprintf(buf, sizeof buf, (spec + "ll" + conv).c_str(), v);
        break;
      }
      case 'c': {
        a = take();
        n = std::snprintf(buf, sizeof buf, (spec + "c").c_str(), int(static_cast<char>(asSigned(a))));
        break;
      }
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
        a = take();
        double v = a ? (a->kind == FormatArg::Real ? a->d : double(asSigned(a))) : 0.0;
        n = std::snprintf(buf, sizeof buf, (spec + conv).c_str(), v);
        break;
      }
      case 's': {
        a = take();
        const char* s = (a && a->kind == FormatArg::Text) ? (a->s ? a->s : "(null)") : "";
        // Long texts bypass the fixed buffer.
        std::string sp = spec + "s";
        int len = std::snprintf(nullptr, 0, sp.c_str(), s);
        if (len > 0) {
          std::string tmp(size_t(len) + 1, '\0');
          std::snprintf(tmp.data(), tmp.size(), sp.c_str(), s);
          tmp.resize(size_t(len));
          out += tmp;
        }
        continue;
      }
      case 'p': {
        a = take();
        n = std::snprintf(buf, sizeof buf, "%p", a ? a->p : nullptr);
        break;
      }
      default:
        out.append(start, size_t(p - start));
        continue;
    }
    if (n > 0) out.append(buf, std::min<size_t>(size_t(n), sizeof buf - 1));
  }
  m_s.swap(out);
}

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | cp >> 6);
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | cp >> 12);
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | cp >> 18);
    out += char(0x80 | (cp >> 12 & 0x3F));
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

long NextUtf8(std::string_view s, size_t& at) {
  const unsigned char b = static_cast<unsigned char>(s[at]);
  int more = 0;
  unsigned cp = 0;
  unsigned least = 0;
  if (b < 0x80) {
    ++at;
    return b;
  }
  if ((b & 0xE0) == 0xC0) {
    more = 1;
    cp = b & 0x1F;
    least = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    more = 2;
    cp = b & 0x0F;
    least = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    more = 3;
    cp = b & 0x07;
    least = 0x10000;
  } else {
    ++at;
    return -1;
  }
  if (at + size_t(more) >= s.size()) {
    ++at;
    return -1;
  }
  for (int i = 1; i <= more; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[at + size_t(i)]);
    if ((c & 0xC0) != 0x80) {
      ++at;
      return -1;
    }
    cp = cp << 6 | (c & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++at;
    return -1;
  }
  at += size_t(more) + 1;
  return long(cp);
}

std::u16string WidenUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    const long read = NextUtf8(utf8, at);
    unsigned cp = read < 0 ? static_cast<unsigned char>(utf8[start]) : unsigned(read);
    if (cp < 0x10000) {
      out += char16_t(cp);
    } else {
      cp -= 0x10000;
      out += char16_t(0xD800 | cp >> 10);
      out += char16_t(0xDC00 | (cp & 0x3FF));
    }
  }
  return out;
}

std::string NarrowUtf16(const char16_t* units, size_t count, bool* clean) {
  std::string out;
  out.reserve(count);
  bool whole = true;
  for (size_t i = 0; i < count; ++i) {
    const unsigned u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unsigned(units[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      whole = false;
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  if (clean) *clean = whole;
  return out;
}
