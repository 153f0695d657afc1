#include "support/largefile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testutil.h"

namespace velotag {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::ToBytes;
using test::WriteFileBytes;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(LargeFile, SeekAndSize) {
  TempDir dir;
  WriteFileBytes(dir.file("a.bin"), Bytes(1000, 7));
  FileHandle h(LargeFileOpen(dir.file("a.bin"), true, false, true, false, kOpenExisting));
  ASSERT_TRUE(h.valid());
  EXPECT_EQ(LargeFileSeek(h.get(), -128, false), 872);
  EXPECT_EQ(LargeFileSeek(h.get(), 10, true), 10);
  EXPECT_EQ(LargeFileSize(h.get()), 1000);
  // A seek before the start leaves the position: the read comes back short.
  LargeFileSeek(h.get(), -2000, false);
  std::uint8_t buf[1000];
  EXPECT_EQ(LargeFileRead(h.get(), buf, sizeof buf), 990u);
  EXPECT_EQ(LargeFileSeek(-1, 0, true), -1);
  EXPECT_EQ(LargeFileSize(-1), -1);
  EXPECT_EQ(GetLargeFileSize(dir.file("missing")), -1);
  EXPECT_EQ(GetLargeFileSize(dir.path()), -1);
}

TEST(LargeFile, DispositionsCreateTruncateOrRequireTheFile) {
  TempDir dir;
  std::string f = dir.file("d");
  EXPECT_EQ(LargeFileOpen(f, true, false, true, false, kOpenExisting), -1);
  FileHandle(LargeFileOpen(f, true, true, true, false, kOpenAlways));
  EXPECT_EQ(GetLargeFileSize(f), 0);
  WriteFileBytes(f, Bytes(50, 1));
  FileHandle(LargeFileOpen(f, true, true, true, false, kOpenAlways));
  EXPECT_EQ(GetLargeFileSize(f), 50);
  FileHandle(LargeFileOpen(f, true, true, true, false, kCreateAlways));
  EXPECT_EQ(GetLargeFileSize(f), 0);
  EXPECT_EQ(LargeFileOpen(dir.path(), true, false, true, false, kOpenExisting), -1);
}

// Positions and sizes past 4 GB, on a sparse file so that the test stays cheap.
TEST(LargeFile, FilesOverFourGigabytes) {
  TempDir dir;
  std::string f = dir.file("big.mp3");
  const Offset64 size = 5LL * 1024 * 1024 * 1024 + 123;
  {
    FileHandle h(LargeFileOpen(f, true, true, true, false, kCreateAlways));
    ASSERT_EQ(::ftruncate(h.get(), size), 0);
    ASSERT_EQ(LargeFileSeek(h.get(), -3, false), size - 3);
    ASSERT_EQ(LargeFileWrite(h.get(), "END", 3), 3u);
  }
  EXPECT_EQ(GetLargeFileSize(f), size);
  FileHandle h(LargeFileOpen(f, true, false, true, false, kOpenExisting));
  EXPECT_EQ(LargeFileSeek(h.get(), size - 3, true), size - 3);
  char buf[3];
  ASSERT_EQ(LargeFileRead(h.get(), buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "END");
}

TEST(LargeFile, MakeOffset64TakesTheLowHalfUnsigned) {
  EXPECT_EQ(MakeOffset64(0, 5), 5);
  EXPECT_EQ(MakeOffset64(0, -1), 4294967295LL);
  EXPECT_EQ(MakeOffset64(1, -1), 8589934591LL);
  EXPECT_EQ(MakeOffset64(2, 0), 8589934592LL);
}

TEST(LargeFile, HandleIsClosedWithItsOwner) {
  TempDir dir;
  WriteFileBytes(dir.file("x"), Bytes(1, 0));
  int fd;
  {
    FileHandle h(LargeFileOpen(dir.file("x"), true, false, true, false, kOpenExisting));
    fd = h.get();
    ASSERT_NE(::fcntl(fd, F_GETFD), -1);
  }
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST(LargeFile, SetEndCutsAtThePosition) {
  TempDir dir;
  WriteFileBytes(dir.file("cut"), Bytes(300, 9));
  {
    FileHandle h(LargeFileOpen(dir.file("cut"), false, true, true, false, kOpenExisting));
    LargeFileSeek(h.get(), -128, false);
    EXPECT_TRUE(LargeFileSetEnd(h.get()));
  }
  EXPECT_EQ(GetLargeFileSize(dir.file("cut")), 172);
}

struct ReadCase {
  const char* name;
  Bytes bytes;
  int mode;
  std::string text;
};

TEST(ReadTextFile, DecidesTheEncoding) {
  const ReadCase cases[] = {
      {"mark little-endian", {0xFF, 0xFE, 'A', 0, 'B', 0}, kTextAuto, "AB"},
      {"mark big-endian", {0xFE, 0xFF, 0, 'A', 0, 'B'}, kTextAuto, "AB"},
      {"no mark, little-endian by the sums", {'A', 0, 'B', 0, 'C', 0}, kTextAuto, "ABC"},
      {"no mark, big-endian by the sums", {0, 'A', 0, 'B'}, kTextAuto, "AB"},
      {"ascii text", ToBytes("[options]\r\nA=1"), kTextAuto, "[options]\r\nA=1"},
      {"latin-1 bytes", {'c', 'a', 'f', 0xE9, 'x'}, kTextAuto, "caf\xC3\xA9x"},
      {"odd size is never UTF-16", {'A', 0, 'B'}, kTextAuto, std::string("A\0B", 3)},
      {"mode 2 reads the mark as characters", {0xFF, 0xFE, 'A', 0}, kTextAnsi,
       std::string("\xC3\xBF\xC3\xBE" "A\0", 6)},
      {"mode 1 forces UTF-16", ToBytes("ABCD"), kTextUtf16, "\xE4\x89\x81\xE4\x91\x83"},
      {"pair in the file becomes one character", {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE},
       kTextAuto, "\xF0\x9F\x98\x80"},
      {"final odd byte of UTF-16 ignored", {0xFF, 0xFE, 'A', 0, 'B'}, kTextUtf16, "A"},
  };
  TempDir dir;
  for (const ReadCase& c : cases) {
    WriteFileBytes(dir.file("t"), c.bytes);
    std::string text = "junk";
    EXPECT_TRUE(ReadTextFile(dir.file("t"), text, 0, c.mode)) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
  }
}

TEST(ReadTextFile, EmptyMissingAndSmallChunks) {
  TempDir dir;
  std::string text = "x";
  WriteFileBytes(dir.file("empty"), {});
  EXPECT_TRUE(ReadTextFile(dir.file("empty"), text));
  EXPECT_EQ(text, "");
  text = "x";
  EXPECT_FALSE(ReadTextFile(dir.file("missing"), text));
  EXPECT_EQ(text, "");
  std::string big(100000, 'q');
  WriteFileBytes(dir.file("big"), ToBytes(big));
  EXPECT_TRUE(ReadTextFile(dir.file("big"), text, 200));
  EXPECT_EQ(text, big);
}

TEST(WriteTextFile, UnicodeAppendStartsWithMarkThenSeparates) {
  TempDir dir;
  std::string f = dir.file("u.txt");
  EXPECT_EQ(WriteTextFile(f, "A", kWriteAppend, true), 1);
  EXPECT_EQ(ReadFileBytes(f), (Bytes{0xFF, 0xFE, 'A', 0}));
  EXPECT_EQ(WriteTextFile(f, "B", kWriteAppend, true), 1);
  EXPECT_EQ(ReadFileBytes(f), (Bytes{0xFF, 0xFE, 'A', 0, 0x0D, 0, 0x0A, 0, 'B', 0}));
  EXPECT_EQ(WriteTextFile(f, "C", 2, true), 1);  // other modes: no separator
  EXPECT_EQ(ReadFileBytes(f).size(), 12u);
}

TEST(WriteTextFile, UnicodeAppendKeepsABigEndianFileBigEndian) {
  TempDir dir;
  std::string f = dir.file("be.txt");
  WriteFileBytes(f, {0xFE, 0xFF, 0, 'A'});
  EXPECT_EQ(WriteTextFile(f, "\xF0\x9F\x98\x80", kWriteAppend, true), 1);
  EXPECT_EQ(ReadFileBytes(f),
            (Bytes{0xFE, 0xFF, 0, 'A', 0, 0x0D, 0, 0x0A, 0xD8, 0x3D, 0xDE, 0x00}));
  std::string text;
  ReadTextFile(f, text);
  EXPECT_EQ(text, "A\r\n\xF0\x9F\x98\x80");
}

TEST(WriteTextFile, AnsiModes) {
  TempDir dir;
  std::string f = dir.file("a.txt");
  EXPECT_EQ(WriteTextFile(f, "one", kWriteAppend, false), 1);
  EXPECT_EQ(ReadFileBytes(f), ToBytes("one"));
  EXPECT_EQ(WriteTextFile(f, "t\xC3\xA9\xC5\x91", kWriteAppend, false), 1);
  EXPECT_EQ(ReadFileBytes(f), (Bytes{'o', 'n', 'e', '\r', '\n', 't', 0xE9, '?'}));
  EXPECT_EQ(WriteTextFile(f, "new", kWriteOverwrite, false), 1);
  EXPECT_EQ(ReadFileBytes(f), ToBytes("new"));
  EXPECT_EQ(WriteTextFile(f, "ignored", kWriteCreateEmpty, false), 1);
  EXPECT_EQ(ReadFileBytes(f).size(), 0u);
  EXPECT_EQ(WriteTextFile(dir.file("no/such/folder.txt"), "x", kWriteAppend, false), -1);
}

TEST(WriteBytesToFile, BlocksRemainderAppendAndBounds) {
  TempDir dir;
  std::string f = dir.file("b.bin");
  Bytes data(8192 * 2 + 77);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31);
  EXPECT_TRUE(WriteBytesToFile(f, data));
  EXPECT_EQ(ReadFileBytes(f), data);
  EXPECT_TRUE(WriteBytesToFile(f, Bytes{1, 2, 3, 4}, 1, 2, kWriteAppend));
  Bytes expected = data;
  expected.push_back(2);
  expected.push_back(3);
  EXPECT_EQ(ReadFileBytes(f), expected);
  // A count past the array's end is cut to the array, never read beyond it.
  EXPECT_TRUE(WriteBytesToFile(f, Bytes{9, 8}, -5, 100, kWriteOverwrite));
  EXPECT_EQ(ReadFileBytes(f), (Bytes{9, 8}));
}

TEST(WriteBytesToFile, ReadOnlyTargetIsWrittenAndStaysReadOnly) {
  TempDir dir;
  std::string f = dir.file("ro.bin");
  WriteFileBytes(f, Bytes{1});
  ::chmod(f.c_str(), 0444);
  EXPECT_TRUE(WriteBytesToFile(f, Bytes{5, 6}));
  EXPECT_EQ(ReadFileBytes(f), (Bytes{5, 6}));
  EXPECT_EQ(ModeOf(f), 0444u);
  EXPECT_EQ(WriteTextFile(f, "x", kWriteOverwrite, false), 1);
  EXPECT_EQ(ModeOf(f), 0444u);
}

TEST(FileOps, DeleteReadOnlyFileButNotFolder) {
  TempDir dir;
  std::string f = dir.file("ro");
  WriteFileBytes(f, Bytes{1});
  ::chmod(f.c_str(), 0444);
  EXPECT_TRUE(FileDelete(f));
  EXPECT_EQ(GetLargeFileSize(f), -1);
  ::mkdir(dir.file("sub").c_str(), 0755);
  EXPECT_FALSE(FileDelete(dir.file("sub")));
  EXPECT_FALSE(FileDelete(dir.file("sub/")));
  EXPECT_FALSE(FileDelete(dir.file("missing")));
}

TEST(FileOps, DeleteOfALinkRemovesTheLinkOnly) {
  TempDir dir;
  std::string target = dir.file("target");
  WriteFileBytes(target, Bytes{1});
  ::chmod(target.c_str(), 0444);
  ASSERT_EQ(::symlink(target.c_str(), dir.file("link").c_str()), 0);
  EXPECT_TRUE(FileDelete(dir.file("link")));
  EXPECT_EQ(GetLargeFileSize(target), 1);
  EXPECT_EQ(ModeOf(target), 0444u);
}

TEST(FileOps, AttributesMapToTheOwnerWriteBit) {
  TempDir dir;
  std::string f = dir.file("f");
  WriteFileBytes(f, Bytes{1});
  ::chmod(f.c_str(), 0664);
  FileSetAttributes(f, kAttrReadOnly);
  EXPECT_EQ(ModeOf(f), 0444u);
  EXPECT_EQ(FileGetAttributes(f) & kAttrReadOnly, kAttrReadOnly);
  FileSetAttributes(f, 0);
  EXPECT_EQ(ModeOf(f), 0644u);
  EXPECT_EQ(FileGetAttributes(f), 0);
  EXPECT_EQ(FileGetAttributes(dir.file("missing")), -1);
  EXPECT_EQ(FileGetAttributes(dir.path()) & kAttrDirectory, kAttrDirectory);
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
    EXPECT_FALSE(move(dir.file("missing"), dir.file("d")));
    ::mkdir(dir.file("d1").c_str(), 0755);
    ::mkdir(dir.file("d2").c_str(), 0755);
    EXPECT_FALSE(move(dir.file("d1"), dir.file("d2")));
    EXPECT_TRUE(move(dir.file("d1"), dir.file("d3")));
  }
}

}  // namespace
}  // namespace velotag
