// backup-wrap: writes a backup of the 2000 format for manual checks with engine-driver: real
// 2000 database files inside the tape framing of a real 2005-2008 backup.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/backupwrap.h"

namespace {
std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: backup-wrap BACKUP OUT.bak DATAFILE [DATAFILE...]\n"
                 "  the i-th data stream of BACKUP is replaced by the pages of the i-th DATAFILE\n";
    return 2;
  }
  std::vector<std::string> images;
  for (int i = 3; i < argc; ++i) images.push_back(ReadAll(argv[i]));
  std::string out, error;
  if (!testsupport::WrapPagesInBackup(ReadAll(argv[1]), images, out, &error)) {
    std::cerr << "backup-wrap: " << error << "\n";
    return 1;
  }
  std::ofstream file(argv[2], std::ios::binary);
  file.write(out.data(), std::streamsize(out.size()));
  if (!file) {
    std::cerr << "backup-wrap: " << argv[2] << " could not be written\n";
    return 1;
  }
  std::cout << "wrote " << argv[2] << " (" << out.size() << " bytes, " << images.size() << " sets replaced)\n";
  return 0;
}
