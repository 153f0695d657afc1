// The file layer, paths and folders, on real files in temporary folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "support/largefile.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::ModeOf;
using test::ReadFileBytes;
using test::TempDir;
using test::ToBytes;
using test::WriteFileBytes;

// Seeks, sizes and reads past 4 GB (a sparse file keeps it cheap); smaller
// files go through these in every tag test.
TEST(LargeFile, SeekAndSizePast4GB) {
  TempDir dir;
  const std::string big = dir.file("big.mp3");
  EXPECT_EQ(GetLargeFileSize(dir.path()), -1);
  const Offset64 size = 5LL * 1024 * 1024 * 1024 + 123;
  {
    FileHandle h = OpenWrite(big);
    ASSERT_EQ(::ftruncate(h.get(), size), 0);
    ASSERT_EQ(LargeFileSeek(h.get(), -3, false), size - 3);
    ASSERT_EQ(LargeFileWrite(h.get(), "END", 3), 3u);
  }
  EXPECT_EQ(GetLargeFileSize(big), size);
  FileHandle h = OpenRead(big);
  EXPECT_EQ(LargeFileSeek(h.get(), size - 3, true), size - 3);
  char buf[3];
  ASSERT_EQ(LargeFileRead(h.get(), buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "END");
}

TEST(ReadTextFile, DecidesTheEncoding) {
  const std::string big(100000, 'q');
  const std::tuple<const char*, Bytes, int, std::string, std::int32_t> cases[] = {  // ..., chunk size
      {"mark little-endian", {0xFF, 0xFE, 'A', 0, 'B', 0}, kTextAuto, "AB", 0},
      {"no mark, little-endian by the sums", {'A', 0, 'B', 0, 'C', 0}, kTextAuto, "ABC", 0},
      {"no mark, big-endian by the sums", {0, 'A', 0, 'B'}, kTextAuto, "AB", 0},
      {"latin-1 bytes", {'c', 'a', 'f', 0xE9, 'x', 'y'}, kTextAuto, "caf\xC3\xA9xy", 0},
      {"odd size is never UTF-16", {'A', 0, 'B'}, kTextAuto, std::string("A\0B", 3), 0},
      {"mode 2 reads the mark as characters", {0xFF, 0xFE, 'A', 0}, kTextAnsi,
       std::string("\xC3\xBF\xC3\xBE" "A\0", 6), 0},
      {"empty", {}, kTextAuto, "", 0},
      {"small chunks", ToBytes(big), kTextAuto, big, 200},
  };
  TempDir dir;
  std::string text;
  for (const auto& [name, bytes, mode, read, chunk] : cases) {
    WriteFileBytes(dir.file("t"), bytes);
    text = "junk";
    EXPECT_TRUE(ReadTextFile(dir.file("t"), text, chunk, mode)) << name;
    EXPECT_EQ(text, read) << name;
  }
  text = "x";
  EXPECT_FALSE(ReadTextFile(dir.file("missing"), text));
  EXPECT_EQ(text, "");
  // A damaged settings file of 200 GB (sparse) is refused, not allocated.
  test::WriteFileText(dir.file("huge"), "");
  ASSERT_EQ(::truncate(dir.file("huge").c_str(), 200LL << 30), 0);
  EXPECT_FALSE(ReadTextFile(dir.file("huge"), text));
}

// Steps on one file, as the local database appends: entries separate with
// CR LF, characters beyond Latin-1 become '?'.
TEST(WriteTextFile, Modes) {
  const std::tuple<std::string, int, Bytes> steps[] = {
      {"one", kWriteAppend, ToBytes("one")},
      {"t\xC3\xA9\xC5\x91", kWriteAppend, {'o', 'n', 'e', '\r', '\n', 't', 0xE9, '?'}},
      {"new", kWriteOverwrite, ToBytes("new")},
      {"ignored", kWriteCreateEmpty, {}}};
  TempDir dir;
  const std::string f = dir.file("t.txt");
  for (const auto& [text, mode, after] : steps) {
    EXPECT_EQ(WriteTextFile(f, text, mode, false), 1) << text;
    EXPECT_EQ(ReadFileBytes(f), after) << text;
  }
  EXPECT_EQ(WriteTextFile(dir.file("no/such/folder.txt"), "x", kWriteAppend, false), -1);
}

// A part appended, a count past the array's end cut to the array (whole
// files go through it in the updater's tests); a read-only target is
// written and stays read-only.
// The read-only attribute is the owner's write bit; a read-only file is
// deleted, a link goes without its target changing, folders stay.
TEST(FileOps, WritesAttributesAndDelete) {
  TempDir dir;
  const std::string f = dir.file("b.bin"), target = dir.file("target");
  EXPECT_TRUE(WriteBytesToFile(f, Bytes{7}));
  ::chmod(f.c_str(), 0664);
  FileSetAttributes(f, kAttrReadOnly);
  EXPECT_EQ(ModeOf(f), 0444u);
  EXPECT_TRUE(WriteBytesToFile(f, Bytes{1, 2, 3, 4}, 1, 2, kWriteAppend));
  EXPECT_EQ(ReadFileBytes(f), (Bytes{7, 2, 3}));
  EXPECT_TRUE(WriteBytesToFile(f, Bytes{9, 8}, -5, 100, kWriteOverwrite));
  EXPECT_EQ(ReadFileBytes(f), (Bytes{9, 8}));
  EXPECT_EQ(WriteTextFile(f, "x", kWriteOverwrite, false), 1);
  EXPECT_EQ(ModeOf(f), 0444u);
  WriteFileBytes(target, Bytes{1});
  FileSetAttributes(target, 0);
  EXPECT_EQ(ModeOf(target), 0644u);
  ::chmod(target.c_str(), 0444);
  ASSERT_EQ(::symlink(target.c_str(), dir.file("link").c_str()), 0);
  ::mkdir(dir.file("sub").c_str(), 0755);
  EXPECT_TRUE(FileDelete(f));
  EXPECT_TRUE(FileDelete(dir.file("link")));
  EXPECT_EQ(GetLargeFileSize(f), -1);
  EXPECT_EQ(GetLargeFileSize(target), 1);
  EXPECT_EQ(ModeOf(target), 0444u);
  EXPECT_FALSE(FileDelete(dir.file("sub/")));
  EXPECT_FALSE(FileDelete(dir.file("missing")));
}

// FileMove, and its way on file systems that cannot rename without replacing.
TEST(FileOps, MoveNeverReplacesAnExistingFile) {
  for (auto move : {+[](const std::string& a, const std::string& b) { return FileMove(a, b); },
                    &detail::MoveWithoutReplacing}) {
    TempDir dir;
    WriteFileBytes(dir.file("a"), ToBytes("A"));
    WriteFileBytes(dir.file("b"), ToBytes("B"));
    EXPECT_FALSE(move(dir.file("a"), dir.file("b")));
    EXPECT_EQ(ReadFileBytes(dir.file("a")), ToBytes("A"));
    EXPECT_EQ(ReadFileBytes(dir.file("b")), ToBytes("B"));
    EXPECT_TRUE(move(dir.file("a"), dir.file("c")));
    EXPECT_EQ(ReadFileBytes(dir.file("c")), ToBytes("A"));
    EXPECT_EQ(GetLargeFileSize(dir.file("a")), -1);
    ::mkdir(dir.file("d1").c_str(), 0755);
    ::mkdir(dir.file("d2").c_str(), 0755);
    EXPECT_FALSE(move(dir.file("d1"), dir.file("d2")));
    EXPECT_TRUE(move(dir.file("d1"), dir.file("d3")));
  }
}

TEST(Paths, PartsAndValidNames) {
  const std::pair<std::string, std::string> parts[] = {  // name|folder|base|extension
      {"/a/a.b.mp3", "a.b.mp3|/a/|a.b|mp3"},  {"bare.mp3", "bare.mp3||bare|mp3"},
      {"//server//share/x.mp3", "x.mp3|/server/share/|x|mp3"},
      {"/a.dir/file", "file|/a.dir/|file|"}, {"/a/", "|/a/||"}};
  for (const auto& [path, split] : parts)
    EXPECT_EQ(GetFileNamePart(path) + "|" + GetFolderPart(path) + "|" + GetBaseName(path) + "|" +
                  GetExtension(path), split);
  EXPECT_EQ(CollapseBackslashes("a//b///c/"), "a/b/c/");
  // Reserved characters of the name part become look-alikes; foreign text
  // made into one name stays inside its folder.
  const std::tuple<std::string, bool, std::string> names[] = {
      {"a?b:c.mp3", false, "a$b;c.mp3"}, {"AC/DC.mp3", false, "AC/DC.mp3"},
      {"/x:y//q/\"<*>|\".mp3", false, "/x:y/q/'(+)#'.mp3"}, {"..", true, "__"}, {".", true, "_"},
      {std::string("nul\0byte", 8), true, "nulbyte"}};
  for (const auto& [in, component, out] : names)
    EXPECT_EQ(component ? SafeFileNameComponent(in) : MakeValidFileName(in), out) << in;
}

TEST(DeleteTree, RemovesContentsNeverFollowsLinksAndReportsWhatItCouldNot) {
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

  // What it could not remove it reports, and leaves.
  test::OpenToEveryone(dir.path());
  ASSERT_TRUE(CreatePath(dir.file("locked")));
  WriteFileBytes(dir.file("locked/f"), {1});
  ::chmod(dir.file("locked").c_str(), 0555);
  EXPECT_TRUE(test::RunUnprivileged([&] {
    const std::string fail = "DelAllFiles(Sikertelen törlési művelet): ";
    return !DeleteTree(dir.file("locked"), &log) &&
           log == std::vector<std::string>{fail + dir.file("locked/f"), fail + dir.file("locked/")};
  }));
  EXPECT_EQ(GetLargeFileSize(dir.file("locked/f")), 1);
}

}  // namespace
}  // namespace velotag
