// The two text worlds of the program. Engine texts (names, definitions, values, messages)
// are 8-bit: shown as Latin-1, which keeps every byte and gives it back unchanged. Paths are
// the file system's bytes: shown and taken in the file system's encoding.
#pragma once

#include <QFile>
#include <QString>
#include <string>

inline QString FromEngineText(const std::string& text) {
  return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

inline std::string ToEngineText(const QString& text) { return text.toLatin1().toStdString(); }

inline QString FromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

inline std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
