#include "programfolder.h"

#include "platform/module.h"

std::string ProgramFolder() { return GetModuleFolderPath(); }

std::string ProgramFile(std::string_view name) {
  std::string folder = ProgramFolder();
  if (folder.empty()) return folder;
  if (folder.back() != '/') folder += '/';
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  return folder.append(name);
}
