// The scan file's extension: sections written after the layout every reader knows, so a scan
// file can keep what the first layout had no place for while files and readers of that
// layout go on working.
//
// Contract (every engine's scan file, every feature that adds a section):
//  - Where: right after the last section of the engine's own layout, up to the end of the
//    file. A file that ends where that layout ends has no extension; every section is then
//    absent, and its reader must say (log) what the loaded scan lacks for it.
//  - Frame: CString "tarnwell-ext"; DWORD frame version (kScanExtensionVersion); DWORD section
//    count; per section a CString tag, a DWORD byte count and that many bytes. Primitives are
//    the archive's (little-endian; CString with its length prefix).
//  - Tags: short ASCII names, one per feature and content ("schema", "freed-pages"). A tag's
//    content never changes meaning: a feature that needs another form writes another tag (or
//    adds fields at the end of its own, which older readers of the tag leave unread).
//  - Reading: sections are found by tag, in any order; an unknown tag is skipped. A section
//    whose bytes do not parse is logged and ignored as a whole by its feature, which then
//    behaves as for a file without it. A cut or damaged frame (bytes after the layout that
//    are no extension, a count or length beyond the file's end) refuses the file as a whole,
//    as a cut inside the layout does: a scan loaded in part would export less and not say so.
//  - Readers of the first layout stop after their last section and never see the extension.
//
// A feature fills its section through ScanExtensionWriter and reads it back through
// ScanExtensionReader, which never reads past its section and reports failure through ok()
// instead of throwing.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/cstring.h"
#include "platform/types.h"

class CArchive;

constexpr DWORD kScanExtensionVersion = 1;
constexpr const char* kScanExtensionMarker = "tarnwell-ext";

class ScanExtensionWriter {
 public:
  ScanExtensionWriter& U8(BYTE v);
  ScanExtensionWriter& U16(WORD v);
  ScanExtensionWriter& U32(DWORD v);
  ScanExtensionWriter& I32(int v) { return U32(DWORD(v)); }
  ScanExtensionWriter& I64(INT64 v);
  ScanExtensionWriter& Flag(bool v) { return U8(v ? 1 : 0); }
  // A count: as DWORD.
  ScanExtensionWriter& Count(size_t n) { return U32(DWORD(n)); }
  // A length-prefixed text in the archive's form.
  ScanExtensionWriter& Text(const CString& s);
  const std::string& Bytes() const { return m_bytes; }

 private:
  std::string m_bytes;
};

class ScanExtensionReader {
 public:
  explicit ScanExtensionReader(const std::string& bytes) : m_bytes(bytes) {}
  BYTE U8();
  WORD U16();
  DWORD U32();
  int I32() { return int(U32()); }
  INT64 I64();
  bool Flag() { return U8() != 0; }
  // A count whose items (each at least minItemBytes) fit in what is left; 0 and a failed
  // reader otherwise.
  size_t Count(size_t minItemBytes);
  CString Text();
  // False once any read went past the section or met a malformed field.
  bool ok() const { return m_ok; }
  bool AtEnd() const { return m_pos >= m_bytes.size(); }

 private:
  bool Take(size_t n, const char** at);
  const std::string& m_bytes;
  size_t m_pos = 0;
  bool m_ok = true;
};

class CScanFileExtension {
 public:
  // A new section to fill; a second Add of one tag replaces the first.
  ScanExtensionWriter& Add(const std::string& tag);
  // Writes the frame and every section (raises the archive's exceptions).
  void Write(CArchive& ar) const;
  // Reads the extension that begins at the archive's position. False when the file ends
  // there (no extension); a damaged frame is logged and raises the archive's exception.
  bool Read(CArchive& ar);
  // The bytes of a section read, or null when the file has none of that tag.
  const std::string* Find(const std::string& tag) const;

 private:
  std::vector<std::pair<std::string, ScanExtensionWriter>> m_writers;
  std::map<std::string, std::string> m_sections;
};
