// Commands that fail half-way must leave the user's files as they were:
// the real binary under a file-size limit (a full disk), with images it
// cannot load, and beside files it must not touch.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../library/fake_ui.h"
#include "library/form1.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::ProcessResult;
using test::TempDir;

class FileSafety : public ::testing::Test {
 protected:
  // The CLI, optionally under a limit on the size of any file it writes
  // (SIGXFSZ ignored, so that writes fail as on a full disk).
  ProcessResult Cli(std::vector<std::string> args, long fileSizeLimit = -1) {
    args.insert(args.begin(), {VELOTAG_CLI, "--home", home_.path()});
    if (fileSizeLimit >= 0) {
      args.insert(args.begin(), {"prlimit", "--fsize=" + std::to_string(fileSizeLimit), "--"});
      args.insert(args.begin(), {"sh", "-c", "trap '' XFSZ; exec \"$@\"", "sh"});
    }
    return test::RunProcess(args);
  }

  // A real MP3 with an ID3v2.3 title and, when asked, the demo cover.
  std::string Mp3(const std::string& name, bool cover) {
    std::string path = music_.file(name);
    test::WriteFileBytes(path, test::ReadFileBytes(test::DataPath("peers/mutagen/no-tags.mp3")));
    ID3v2Tag tag;
    OpenID3v2(path, tag, 3);
    SetID3v2Text(tag, "TIT2", "Title", kID3Utf8, false);
    if (cover) {
      EXPECT_TRUE(SetID3v2Picture(tag, "", kCover, kID3Utf8, false));
    }
    EXPECT_TRUE(WriteID3v2(tag));
    return path;
  }

  static bool HasLine(const ProcessResult& r, const std::string& text) {
    return r.err.find("] " + text + "\n") != std::string::npos;
  }

  const std::string kCover = std::string(VELOTAG_SOURCE_DIR) + "/tools/demo/cover.png";
  TempDir music_, home_;
};

TEST_F(FileSafety, AnImageThatCannotBeLoadedKeepsThePictures) {
  const std::string song = Mp3("song.mp3", true);
  const test::Bytes before = test::ReadFileBytes(song);
  const std::string empty = music_.file("empty.png"), huge = music_.file("huge.png");
  test::WriteFileText(empty, "");
  test::WriteFileText(huge, "");
  ASSERT_EQ(::truncate(huge.c_str(), 300L << 20), 0);  // beyond any tag, and sparse
  for (const std::string& image : {empty, huge, music_.file("missing.png")}) {
    ProcessResult r = Cli({"--edit", "v2", "change", "picture=" + image, song});
    EXPECT_EQ(r.exitCode, 1) << image << r.err;
    EXPECT_TRUE(HasLine(r, "File open error: " + image)) << r.err;
    ID3v2Tag tag;
    ASSERT_EQ(OpenID3v2(song, tag, 4), kTagDone);
    ReadID3v2Frames(tag);
    EXPECT_TRUE(HasID3v2Picture(tag)) << image;
  }
  // Other fields of the same command are still written.
  ProcessResult r = Cli({"--edit", "v2", "change", "picture=" + empty, "artist=Someone", song});
  EXPECT_EQ(r.exitCode, 1);
  ID3v2Tag tag;
  OpenID3v2(song, tag, 4);
  ReadID3v2Frames(tag);
  EXPECT_EQ(GetID3v2Text("TPE1", tag, true), "Someone");
  EXPECT_TRUE(HasID3v2Picture(tag));
  EXPECT_NE(test::ReadFileBytes(song), before);
}

// On a full disk every write fails cleanly: no MP3, export or picture is
// left cut short, an older export survives, and the command says so.
TEST_F(FileSafety, AFullDiskLosesNothing) {
  const std::string song = Mp3("song.mp3", true);
  const test::Bytes mp3 = test::ReadFileBytes(song);
  // ID3v1 appended where only half a block fits.
  ProcessResult r = Cli({"--edit", "v1", "change", "title=New", song},
                        static_cast<long>(mp3.size()) + 64);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_TRUE(HasLine(r, "File write error: " + song)) << r.err;
  EXPECT_EQ(test::ReadFileBytes(song), mp3);

  // The export over an older one.
  const std::string csv = music_.file("list.csv");
  test::WriteFileText(csv, "the older export");
  r = Cli({"csv", "-o", csv, song}, 64);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(test::ReadFileBytes(csv), test::ToBytes("the older export"));

  // A picture bigger than the limit.
  r = Cli({"pictures", song}, 100);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("File write error: "), std::string::npos) << r.err;
  std::vector<FolderEntry> entries;
  ListFolder(music_.path(), entries);
  EXPECT_EQ(entries.size(), 2u) << "a cut picture or a temporary file was left";
  EXPECT_EQ(test::ReadFileBytes(song), mp3);
}

TEST_F(FileSafety, AnExportThroughALinkKeepsTheLink) {
  const std::string song = Mp3("song.mp3", false);
  const std::string real = music_.file("real.csv"), link = music_.file("link.csv");
  test::WriteFileText(real, "old");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ProcessResult r = Cli({"csv", "-o", link, song});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_GT(test::ReadFileBytes(real).size(), 100u);
}

// A pipe named like an MP3 once hung every scan and batch for good.
TEST_F(FileSafety, APipeNamedLikeAnMp3IsRefusedAtOnce) {
  const std::string song = Mp3("song.mp3", false);
  const std::string pipe = music_.file("pipe.mp3");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"list"}, {"--edit", "v1", "change", "title=x"},
        {"--edit", "v2", "change", "title=x"}}) {
    std::vector<std::string> args = command;
    args.push_back(music_.path());
    ProcessResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(pipe), std::string::npos) << r.err;
  }
}

// The program folder may be the user's own: a folder there that merely has
// the program's name is not an update download.
TEST(StartUp, OnlyAMarkedDownloadFolderIsErased) {
  for (bool marked : {false, true}) {
    TempDir home;
    const std::string download = home.file("velotag/");
    ASSERT_TRUE(CreatePath(download + "music"));
    test::WriteFileText(download + "music/keep.mp3", "x");
    if (marked) test::WriteFileText(download + kDownloadMarker, "");
    test::FakeUI ui;
    Form1 form(ui, AppPaths{home.path(), "velotag"}, std::make_unique<test::FakeFingerprint>());
    form.Form_Load();
    EXPECT_EQ(GetPathType(download + "music/keep.mp3") == kPathFile, !marked) << marked;
  }
}

}  // namespace
}  // namespace velotag
