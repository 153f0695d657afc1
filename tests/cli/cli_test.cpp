// velotag-cli as scripts see it: standard output, standard error and the
// exit status of the real binary.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "id3v2_builder.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

ProcessResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), VELOTAG_CLI);
  return RunProcess(args);
}

// A 2.3 tag with one frame of each kind the JSON decodes, before audio.
Bytes RichFile() {
  Bytes frames = Cat({
      Frame(3, "TIT2", TextBody("Title \xE9")),  // ISO-8859-1 é
      Frame(3, "TPE1", TextBody("Art\"ist")),
      Frame(3, "COMM", Cat({{0}, ToBytes("eng"), ToBytes("d"), {0}, ToBytes("Line1\r\nLine2")})),
      Frame(3, "WXXX", Cat({{0}, ToBytes("home"), {0}, ToBytes("http://x.org/")})),
      Frame(3, "TXXX", Cat({{3}, ToBytes("key"), {0}, ToBytes("value")})),
      Frame(3, "APIC", Cat({{0}, ToBytes("image/png"), {0, 3}, ToBytes("cover"), {0}, Bytes(50, 7)})),
      Frame(3, "WOAR", ToBytes("http://artist/")),
      Frame(3, "PRIV", Cat({ToBytes("owner"), {0, 1, 2}}), 0x0040),
      Frame(3, "TLEN", Cat({{0, 0, 0, 9}, ToBytes("zz")}), 0x8000),  // compressed
  });
  return Cat({Tag(3, frames, 100), Audio(1000)});
}

TEST(Cli, VersionAndHelp) {
  ProcessResult v = Cli({"--version"});
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_EQ(v.out, std::string("velotag-cli ") + VELOTAG_VERSION + "\n");
  EXPECT_EQ(v.err, "");
  for (const char* flag : {"-h", "--help"}) {
    ProcessResult h = Cli({flag});
    EXPECT_EQ(h.exitCode, 0) << flag;
    EXPECT_NE(h.out.find("Usage: velotag-cli [OPTIONS] COMMAND"), std::string::npos);
    EXPECT_NE(h.out.find("frames"), std::string::npos);
    EXPECT_EQ(h.err, "");
  }
}

TEST(Cli, UsageErrorsExitWithTwo) {
  TempDir dir;
  WriteFileBytes(dir.file("a.mp3"), Audio(100));
  const std::string a = dir.file("a.mp3");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"bogus", a}, "unknown command \"bogus\""},
      {{"list", "--auto-track", a}, "unknown option --auto-track"},
      {{"change", "nofield=1", a}, "change takes FIELD=VALUE, not \"nofield=1\""},
      {{"change", "disc=2", a}, "disc is an ID3v2 field; add --edit v2"},
      {{"change", a}, "change needs at least one FIELD=VALUE"},
      {{"rename"}, "rename needs more arguments"},
      {{"frames", "--nope", a}, "unknown option --nope"},
      {{"--show", "v3", "frames", a}, "--show takes v1 or v2"},
      {{"--edit=v0", "frames", a}, "--edit takes v1 or v2"},
      {{"--format", "xml", "frames", a}, "--format takes tsv, csv or json"},
      {{"--format", "csv", "frames", a}, "frames has no --format csv"},
      {{"frames", a, "--home"}, "--home needs a value"},
      {{"--cddb-server", "host:99999", "frames", a}, "--cddb-server takes HOST[:PORT]"},
      {{"--update-server", ":80", "frames", a}, "--update-server takes HOST[:PORT]"},
      {{"-q=1", "frames", a}, "unknown option -q=1"},
      {{"--quiet=yes", "frames", a}, "--quiet takes no value"},
      {{"frames", a, dir.file("missing.mp3")}, "no such file or folder: "},
  };
  for (const Case& c : cases) {
    ProcessResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "nothing runs: " << c.message;
  }
}

TEST(Cli, OptionsAnywhereBeforeTheEndMarker) {
  TempDir dir;
  WriteFileBytes(dir.file("-odd.mp3"), Audio(100));
  WriteFileBytes(dir.file("b.mp3"), Audio(100));
  ProcessResult r = Cli({"frames", dir.file("b.mp3"), "--format", "json", "-q", "--show=v2",
                         "--fingerprint-server", "localhost:8080", "-y", "-r", "--home", dir.path(),
                         "--edit", "v2", "--cddb-server", "[::1]:8880", "--",
                         dir.path() + "-odd.mp3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Json j = ParseJson(r.out);
  ASSERT_EQ(j.array.size(), 2u);
  EXPECT_EQ(j[1]["path"].string, dir.path() + "-odd.mp3");
}

TEST(Cli, FramesJson) {
  TempDir dir;
  const std::string f = dir.file("rich.mp3");
  WriteFileBytes(f, RichFile());
  WriteFileBytes(dir.file("plain.mp3"), Audio(500));
  ProcessResult r = Cli({"--format", "json", "frames", f, dir.file("plain.mp3")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  Json all = ParseJson(r.out);
  ASSERT_EQ(all.array.size(), 2u);
  const Json& file = all[0];
  EXPECT_EQ(file["path"].string, f);
  const Json& tag = file["tag"];
  EXPECT_EQ(tag["offset"].number, 0);
  EXPECT_EQ(tag["version"].number, 3);
  EXPECT_EQ(tag["revision"].number, 0);
  EXPECT_EQ(tag["flags"].number, 0);
  EXPECT_EQ(tag["size"].number, RichFile().size() - 1000 - 10);
  const Json& fields = tag["fields"];
  EXPECT_EQ(fields.object.size(), 16u);
  EXPECT_EQ(fields["title"].string, "Title \xC3\xA9");
  EXPECT_EQ(fields["artist"].string, "Art\"ist");
  EXPECT_EQ(fields["comment"].string, "Line1 Line2");
  EXPECT_EQ(fields["url"].string, "http://x.org/");
  EXPECT_EQ(fields["partofset"].string, "");

  const Json& frames = tag["frames"];
  ASSERT_EQ(frames.array.size(), 9u);
  auto keys = [](const Json& o) {
    std::string k;
    for (const auto& [key, v] : o.object) k += key + ",";
    return k;
  };
  EXPECT_EQ(frames[0]["id"].string, "TIT2");
  EXPECT_EQ(frames[0]["text"].string, "Title \xC3\xA9");
  EXPECT_EQ(frames[0]["size"].number, 9);
  EXPECT_EQ(keys(frames[2]), "description,flags,id,language,size,text,");
  EXPECT_EQ(frames[2]["language"].string, "eng");
  EXPECT_EQ(frames[2]["text"].string, "Line1\r\nLine2");
  EXPECT_EQ(keys(frames[3]), "description,flags,id,size,url,");
  EXPECT_EQ(frames[3]["url"].string, "http://x.org/");
  EXPECT_EQ(keys(frames[4]), "description,flags,id,size,value,");
  EXPECT_EQ(frames[4]["value"].string, "value");
  EXPECT_EQ(keys(frames[5]), "data_size,description,flags,id,mime,size,type,");
  EXPECT_EQ(frames[5]["mime"].string, "image/png");
  EXPECT_EQ(frames[5]["type"].number, 3);
  EXPECT_EQ(frames[5]["description"].string, "cover");
  EXPECT_EQ(frames[5]["data_size"].number, 50);
  EXPECT_EQ(frames[6]["url"].string, "http://artist/");
  EXPECT_EQ(keys(frames[7]), "flags,id,size,");
  EXPECT_EQ(frames[7]["flags"].number, 0x0040);
  EXPECT_EQ(keys(frames[8]), "flags,id,size,") << "a compressed body is not decoded";

  EXPECT_TRUE(all[1]["tag"].isNull());
  EXPECT_EQ(all[1]["path"].string, dir.file("plain.mp3"));
}

TEST(Cli, FramesHumanReadable) {
  TempDir dir;
  const std::string f = dir.file("rich.mp3");
  WriteFileBytes(f, RichFile());
  WriteFileBytes(dir.file("bad.mp3"), Cat({{'I', 'D', '3', 9, 0, 0, 0, 0, 0, 5}, Audio(100)}));
  ProcessResult r = Cli({"frames", f, dir.file("bad.mp3")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string& o = r.out;
  EXPECT_EQ(o.rfind(f + "\n  ID3v2.3.0 at offset 0, flags 0x00, size ", 0), 0u) << o;
  EXPECT_NE(o.find("  TIT2        9  0x0000  \"Title \xC3\xA9\"\n"), std::string::npos) << o;
  EXPECT_NE(o.find("  COMM"), std::string::npos);
  EXPECT_NE(o.find("[eng] \"d\": \"Line1\\r\\nLine2\""), std::string::npos) << o;
  EXPECT_NE(o.find("image/png, Cover (front), \"cover\", 50 bytes"), std::string::npos) << o;
  EXPECT_NE(o.find("  PRIV        8  0x0040\n"), std::string::npos) << o;
  EXPECT_NE(o.find(dir.file("bad.mp3") + "\n  no usable ID3v2 tag"), std::string::npos) << o;
}

TEST(Cli, FoldersListTheirMp3FilesAndFailuresGiveOne) {
  TempDir dir;
  ::mkdir(dir.file("sub").c_str(), 0755);
  for (const char* name : {"a.mp3", "b.MP3", "c.txt", "x.mp", "noext", "sub/d.mp3"})
    WriteFileBytes(dir.file(name), Audio(100));
  auto paths = [](const ProcessResult& r) {
    std::vector<std::string> out;
    for (const Json& f : ParseJson(r.out).array) out.push_back(f["path"].string);
    std::sort(out.begin(), out.end());
    return out;
  };
  // As in the window, an extension found inside "*.mp3" qualifies, and x.mp
  // then fails as a file the tag code does not open.
  ProcessResult flat = Cli({"frames", "--format", "json", dir.path()});
  EXPECT_EQ(flat.exitCode, 1);
  std::regex line("^\\[\\d\\d:\\d\\d:\\d\\d\\] File open error: " + dir.file("x.mp") + "\n$");
  EXPECT_TRUE(std::regex_match(flat.err, line)) << flat.err;
  EXPECT_EQ(paths(flat), (std::vector<std::string>{dir.file("a.mp3"), dir.file("b.MP3"),
                                                   dir.file("x.mp")}));
  ProcessResult quiet = Cli({"-q", "--format", "json", "frames", dir.file("x.mp"), dir.file("a.mp3")});
  EXPECT_EQ(quiet.exitCode, 1);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(ParseJson(quiet.out).array.size(), 2u) << "the batch goes on";
  ::unlink(dir.file("x.mp").c_str());
  ProcessResult deep = Cli({"-r", "frames", "--format", "json", dir.path()});
  ASSERT_EQ(deep.exitCode, 0) << deep.err;
  EXPECT_EQ(paths(deep), (std::vector<std::string>{dir.file("a.mp3"), dir.file("b.MP3"),
                                                   dir.file("sub/d.mp3")}));
  ProcessResult none = Cli({"frames", "--format", "json"});
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.out, "[]\n");
}

}  // namespace
}  // namespace velotag
