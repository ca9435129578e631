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
