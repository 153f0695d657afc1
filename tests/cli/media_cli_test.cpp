// velotag-cli's media commands as scripts use them: the real binary on real
// MP3 files, with mutagen reading what it wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "../online/script_server.h"
#include "../online/wavgen.h"
#include "online/decoder.h"
#include "online/libofa.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "support/textenc.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::ProcessResult;
using test::TempDir;

class MediaCli : public ::testing::Test {
 protected:
  void SetUp() override {
    audio_ = test::ReadFileBytes(test::DataPath("peers/mutagen/no-tags.mp3"));
  }

  ProcessResult Cli(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {VELOTAG_CLI, "--home", home_.path()});
    return test::RunProcess(args, input);
  }

  std::string Mp3(const std::string& name, const std::map<std::string, std::string>& v2 = {},
                  const ID3v1Tag* v1 = nullptr) {
    std::string path = music_.file(name);
    test::WriteFileBytes(path, audio_);
    if (!v2.empty()) {
      ID3v2Tag tag;
      OpenID3v2(path, tag, 3);
      for (const auto& [id, text] : v2) SetID3v2Text(tag, id, text, kID3Utf8, false);
      EXPECT_TRUE(WriteID3v2(tag));
    }
    if (v1) {
      ID3v1Tag copy = *v1;
      WriteID3v1(path, copy);
    }
    return path;
  }

  // mutagen's reading of the 16 fields.
  test::Json MutagenFields(const std::string& file) {
    ProcessResult r = test::RunProcess(
        {test::PythonPath(), test::ToolPath("mutagen_id3v2.py"), "fields", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return test::ParseJson(r.out)[file]["fields"];
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

  // The status lines of standard error without their time stamps.
  static std::vector<std::string> Status(const ProcessResult& r) {
    std::vector<std::string> out;
    std::regex stamp(R"(^\[\d\d:\d\d:\d\d\] )");
    for (const std::string& l : Lines(r.err))
      if (std::regex_search(l, stamp)) out.push_back(l.substr(11));
    return out;
  }

  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  TempDir music_, home_;
  test::Bytes audio_;
};

TEST_F(MediaCli, ListInEveryFormat) {
  ID3v1Tag v1;
  v1.Title = "V1 title";
  v1.Track = 4;
  v1.Year = 999;
  v1.Genre = 17;
  Mp3("a.mp3", {{"TIT2", "Tab\there"}, {"TPE1", "Line\nbreak \\ slash"}}, &v1);
  ProcessResult r = Cli({"list", music_.path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "filename\tTrack\tArtist\tTitle\tAlbum\tYear\tGenre\tComment\tpath\tSize\tID3v1\tID3v2");
  EXPECT_EQ(lines[1].rfind("a.mp3\t004\t\tV1 title\t\t0999\tRock\t\t" + music_.path(), 0), 0u)
      << lines[1];

  r = Cli({"--show", "v2", "list", music_.path()});
  lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("a.mp3\t\tLine\\nbreak \\\\ slash\tTab\\there\t\t\t\t\t/", 0), 0u)
      << lines[1];

  r = Cli({"--show", "v2", "--format", "json", "list", music_.path()});
  ASSERT_EQ(r.exitCode, 0);
  test::Json j = test::ParseJson(r.out);
  ASSERT_EQ(j.array.size(), 1u);
  EXPECT_EQ(j[0]["Title"].string, "Tab\there");
  EXPECT_EQ(j[0]["Artist"].string, "Line\nbreak \\ slash");
  EXPECT_EQ(j[0]["ID3v2"].string, "3");

  r = Cli({"list", "--format", "csv", music_.path()});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("\"filename\";\"Track\";\"Artist\";", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\r\na.mp3;004;;V1 title;;0999;Rock;"), std::string::npos) << r.out;
}

TEST_F(MediaCli, ChangeID3v2AsMutagenSeesIt) {
  std::string a = Mp3("01 first.mp3", {{"TALB", "Kept"}});
  std::string b = Mp3("02 second.mp3");
  ProcessResult r = Cli({"--edit", "v2", "change", "--auto-track", "title=Árvíztűrő tükörfúrógép 😀",
                         "artist=Sigur Rós", "genre=Post-rock", "comment=two\nlines",
                         "albumartist=Band", "url=http://example.org/", music_.path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(Status(r), "Changed 2 MP3(s)")) << r.err;
  for (const auto& [file, track] : {std::pair{a, "1"}, std::pair{b, "2"}}) {
    test::Json m = MutagenFields(file);
    EXPECT_EQ(m["title"].string, "Árvíztűrő tükörfúrógép 😀");
    EXPECT_EQ(m["artist"].string, "Sigur Rós");
    EXPECT_EQ(m["genre"].string, "Post-rock");
    EXPECT_EQ(m["comment"].string, "two\nlines");
    EXPECT_EQ(m["band"].string, "Band");
    EXPECT_EQ(m["url"].string, "http://example.org/");
    EXPECT_EQ(m["track"].string, track);
  }
  EXPECT_EQ(MutagenFields(a)["album"].string, "Kept");
}

TEST_F(MediaCli, ChangeID3v1ThenCopyBothWays) {
  std::string a = Mp3("a.mp3");
  ID3v1Tag titleOnly;
  titleOnly.Title = "Only";
  titleOnly.Comment = "note";
  std::string b = Mp3("b.mp3", {}, &titleOnly);
  ProcessResult r = Cli({"change", "track=7", "year=1999abc", "genre=Rock", "title=T", a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ID3v1Tag v1;
  ASSERT_EQ(ReadID3v1(a, v1), kTagDone);
  EXPECT_EQ(v1.Track, 7);
  EXPECT_EQ(v1.Year, 1999);
  EXPECT_EQ(v1.Genre, 17);
  r = Cli({"copy", a, b});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(Status(r), "Copied 2 ID3(s)"));
  test::Json m = MutagenFields(a);
  EXPECT_EQ(m["title"].string, "T");
  EXPECT_EQ(m["track"].string, "7");
  EXPECT_EQ(m["year"].string, "1999");
  EXPECT_EQ(m["genre"].string, "Rock");
  m = MutagenFields(b);
  EXPECT_EQ(m["comment"].string, "note");
  EXPECT_EQ(m["track"].string + m["year"].string, "") << "no number, no frame";

  // ID3v2 into ID3v1: numbers from their leading digits, genre names without blanks.
  std::string c = Mp3("c.mp3", {{"TIT2", "From v2"}, {"TRCK", "300/12"}, {"TDRC", "2005"},
                                {"TCON", "Classic  Rock"}});
  r = Cli({"--edit", "v2", "copy", c});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(ReadID3v1(c, v1), kTagDone);
  EXPECT_EQ(v1.Title, "From v2");
  EXPECT_EQ(v1.Track, 300 % 256);
  EXPECT_EQ(v1.Year, 2005);
  EXPECT_EQ(v1.Genre, 1);
}

TEST_F(MediaCli, ClearAsksFirst) {
  ID3v1Tag v1;
  v1.Title = "x";
  std::string a = Mp3("a.mp3", {}, &v1);
  test::Bytes before = test::ReadFileBytes(a);
  test::Bytes stacked = before;  // a second block, as old taggers left them
  stacked.insert(stacked.end(), before.end() - 128, before.end());
  test::WriteFileBytes(a, stacked);
  ProcessResult r = Cli({"clear", a});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Do you really want to clear ID3 tag(s)? No (-y answers Yes)"),
            std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFileBytes(a), stacked);
  r = Cli({"-y", "clear", a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(Status(r), "Cleared 1 ID3(s)"));
  EXPECT_EQ(test::ReadFileBytes(a), audio_);
}

TEST_F(MediaCli, RenameFromTheShownTag) {
  Mp3("x.mp3", {{"TRCK", "3"}, {"TPE1", "AC/DC"}, {"TIT2", "Song"}});
  Mp3("y.mp3", {{"TRCK", "4"}, {"TIT2", "No artist"}});
  Mp3("z.mp3", {{"TRCK", "5"}, {"TPE1", "X"}, {"TIT2", "Same"}});
  Mp3("05 - X - Same.mp3");
  ProcessResult r = Cli({"-y", "--show", "v2", "rename", "%track:2::0% - %artist% - %title%",
                         music_.path()});
  EXPECT_EQ(r.exitCode, 1) << "y.mp3 could not be named";
  auto status = Status(r);
  for (const char* line : {"File renaming pattern: %track:2::0% - %artist% - %title%",
                           "File doesn't contain enough ID3 tag: y.mp3",
                           "File exist: 05 - X - Same.mp3", "Renamed file(s): 1"})
    EXPECT_TRUE(Has(status, line)) << line << "\n" << r.err;
  // "/" from the tag stays inside the folder.
  EXPECT_EQ(GetPathType(music_.file("03 - AC-DC - Song.mp3")), kPathFile);
  EXPECT_EQ(GetPathType(music_.file("x.mp3")), kPathMissing);
  EXPECT_EQ(GetPathType(music_.file("z.mp3")), kPathFile);
  r = Cli({"-y", "rename", "plain", music_.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(Status(r), "Please create rename pattern"));
}

TEST_F(MediaCli, PicturesLoadAndCsv) {
  std::string a = Mp3("a.mp3");
  // Written by mutagen: a picture and user texts, as another tagger leaves them.
  ProcessResult w = test::RunProcess(
      {test::PythonPath(), test::ToolPath("mutagen_id3v2.py"), "write", a,
       R"({"version": 4, "frames": [{"id": "TIT2", "encoding": 3, "text": "T"},
           {"id": "TCON", "encoding": 3, "text": "Jazz"},
           {"id": "TXXX", "encoding": 3, "desc": "MOOD", "text": "calm"},
           {"id": "TXXX", "encoding": 1, "desc": "tab", "text": "a\tb"},
           {"id": "APIC", "encoding": 3, "mime": "image/png", "type": 3, "desc": "front",
            "data": "89504e4707"}]})"});
  ASSERT_EQ(w.exitCode, 0) << w.err;
  ProcessResult r = Cli({"pictures", a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto written = Lines(r.out);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(GetFolderPart(written[0]), music_.path());
  EXPECT_EQ(test::ReadFileBytes(written[0]), (test::Bytes{0x89, 'P', 'N', 'G', 7}));

  r = Cli({"--edit", "v2", "load", a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto fields = Lines(r.out);
  ASSERT_EQ(fields.size(), 19u) << r.out;
  EXPECT_EQ(fields[0], "track=");
  EXPECT_EQ(fields[1], "title=T");
  EXPECT_EQ(fields[5], "genre=Jazz");
  EXPECT_EQ(fields[16], "picture=");
  EXPECT_EQ(fields[17], "txxx=MOOD=calm");
  EXPECT_EQ(fields[18], "txxx=tab=a\\tb");
  EXPECT_TRUE(Has(Status(r), "The file contain picture(s) a.mp3"));

  ID3v1Tag v1;
  v1.Title = "V1 title";
  v1.Track = 3;
  v1.Year = 2001;
  v1.Genre = 0;
  r = Cli({"load", Mp3("b.mp3", {}, &v1)});
  fields = Lines(r.out);
  ASSERT_GE(fields.size(), 6u) << r.out;
  EXPECT_EQ(fields[0], "track=003");
  EXPECT_EQ(fields[1], "title=V1 title");
  EXPECT_EQ(fields[4], "year=2001");
  EXPECT_EQ(fields[5], "genre=Blues");

  r = Cli({"csv", "-o", music_.file("list.csv"), a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, music_.file("list.csv") + "\n");
  std::string text;
  ASSERT_TRUE(ReadTextFile(music_.file("list.csv"), text, 0, kTextUtf16));
  EXPECT_EQ(text.rfind("\"filename\";\"Track\";", 0), 0u);
  // Without -o: a name of the day in the program folder, numbered when taken.
  std::string first = Cli({"csv", a}).out, second = Cli({"csv", a}).out;
  EXPECT_EQ(GetFolderPart(first), home_.path());
  EXPECT_EQ(second, first.substr(0, first.size() - 5) + "(001).csv\n");
  test::Bytes csv = test::ReadFileBytes(first.substr(0, first.size() - 1));
  ASSERT_GE(csv.size(), 2u);
  EXPECT_FALSE(csv[0] == 0xFF && csv[1] == 0xFE);  // UTF-16LE without a mark
  EXPECT_EQ(csv[1], 0);
}

TEST_F(MediaCli, FailuresGiveExitOne) {
  test::OpenToEveryone(music_.path());
  test::OpenToEveryone(home_.path());
  std::string ro = Mp3("ro.mp3", {{"TIT2", "old"}});
  ::chmod(ro.c_str(), 0444);
  // As nobody when the tests run as root, so that the permission holds.
  EXPECT_TRUE(test::RunUnprivileged([&] {
    ProcessResult c = Cli({"--edit", "v2", "change", "title=new", ro});
    return c.exitCode == 1 && c.err.find("File write error: " + ro) != std::string::npos &&
           c.err.find("Changed 0 MP3(s)") != std::string::npos;
  }));
  EXPECT_EQ(MutagenFields(ro)["title"].string, "old");
}

// The fingerprint lookup end to end: a real MP3 made by lame, decoded by
// lame, fingerprinted by libofa, answered by a scripted service on 127.0.0.1.
TEST_F(MediaCli, AutotagAgainstAScriptedService) {
  {
    ClassLibofa probe(LibofaOptions{home_.path(), "", {}});
    if (!probe.DRIVER_INSTALLED()) GTEST_SKIP() << "libofa.so.0 cannot be loaded (install libofa0)";
  }
  if (FindExecutable("", "lame").empty()) GTEST_SKIP() << "lame is not on PATH (install lame)";
  test::ScriptServer server(home_.file("requests.jsonl"));
  ASSERT_TRUE(server.ok());
  std::string wav = music_.file("tones.wav"), mp3 = music_.file("tones.mp3");
  test::WriteWav(wav, {44100, 2, 16, 1, 20.0});
  ASSERT_EQ(test::RunProcess({"lame", "--quiet", "-b", "128", wav, mp3}).exitCode, 0);
  std::string server_arg = "127.0.0.1:" + std::to_string(server.port());

  ProcessResult r = Cli({"--show", "v2", "--fingerprint-server", server_arg, "autotag", mp3});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(Status(r), "Auto tagged file(s): 1")) << r.err;
  test::Json m = MutagenFields(mp3);
  EXPECT_EQ(m["title"].string, "Tones & Silence");
  EXPECT_EQ(m["artist"].string, "Björk Иван");
  EXPECT_EQ(server.Requests().size(), 1u);

  // The second lookup comes from LocalDB.ini: no request, even without a server.
  ASSERT_EQ(Cli({"-y", "--edit", "v2", "clear", mp3}).exitCode, 0);
  r = Cli({"--show", "v2", "autotag", mp3});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(MutagenFields(mp3)["artist"].string, "Björk Иван");
}

TEST_F(MediaCli, AutotagWithoutAServiceSaysSo) {
  std::string a = Mp3("a.mp3");
  ProcessResult r = Cli({"autotag", a});
  EXPECT_EQ(r.exitCode, 1);
  auto status = Status(r);
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.back(), "Auto tagged file(s): 0");
  ClassLibofa probe(LibofaOptions{home_.path(), "", {}});
  if (probe.DRIVER_INSTALLED()) {
    // Said once, at once: no time-out is waited for.
    EXPECT_TRUE(Has(status,
                    "No fingerprint service configured: only answers already in LocalDB.ini are "
                    "used (set one with --fingerprint-server or [servers] fingerprint=host:port)"))
        << r.err;
  } else {
    EXPECT_TRUE(Has(status, "Libofa driver error"));
  }
}

}  // namespace
}  // namespace velotag
