#include "media_list.h"

#include "support/paths.h"
#include "support/textenc.h"

namespace velotag::cli {

namespace {

// The window's filter: an extension that occurs in "*.mp3", in any case.
bool Qualifies(const std::string& path) {
  std::string ext = GetExtension(path);
  if (ext.empty()) return false;
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return std::string("*.mp3").find(ext) != std::string::npos;
}

bool IsFolderEntry(const FolderEntry& e) {
  return (e.Attributes & kAttrDirectory) && !(e.Attributes & kAttrLink);
}

// Breadth-first: the folder's files, then those of each first-level
// subfolder in listing order, then the next level.
void ListTree(const std::string& folder, bool recursive, std::vector<std::string>& files) {
  std::vector<std::string> level{WithTrailingSlash(folder)};
  while (!level.empty()) {
    std::vector<std::string> next;
    for (const std::string& dir : level) {
      std::vector<FolderEntry> entries;
      ListFolder(dir, entries);
      for (const FolderEntry& e : entries) {
        if (IsFolderEntry(e)) {
          if (recursive) next.push_back(WithTrailingSlash(e.Name));
        } else if (GetPathType(e.Name) == kPathFile && Qualifies(e.Name)) {
          files.push_back(e.Name);
        }
      }
    }
    level.swap(next);
  }
}

}  // namespace

std::vector<std::string> ExpandMediaPaths(const std::vector<std::string>& paths, bool recursive) {
  std::vector<std::string> files;
  for (const std::string& p : paths) {
    if (GetPathType(p) >= kPathFolder) {
      ListTree(p, recursive, files);
    } else {
      files.push_back(p);
    }
  }
  return files;
}

}  // namespace velotag::cli
