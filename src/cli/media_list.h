// The files that the PATH arguments stand for, in the order the window's
// "Add media folder" / "Add media file" would list them.
#pragma once

#include <string>
#include <vector>

namespace velotag::cli {

// A folder gives its MP3 files (one level, or with recursive the whole tree
// level by level); a file is taken as it is.
std::vector<std::string> ExpandMediaPaths(const std::vector<std::string>& paths, bool recursive);

}  // namespace velotag::cli
