// Test backups of the 2000 format. No real SQL Server 2000 backup is at hand, so real 2000
// pages are put inside the tape framing of a real 2005-2008 backup: the i-th SQL data stream
// of the backup is replaced by the i-th page image, its stream header rewritten for the new
// length (and checksum), everything else kept byte for byte.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// `images` are whole database files (multiples of 8192 bytes); streams beyond them stay as
// they are. False, with the reason in *error, when the backup has fewer data streams than
// images or an image is not whole pages.
bool WrapPagesInBackup(const std::string& backup, const std::vector<std::string>& images, std::string& out,
                       std::string* error = nullptr);

}  // namespace testsupport
