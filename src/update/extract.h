// Unpacking a downloaded archive before the upgrade script is written, so
// that the script only copies files. Nothing from the archive may land
// outside the folder it is unpacked into.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velotag {

struct Extraction {
  bool ok = false;
  std::string error;               // why the archive was refused
  std::vector<std::string> names;  // the entries at the top of the folder, in archive order
};

// The archive's files and folders unpacked into folder (made anew). The
// whole archive is refused, and nothing is left behind, when any entry is
// a link, a device or anything else than a file or folder, has an absolute
// path or a ".." part, or when the files would exceed maxBytes. A download
// that is an executable itself is put into the folder as exeName.
Extraction ExtractUpgradeArchive(const std::string& archive, const std::string& folder,
                                 const std::string& exeName,
                                 std::int64_t maxBytes = std::int64_t{1} << 30);

}  // namespace velotag
