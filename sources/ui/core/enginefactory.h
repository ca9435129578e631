// The program's one way to make an engine: by the version the user chose (1 = 2000,
// 2 = 2005, 3 = 2008) or by the version text a scan file carries ("2000", "2005", "2008").
#pragma once

#include <memory>
#include <string>
#include <string_view>

class CSQLServer;

struct EngineVersion {
  int number;              // 1, 2 or 3
  const char* text;        // "2000", "2005", "2008": the scan file's version text
  const char* label;       // "(SQL Server 2000)": appended to the tree's root and database texts
  const char* formatText;  // "2000 Format": the progress dialog's database version
};

// Null for a number or text that names no version.
const EngineVersion* FindEngineVersion(int number);
const EngineVersion* FindEngineVersion(std::string_view text);

struct CreatedEngine {
  std::unique_ptr<CSQLServer> engine;
  const EngineVersion* version = nullptr;  // set whenever the version is known, engine or not
  std::string refusal;                     // why no engine was made (shown to the user)
  explicit operator bool() const { return engine != nullptr; }
};

// False when this build holds no engine for the version.
bool EngineAvailable(int number);

// A new engine, constructed (status block, events, log banner and format line). No engine,
// with the reason in `refusal`, for an unknown version or one whose library is not built.
CreatedEngine CreateEngine(int number);
CreatedEngine CreateEngine(std::string_view versionText);
