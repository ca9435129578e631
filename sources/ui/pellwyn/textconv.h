// The two text worlds of the program. Engine texts (names, definitions, values, messages)
// are UTF-8, converted once where they are read from the pages. Paths are the file system's
// bytes: shown and taken in the file system's encoding.
#pragma once

#include <QFile>
#include <QString>
#include <string>

inline QString FromEngineText(const std::string& text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

inline std::string ToEngineText(const QString& text) { return text.toUtf8().toStdString(); }

inline QString FromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

inline std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
