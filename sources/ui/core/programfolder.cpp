#include "programfolder.h"

#include "platform/module.h"

namespace {
std::string FileUnder(std::string folder, std::string_view name) {
  if (folder.empty()) return folder;
  if (folder.back() != '/') folder += '/';
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  return folder.append(name);
}
}  // namespace

std::string ProgramFolder() { return GetModuleFolderPath(); }

std::string ProgramFile(std::string_view name) { return FileUnder(ProgramFolder(), name); }

std::string StateFolder() { return GetStateFolderPath(); }

std::string StateFile(std::string_view name) { return FileUnder(StateFolder(), name); }
