#include "support/paths.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace velotag {

namespace {

std::string StripTrailingSlashes(const std::string& path) {
  std::string s = path;
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

bool Exists(const std::string& path) { return GetPathType(path) != kPathMissing; }

std::string ExecutableFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<std::size_t>(n));
  return GetFolderPart(exe);
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

std::int64_t BirthOrModified(const struct statx& sx) {
  if (sx.stx_mask & STATX_BTIME) return sx.stx_btime.tv_sec;
  return sx.stx_mtime.tv_sec;
}

}  // namespace

std::string WithTrailingSlash(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

std::string GetAppFolder() {
  if (const char* home = std::getenv("VELOTAG_HOME"); home && *home)
    return WithTrailingSlash(home);
  // A program run from where it was built or unpacked keeps its files
  // beside it; an installed one (root can write /usr/bin) never writes into
  // the system's folders.
  std::string exeFolder = ExecutableFolder();
  static const char* const kSystemFolders[] = {"/usr/", "/bin/", "/sbin/", "/lib/", "/etc/"};
  bool system = false;
  for (const char* prefix : kSystemFolders) system = system || exeFolder.rfind(prefix, 0) == 0;
  if (!exeFolder.empty() && !system && ::access(exeFolder.c_str(), W_OK) == 0) return exeFolder;
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    data = WithTrailingSlash(xdg);
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    data = WithTrailingSlash(h) + ".local/share/";
  } else {
    data = "/tmp/";
  }
  std::string folder = data + "velotag/";
  CreatePath(folder);
  return folder;
}

int GetPathType(const std::string& path) {
  if (path.empty()) return kPathMissing;
  std::string p = StripTrailingSlashes(path);
  bool root = p.empty();
  if (root) p = "/";
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) {
    // A dangling link still takes the name.
    return ::lstat(p.c_str(), &st) == 0 ? kPathFile : kPathMissing;
  }
  if (S_ISDIR(st.st_mode)) return root ? kPathDriveRoot : kPathFolder;
  return kPathFile;
}

bool IsDriveRoot(const std::string& path) {
  return !path.empty() && StripTrailingSlashes(path).empty();
}

std::string GetFileNamePart(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string GetFolderPart(const std::string& path) {
  std::string collapsed = CollapseBackslashes(path);
  std::size_t slash = collapsed.find_last_of('/');
  return slash == std::string::npos ? std::string() : collapsed.substr(0, slash + 1);
}

std::string GetBaseName(const std::string& path) {
  std::string name = GetFileNamePart(path);
  std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string GetExtension(const std::string& path) {
  std::string name = GetFileNamePart(path);
  std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string CollapseBackslashes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return out;
}

std::string TrimAtNul(const std::string& text) {
  std::size_t nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

std::string MakeValidFileName(const std::string& path) {
  std::string folder = GetFolderPart(path);
  std::string name = GetFileNamePart(path);
  static const std::pair<char, char> kReplace[] = {{'/', '-'}, {':', ';'},  {'*', '+'},
                                                   {'?', '$'}, {'"', '\''}, {'<', '('},
                                                   {'>', ')'}, {'|', '#'}};
  for (auto [from, to] : kReplace)
    for (char& c : name)
      if (c == from) c = to;
  return folder + name;
}

std::string SafeFileNameComponent(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0') continue;
    out.push_back(c == '/' ? '-' : c);
  }
  // "." and ".." name folders, not files; a name starting with ".." is
  // defused the same way so that no reader can take it for a parent step.
  if (out == ".") return "_";
  if (out.rfind("..", 0) == 0) out.replace(0, 2, "__");
  return out;
}

std::string GetUniqueFileName(const std::string& path) {
  if (GetPathType(path) == kPathMissing) return path;
  std::string name = GetFileNamePart(path);
  if (name.empty()) return path;
  std::string folder = WithTrailingSlash(GetFolderPart(path));
  std::string ext = GetExtension(path);
  if (!ext.empty()) ext = "." + ext;
  std::string base = name.substr(0, name.size() - ext.size());
  auto candidate = [&](int n) {
    std::string digits = "00" + std::to_string(n);
    return folder + base + "(" + digits.substr(digits.size() - 3) + ")" + ext;
  };
  int n = 0;
  for (int step : {100, 10, 1}) {
    do {
      n += step;
    } while (n < 1000 && Exists(candidate(n)));
    n -= step;
  }
  if (n + 1 <= 999 && !Exists(candidate(n + 1))) return candidate(n + 1);
  // Past 999 the three-digit label repeats; look for any free label, then
  // go on with longer numbers so that an existing file is never named.
  for (int k = 1; k <= 999; ++k)
    if (!Exists(candidate(k))) return candidate(k);
  for (int k = 1000;; ++k) {
    std::string c = folder + base + "(" + std::to_string(k) + ")" + ext;
    if (!Exists(c)) return c;
  }
}

bool CreatePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  if (GetPathType("/") < kPathFolder) return false;
  std::string current = "/";
  std::size_t pos = 1;
  while (pos < path.size()) {
    std::size_t next = path.find('/', pos);
    std::string segment =
        next == std::string::npos ? path.substr(pos) : path.substr(pos, next - pos + 1);
    pos = next == std::string::npos ? path.size() : next + 1;
    if (segment.empty() || segment == "/") continue;
    current += segment;
    if (GetPathType(current) >= kPathFolder) continue;
    if (::mkdir(StripTrailingSlashes(current).c_str(), 0777) != 0 && errno != EEXIST)
      return false;
    if (GetPathType(current) < kPathFolder) return false;
  }
  return true;
}

bool DeleteTree(const std::string& folder, std::vector<std::string>* log) {
  static const std::string kFailed = "DelAllFiles(Sikertelen törlési művelet): ";
  std::string bare = StripTrailingSlashes(folder);
  struct stat st {};
  if (!bare.empty() && ::lstat(bare.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // A link to a folder is removed itself; what it points to stays.
    if (::unlink(bare.c_str()) == 0) return true;
    if (log) log->push_back(kFailed + folder);
    return false;
  }
  std::string dir = WithTrailingSlash(folder);
  std::vector<FolderEntry> entries;
  ListFolder(dir, entries);
  for (const FolderEntry& e : entries) {
    if ((e.Attributes & kAttrDirectory) && !(e.Attributes & kAttrLink)) {
      DeleteTree(e.Name, log);
    } else if (!FileDelete(e.Name) && log) {
      log->push_back(kFailed + e.Name);
    }
  }
  if (IsDriveRoot(dir)) return true;
  if (::rmdir(bare.c_str()) != 0) {
    if (log) log->push_back(kFailed + dir);
    return false;
  }
  return true;
}

bool IsComponentAvailable(const std::string& name) {
  if (name.empty()) return false;
  void* lib = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (lib == nullptr) return false;
  ::dlclose(lib);
  return true;
}

std::string FormatFileTime(std::int64_t secondsSinceEpoch) {
  std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
  std::tm tm {};
  if (::localtime_r(&t, &tm) == nullptr) return {};
  // Built by hand: a folder of ten thousand files asks for thirty thousand
  // of these, and a formatted print costs more than the whole listing.
  std::string out = std::to_string(tm.tm_year + 1900);
  auto two = [&out](char sep, int v) {
    out.push_back(sep);
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
  };
  two('.', tm.tm_mon + 1);
  two('.', tm.tm_mday);
  out += ". ";
  out.push_back(static_cast<char>('0' + tm.tm_hour / 10));
  out.push_back(static_cast<char>('0' + tm.tm_hour % 10));
  two(':', tm.tm_min);
  two(':', tm.tm_sec);
  return out;
}

namespace {

enum class Detail { Names, NoTimes, Full };

int ListEntries(const std::string& folder, std::vector<FolderEntry>& entries, Detail detail) {
  entries.clear();
  std::string dir = WithTrailingSlash(folder);
  if (dir.empty()) return 0;
  std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
  if (!d) return 0;
  int dfd = ::dirfd(d.get());
  while (dirent* de = ::readdir(d.get())) {
    std::string name = de->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry e;
    if (detail == Detail::Names && (de->d_type == DT_REG || de->d_type == DT_DIR)) {
      // The folder says what it is; whoever needs more opens the file.
      const bool isDir = de->d_type == DT_DIR;
      e.Attributes = isDir ? kAttrDirectory : 0;
      if (name[0] == '.') e.Attributes |= kAttrHidden;
      e.Name = dir + name + (isDir ? "/" : "");
      e.Size = isDir ? 0 : -1;
      entries.push_back(std::move(e));
      continue;
    }
    struct statx sx {};
    if (::statx(dfd, de->d_name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
      continue;  // vanished since readdir
    e.Attributes = 0;
    bool isDir = S_ISDIR(sx.stx_mode);
    if (S_ISLNK(sx.stx_mode)) {
      e.Attributes |= kAttrLink;
      struct statx target {};
      if (::statx(dfd, de->d_name, 0, STATX_BASIC_STATS | STATX_BTIME, &target) == 0) {
        // A link to a file reads as that file; a link to a folder stays a
        // plain link so that no walk goes through it.
        if (!S_ISDIR(target.stx_mode)) sx = target;
      }
    }
    if (isDir) e.Attributes |= kAttrDirectory;
    if (!(sx.stx_mode & S_IWUSR)) e.Attributes |= kAttrReadOnly;
    if (name[0] == '.') e.Attributes |= kAttrHidden;
    e.Name = dir + name + (isDir ? "/" : "");
    e.Size = isDir ? 0 : static_cast<Offset64>(sx.stx_size);
    if (detail == Detail::Full) {
      e.Created = FormatFileTime(BirthOrModified(sx));
      e.Accessed = FormatFileTime(sx.stx_atime.tv_sec);
      e.Modified = FormatFileTime(sx.stx_mtime.tv_sec);
    }
    entries.push_back(std::move(e));
  }
  return static_cast<int>(entries.size());
}

}  // namespace

int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, bool withTimes) {
  return ListEntries(folder, entries, withTimes ? Detail::Full : Detail::NoTimes);
}

int ListFolderNames(const std::string& folder, std::vector<FolderEntry>& entries) {
  return ListEntries(folder, entries, Detail::Names);
}

}  // namespace velotag
