#include "common/unicodetext.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

namespace {

bool IsControl(unsigned cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

std::string Utf16ToUtf8(ByteView utf16, bool* clean) {
  std::u16string units(utf16.size() / 2, u'\0');
  const BYTE* p = utf16.data();
  for (size_t i = 0; i < units.size(); ++i) units[i] = char16_t(p[2 * i] | p[2 * i + 1] << 8);
  return NarrowUtf16(units.data(), units.size(), clean);
}

std::string Utf8ToUtf16(std::string_view utf8) {
  const std::u16string units = WidenUtf8(utf8);
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t u : units) {
    out += char(u & 0xFF);
    out += char(u >> 8);
  }
  return out;
}

bool DecodeStoredName(ByteView utf16, CString& name) {
  bool clean = true;
  std::string text = Utf16ToUtf8(utf16, &clean);
  for (size_t i = 0; clean && i + 1 < utf16.size(); i += 2)
    if (IsControl(unsigned(utf16.data()[i] | utf16.data()[i + 1] << 8))) clean = false;
  name = CString(std::move(text));
  return clean;
}

std::string DefinitionTextToUtf8(ByteView bytes) {
  const BYTE* data = bytes.data();
  const size_t size = bytes.size();
  bool utf16 = size % 2 == 0;
  if (utf16) {
    utf16 = false;
    for (size_t i = 1; i < size; i += 2)
      if (data[i] == 0) {
        utf16 = true;
        break;
      }
  }
  if (!utf16) {
    std::string kept;
    for (size_t i = 0; i < size; ++i)
      if (data[i]) kept += char(data[i]);
    return CodePageToUtf8(ByteView(reinterpret_cast<const BYTE*>(kept.data()), kept.size()), 1252);
  }
  std::string text = Utf16ToUtf8(bytes);
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text;
}

std::string ValidUtf8(std::string_view text) {
  if (IsAsciiText(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    const long cp = NextUtf8(text, at);
    if (cp < 0) AppendUtf8(out, static_cast<unsigned char>(text[start]));
    else out.append(text.substr(start, at - start));
  }
  return out;
}

std::string WindowsFileName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t at = 0; at < name.size();) {
    const size_t start = at;
    const long cp = NextUtf8(name, at);
    if (cp < 0) {
      // A byte that is no UTF-8 stands for the Latin-1 letter it would be.
      const unsigned char b = static_cast<unsigned char>(name[start]);
      if (!IsControl(b)) AppendUtf8(out, b);
      continue;
    }
    const bool forbidden = cp < 0x80 && std::string_view("\\/:*?\"<>|").find(char(cp)) != std::string_view::npos;
    if (IsControl(unsigned(cp)) || forbidden) continue;
    out.append(name.substr(start, at - start));
  }
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  // Devices keep their names whatever extension follows: "CON.sql" is the console.
  std::string stem = out.substr(0, out.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = char(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  bool device = std::find_if(std::begin(kDevices), std::end(kDevices),
                             [&](const char* d) { return stem == d; }) != std::end(kDevices);
  device = device || (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
                      stem[3] >= '1' && stem[3] <= '9');
  if (device) out.insert(stem.size(), "_");
  return out;
}

std::string FoldedCase(std::string_view utf8) {
  static const locale_t kUtf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
  std::string out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    const long cp = NextUtf8(utf8, at);
    if (cp < 0) {
      out += utf8[start];
    } else if (cp < 0x80) {
      out += char(std::tolower(int(cp)));
    } else {
      AppendUtf8(out, kUtf8 ? unsigned(towlower_l(wint_t(cp), kUtf8)) : unsigned(cp));
    }
  }
  return out;
}

std::string HexOfBytes(ByteView bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += kDigits[bytes.data()[i] >> 4];
    out += kDigits[bytes.data()[i] & 15];
  }
  return out;
}

bool IsAsciiText(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

namespace {

// Code pages of one byte per character decode through a table made once from iconv; the
// others through iconv itself, one converter per code page, used under a lock: the East Asian
// ones have two-byte characters, and 1255 and 1258 combine a letter with the accent after it.
struct Converter {
  iconv_t handle = iconv_t(-1);
  bool singleByte = false;
  std::string table[256];
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() {
    if (handle != iconv_t(-1)) iconv_close(handle);
  }
};

std::mutex& ConverterLock() {
  static std::mutex lock;
  return lock;
}

bool NeedsStream(unsigned codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 || codePage == 1255 ||
         codePage == 1258;
}

Converter* ConverterFor(unsigned codePage) {
  static std::map<unsigned, std::unique_ptr<Converter>> converters;
  auto found = converters.find(codePage);
  if (found != converters.end()) return found->second.get();
  auto made = std::make_unique<Converter>();
  const std::string name = "CP" + std::to_string(codePage);
  made->handle = iconv_open("UTF-8", name.c_str());
  if (made->handle == iconv_t(-1)) {
    converters[codePage] = nullptr;
    return nullptr;
  }
  if (!NeedsStream(codePage)) {
    made->singleByte = true;
    for (unsigned b = 0; b < 256; ++b) {
      char in = char(b);
      char out[8];
      char* inAt = &in;
      size_t inLeft = 1;
      char* outAt = out;
      size_t outLeft = sizeof out;
      iconv(made->handle, nullptr, nullptr, nullptr, nullptr);
      if (iconv(made->handle, &inAt, &inLeft, &outAt, &outLeft) == size_t(-1) || inLeft != 0)
        made->table[b] = "\xEF\xBF\xBD";
      else
        made->table[b].assign(out, size_t(outAt - out));
    }
  }
  Converter* result = made.get();
  converters[codePage] = std::move(made);
  return result;
}

}  // namespace

std::string CodePageToUtf8(ByteView bytes, unsigned codePage) {
  std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (IsAsciiText(text)) return text;
  std::lock_guard<std::mutex> hold(ConverterLock());
  Converter* converter = ConverterFor(codePage);
  if (!converter) converter = ConverterFor(1252);
  if (!converter) return text;
  std::string out;
  if (converter->singleByte) {
    for (char c : text) out += converter->table[static_cast<unsigned char>(c)];
    return out;
  }
  iconv(converter->handle, nullptr, nullptr, nullptr, nullptr);
  char* inAt = text.data();
  size_t inLeft = text.size();
  char buffer[4096];
  // Gives out the letter a combining code page still holds, waiting for an accent.
  auto flush = [&] {
    char* outAt = buffer;
    size_t outLeft = sizeof buffer;
    iconv(converter->handle, nullptr, nullptr, &outAt, &outLeft);
    out.append(buffer, size_t(outAt - buffer));
  };
  while (inLeft > 0) {
    char* outAt = buffer;
    size_t outLeft = sizeof buffer;
    const size_t done = iconv(converter->handle, &inAt, &inLeft, &outAt, &outLeft);
    out.append(buffer, size_t(outAt - buffer));
    if (done != size_t(-1)) break;
    if (errno == E2BIG) continue;
    // A byte the code page does not define, or a sequence cut off at the end: one
    // replacement character, then on with the next byte.
    flush();
    out += "\xEF\xBF\xBD";
    ++inAt;
    --inLeft;
  }
  flush();
  return out;
}

namespace {

// SQL collations carry the sort order in the top byte of the id; each range of sort orders
// shares one code page.
unsigned CodePageOfSortOrder(unsigned sortId) {
  static const struct {
    unsigned first, last, codePage;
  } kRanges[] = {
      {30, 34, 437},   {40, 49, 850},   {50, 61, 1252},  {71, 75, 1252},  {80, 98, 1250},
      {104, 108, 1251}, {112, 124, 1253}, {128, 130, 1254}, {136, 138, 1255}, {144, 146, 1256},
      {152, 160, 1257}, {183, 186, 1252}, {192, 193, 932},  {194, 195, 949},  {196, 197, 950},
      {198, 199, 936},  {200, 200, 932},  {210, 217, 1252},
  };
  for (const auto& r : kRanges)
    if (sortId >= r.first && sortId <= r.last) return r.codePage;
  return 1252;
}

// Windows collations carry, in their low 12 bits, the primary language of their locale less
// one (Greek_CI_AS 0xD007, Latin1_General_CI_AS 0xD008, French_CI_AS 0xD00B); the code page
// is that language's ANSI code page. Languages Windows writes only in Unicode give 0.
unsigned CodePageOfLanguage(unsigned language) {
  switch (language) {
    case 0x01: case 0x20: case 0x29: return 1256;                       // Arabic, Urdu, Farsi
    case 0x02: case 0x19: case 0x22: case 0x23: case 0x28: case 0x2F:   // Cyrillic
    case 0x3F: case 0x44: return 1251;
    case 0x04: return 936;
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1A: case 0x1B:   // Central European
    case 0x1C: case 0x24: return 1250;
    case 0x08: return 1253;
    case 0x0D: return 1255;
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x1E: return 874;
    case 0x1F: case 0x2C: case 0x43: return 1254;
    case 0x25: case 0x26: case 0x27: return 1257;
    case 0x2A: return 1258;
    case 0x2B: case 0x37: case 0x39: case 0x4E: case 0x4F: return 0;  // Unicode-only locales
    default: return 1252;
  }
}

}  // namespace

unsigned CodePageOfCollation(DWORD collationId) {
  if (collationId == 0) return 0;
  const unsigned sortId = collationId >> 24;
  if (sortId != 0) return CodePageOfSortOrder(sortId);
  return CodePageOfLanguage((collationId & 0xFFF) + 1);
}
