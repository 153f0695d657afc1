// FilesDirsMod: path splitting, valid and unique file names, path types,
// one-level folder listing, folder creation and deletion.
//
// The separator is "/" and "/" is the only drive root. Folder paths that a
// file name is appended to carry a trailing "/".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/largefile.h"

namespace velotag {

// The longest file name the kernel takes, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

inline constexpr int kPathMissing = 0;
inline constexpr int kPathFile = 1;
inline constexpr int kPathFolder = 2;
inline constexpr int kPathDriveRoot = 3;

struct FolderEntry {
  std::string Name;  // folder + entry name; a folder's name ends in "/"
  Offset64 Size = 0;
  std::string Created;
  int Attributes = 0;  // kAttrDirectory, kAttrReadOnly, kAttrHidden, kAttrLink
  std::string Accessed;
  std::string Modified;
};

// The program folder, with a trailing "/": $VELOTAG_HOME when set, else the
// executable's folder when it is writable, else $XDG_DATA_HOME/velotag/.
std::string GetAppFolder();
int GetPathType(const std::string& path);
bool IsDriveRoot(const std::string& path);
std::string GetFileNamePart(const std::string& path);
std::string GetFolderPart(const std::string& path);
std::string GetBaseName(const std::string& path);
std::string GetExtension(const std::string& path);
// Runs of two or more separators become one.
std::string CollapseBackslashes(const std::string& text);
std::string TrimAtNul(const std::string& text);
std::string MakeValidFileName(const std::string& path);
std::string GetUniqueFileName(const std::string& path);
bool CreatePath(const std::string& path);
bool DeleteTree(const std::string& folder, std::vector<std::string>* log = nullptr);
bool IsComponentAvailable(const std::string& name);

// One folder level, "." and ".." left out, in the file system's order. A
// symbolic link carries kAttrLink; a link to a folder is never marked as a
// folder, so no walk descends through it.
// Without withTimes the three time texts stay empty (a folder scan that
// never shows them saves their cost).
int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries,
               bool withTimes = true);
// The same for walks that open every file anyway: an entry the folder
// itself marks as a regular file or a folder is taken as that, without a
// look at it (a file's Size is then -1 and its read-only bit unknown).
int ListFolderNames(const std::string& folder, std::vector<FolderEntry>& entries);

// "2011.03.07. 09:05:00" in local time.
std::string FormatFileTime(std::int64_t secondsSinceEpoch);

// A file name built from foreign text (tag values, descriptions, titles, URL
// names) that cannot leave the folder it is joined to: "/" becomes "-", NUL
// is dropped, and a leading ".." is defused.
std::string SafeFileNameComponent(const std::string& text);

// The folder with exactly one trailing "/" (unchanged when empty).
std::string WithTrailingSlash(const std::string& folder);

}  // namespace velotag
