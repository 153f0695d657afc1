#include "support/paths.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "testutil.h"

namespace velotag {
namespace {

using test::TempDir;
using test::WriteFileBytes;

TEST(PathSplit, NamesFoldersBasesExtensions) {
  struct Case {
    std::string path, name, folder, base, ext;
  } const cases[] = {
      {"/a/b.mp3", "b.mp3", "/a/", "b", "mp3"},
      {"/a/a.b.mp3", "a.b.mp3", "/a/", "a.b", "mp3"},
      {"/a/noext", "noext", "/a/", "noext", ""},
      {"bare.mp3", "bare.mp3", "", "bare", "mp3"},
      {"//server//share/x.mp3", "x.mp3", "/server/share/", "x", "mp3"},
      {"/a.dir/file", "file", "/a.dir/", "file", ""},
      {"/a/", "", "/a/", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetFileNamePart(c.path), c.name) << c.path;
    EXPECT_EQ(GetFolderPart(c.path), c.folder) << c.path;
    EXPECT_EQ(GetBaseName(c.path), c.base) << c.path;
    EXPECT_EQ(GetExtension(c.path), c.ext) << c.path;
  }
  EXPECT_EQ(CollapseBackslashes("a//b///c/"), "a/b/c/");
  EXPECT_EQ(TrimAtNul(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(TrimAtNul("abc"), "abc");
}

TEST(PathTypes, FilesFoldersRootAndMissing) {
  TempDir dir;
  WriteFileBytes(dir.file("f"), {1});
  EXPECT_EQ(GetPathType(dir.file("f")), kPathFile);
  EXPECT_EQ(GetPathType(dir.path()), kPathFolder);
  EXPECT_EQ(GetPathType(dir.path() + "//"), kPathFolder);
  EXPECT_EQ(GetPathType("/"), kPathDriveRoot);
  EXPECT_EQ(GetPathType("///"), kPathDriveRoot);
  EXPECT_EQ(GetPathType(""), kPathMissing);
  EXPECT_EQ(GetPathType(dir.file("missing")), kPathMissing);
  ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
  EXPECT_EQ(GetPathType(dir.file("dangling")), kPathFile);  // the name is taken
  EXPECT_TRUE(IsDriveRoot("/"));
  EXPECT_TRUE(IsDriveRoot("//"));
  EXPECT_FALSE(IsDriveRoot(""));
  EXPECT_FALSE(IsDriveRoot("/home/"));
}

TEST(ValidNames, ReservedCharactersOfTheNamePartOnly) {
  EXPECT_EQ(MakeValidFileName("a?b:c.mp3"), "a$b;c.mp3");
  EXPECT_EQ(MakeValidFileName("/x/a|b.mp3"), "/x/a#b.mp3");
  EXPECT_EQ(MakeValidFileName("AC/DC.mp3"), "AC/DC.mp3");
  EXPECT_EQ(MakeValidFileName("/x:y//q/\"<*>\".mp3"), "/x:y/q/'(+)'.mp3");
}

TEST(ValidNames, ForeignTextStaysInsideItsFolder) {
  struct Case {
    std::string in, out;
  } const cases[] = {
      {"AC/DC", "AC-DC"},
      {"../../etc/passwd", "__-..-etc-passwd"},
      {"..", "__"},
      {".", "_"},
      {"...And Justice", "__.And Justice"},
      {"a/../b", "a-..-b"},
      {std::string("nul\0byte", 8), "nulbyte"},
      {"plain name", "plain name"},
  };
  for (const Case& c : cases) EXPECT_EQ(SafeFileNameComponent(c.in), c.out) << c.in;
}

TEST(UniqueNames, DecimalStepSearch) {
  TempDir dir;
  std::string song = dir.file("song.mp3");
  EXPECT_EQ(GetUniqueFileName(song), song);  // missing: unchanged
  WriteFileBytes(song, {1});
  EXPECT_EQ(GetUniqueFileName(song), dir.file("song(001).mp3"));
  char name[32];
  for (int i = 1; i <= 12; ++i) {
    std::snprintf(name, sizeof name, "song(%03d).mp3", i);
    WriteFileBytes(dir.file(name), {1});
  }
  EXPECT_EQ(GetUniqueFileName(song), dir.file("song(013).mp3"));

  TempDir gap;
  WriteFileBytes(gap.file("song.mp3"), {1});
  WriteFileBytes(gap.file("song(100).mp3"), {1});
  EXPECT_EQ(GetUniqueFileName(gap.file("song.mp3")), gap.file("song(101).mp3"));
  WriteFileBytes(gap.file("noext"), {1});
  EXPECT_EQ(GetUniqueFileName(gap.file("noext")), gap.file("noext(001)"));
}

TEST(UniqueNames, NeverReturnsATakenNamePast999) {
  TempDir dir;
  WriteFileBytes(dir.file("s.mp3"), {1});
  char name[32];
  for (int i = 0; i <= 999; ++i) {
    std::snprintf(name, sizeof name, "s(%03d).mp3", i);
    WriteFileBytes(dir.file(name), {});
  }
  std::string unique = GetUniqueFileName(dir.file("s.mp3"));
  EXPECT_EQ(GetPathType(unique), kPathMissing);
  EXPECT_EQ(unique, dir.file("s(1000).mp3"));
}

TEST(CreatePath, BuildsEveryLevelFromTheRoot) {
  TempDir dir;
  EXPECT_TRUE(CreatePath(dir.file("new/sub/deeper")));
  EXPECT_EQ(GetPathType(dir.file("new/sub/deeper")), kPathFolder);
  EXPECT_TRUE(CreatePath(dir.file("new/sub/")));
  EXPECT_FALSE(CreatePath("relative/path"));
  WriteFileBytes(dir.file("file"), {1});
  EXPECT_FALSE(CreatePath(dir.file("file/sub")));
}

TEST(DeleteTree, RemovesContentsButNeverFollowsLinks) {
  TempDir dir, outside;
  WriteFileBytes(outside.file("precious.mp3"), {1, 2, 3});
  ASSERT_TRUE(CreatePath(dir.file("tree/a/b")));
  WriteFileBytes(dir.file("tree/a/b/x.mp3"), {1});
  WriteFileBytes(dir.file("tree/ro.mp3"), {1});
  ::chmod(dir.file("tree/ro.mp3").c_str(), 0444);
  ASSERT_EQ(::symlink(outside.path().c_str(), dir.file("tree/a/linkdir").c_str()), 0);
  ASSERT_EQ(::symlink(outside.file("precious.mp3").c_str(), dir.file("tree/linkfile").c_str()), 0);
  std::vector<std::string> log;
  EXPECT_TRUE(DeleteTree(dir.file("tree"), &log));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(GetPathType(dir.file("tree")), kPathMissing);
  EXPECT_EQ(GetLargeFileSize(outside.file("precious.mp3")), 3);

  // Handed a link to a folder, it removes the link only.
  ASSERT_EQ(::symlink(outside.path().c_str(), dir.file("alias").c_str()), 0);
  EXPECT_TRUE(DeleteTree(dir.file("alias/")));
  EXPECT_EQ(GetPathType(dir.file("alias")), kPathMissing);
  EXPECT_EQ(GetLargeFileSize(outside.file("precious.mp3")), 3);
}

TEST(DeleteTree, ReportsWhatItCouldNotRemove) {
  TempDir dir;
  test::OpenToEveryone(dir.path());
  ASSERT_TRUE(CreatePath(dir.file("locked")));
  WriteFileBytes(dir.file("locked/f"), {1});
  ::chmod(dir.file("locked").c_str(), 0555);
  std::vector<std::string> log;
  EXPECT_TRUE(test::RunUnprivileged([&] {
    return !DeleteTree(dir.file("locked"), &log) && log.size() == 2 &&
           log[0] == "DelAllFiles(Sikertelen törlési művelet): " + dir.file("locked/f") &&
           log[1] == "DelAllFiles(Sikertelen törlési művelet): " + dir.file("locked/");
  }));
  EXPECT_EQ(GetLargeFileSize(dir.file("locked/f")), 1);
}

TEST(ListFolder, EntriesWithAttributesAndTimes) {
  TempDir dir;
  WriteFileBytes(dir.file("a.mp3"), std::vector<std::uint8_t>(1234));
  WriteFileBytes(dir.file(".hidden"), {});
  WriteFileBytes(dir.file("ro"), {});
  ::chmod(dir.file("ro").c_str(), 0444);
  ASSERT_TRUE(CreatePath(dir.file("sub")));
  TempDir other;
  ASSERT_EQ(::symlink(other.path().c_str(), dir.file("dirlink").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("a.mp3").c_str(), dir.file("filelink.mp3").c_str()), 0);
  struct timespec times[2] = {{1299488700, 0}, {1299488700, 0}};  // 2011-03-07 09:05:00 UTC
  ::utimensat(AT_FDCWD, dir.file("a.mp3").c_str(), times, 0);

  std::vector<FolderEntry> entries;
  ASSERT_EQ(ListFolder(dir.path().substr(0, dir.path().size() - 1), entries), 6);
  auto find = [&](const std::string& name) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const FolderEntry& e) { return e.Name == dir.file(name); });
    EXPECT_NE(it, entries.end()) << name;
    return it == entries.end() ? FolderEntry{} : *it;
  };
  FolderEntry a = find("a.mp3");
  EXPECT_EQ(a.Size, 1234);
  EXPECT_EQ(a.Attributes, 0);
  EXPECT_EQ(a.Modified, "2011.03.07. 09:05:00");  // the tests run with TZ=UTC
  EXPECT_EQ(a.Accessed, "2011.03.07. 09:05:00");
  EXPECT_FALSE(a.Created.empty());
  EXPECT_EQ(find(".hidden").Attributes, kAttrHidden);
  EXPECT_EQ(find("ro").Attributes, kAttrReadOnly);
  EXPECT_EQ(find("sub/").Attributes, kAttrDirectory);
  // A link to a folder is a link, not a folder: no walk goes through it.
  EXPECT_EQ(find("dirlink").Attributes, kAttrLink);
  FolderEntry fl = find("filelink.mp3");
  EXPECT_EQ(fl.Attributes, kAttrLink);
  EXPECT_EQ(fl.Size, 1234);
  EXPECT_EQ(ListFolder(dir.file("missing"), entries), 0);
  EXPECT_TRUE(entries.empty());
}

TEST(AppFolder, HomeVariableWinsAndGetsATrailingSlash) {
  TempDir dir;
  ::setenv("VELOTAG_HOME", dir.path().substr(0, dir.path().size() - 1).c_str(), 1);
  EXPECT_EQ(GetAppFolder(), dir.path());
  ::unsetenv("VELOTAG_HOME");
  std::string folder = GetAppFolder();
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(GetPathType(folder), kPathFolder);
}

TEST(Components, LoadableLibraries) {
  EXPECT_TRUE(IsComponentAvailable("libc.so.6"));
  EXPECT_FALSE(IsComponentAvailable("libdoes-not-exist.so.9"));
  EXPECT_FALSE(IsComponentAvailable(""));
}

}  // namespace
}  // namespace velotag
