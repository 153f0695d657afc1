// velotag-cli as scripts see it: the real binary's standard output, standard
// error and exit status, on real MP3 files, with mutagen reading what it wrote.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "mb_answer.h"
#include "script_server.h"
#include "wavgen.h"
#include "../tags/id3v2_builder.h"
#include "cdimage.h"
#include "online/libofa.h"
#include "online/musicbrainz.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

class CliTest : public ::testing::Test {
 protected:
  // The CLI; under a limit on the size of any file it writes when one is
  // given (SIGXFSZ ignored, so that writes fail as on a full disk).
  ProcessResult Cli(std::vector<std::string> args, long fileSizeLimit = 0) {
    args.insert(args.begin(), {VELOTAG_CLI, "--home", home_.path()});
    if (fileSizeLimit > 0)
      args.insert(args.begin(), {"sh", "-c", "trap '' XFSZ; exec \"$@\"", "sh", "prlimit",
                                 "--fsize=" + std::to_string(fileSizeLimit), "--"});
    return RunProcess(args);
  }
  // Runs the CLI and expects its exit status.
  ProcessResult Run(int status, const std::vector<std::string>& args) {
    ProcessResult r = Cli(args);
    EXPECT_EQ(r.exitCode, status) << r.err;
    return r;
  }
  // A real MP3 file with an ID3v2.3 tag of these frames (APIC: a picture
  // file) and an ID3v1 tag {title, artist, album, year, comment, genre,
  // track}, written by our own tag code.
  std::string Mp3(const std::string& name, const std::map<std::string, std::string>& v2 = {},
                  std::optional<ID3v1Tag> v1 = {}) {
    std::string path = music_.file(name);
    WriteFileBytes(path, audio_);
    if (!v2.empty()) {
      ID3v2Tag tag;
      OpenID3v2(path, tag, 3);
      for (const auto& [id, text] : v2)
        EXPECT_TRUE(id == "APIC" ? SetID3v2Picture(tag, "", text, kID3Utf8, false)
                                 : SetID3v2Text(tag, id, text, kID3Utf8, false));
      EXPECT_TRUE(WriteID3v2(tag));
    }
    if (v1) {
      EXPECT_EQ(WriteID3v1(path, *v1), kTagDone);
    }
    return path;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  // mutagen's reading of the named fields.
  static void ExpectFields(const std::string& file, const std::map<std::string, std::string>& fields) {
    Json m = MutagenFields(file);
    for (const auto& [name, value] : fields) EXPECT_EQ(m[name].string, value) << file << ": " << name;
  }
  // Whether the status line "[hh:mm:ss] text" went to standard error.
  static bool Logged(const ProcessResult& r, const std::string& text) { return Has(r.err, "] " + text + "\n"); }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
  // Each command refused as a usage error (status 2) with its message, nothing run.
  void ExpectUsage(const std::vector<std::pair<std::vector<std::string>, std::string>>& cases) {
    for (const auto& [args, message] : cases) {
      ProcessResult r = Cli(args);
      EXPECT_EQ(r.exitCode, 2) << message << ": " << r.err;
      EXPECT_TRUE(Has(r.err, message)) << message << ": " << r.err;
      EXPECT_EQ(r.out, "") << message;
    }
  }

  const std::string kCover = std::string(VELOTAG_SOURCE_DIR) + "/tools/demo/cover.png";
  const std::map<std::string, std::string> kCovered = {{"TIT2", "Title"}, {"APIC", kCover}};
  TempDir music_, home_;
  const Bytes audio_ = ReadFileBytes(DataPath("peers/mutagen/no-tags.mp3"));
};

// Starts args as a child process, with TMPDIR set when tmp is given.
pid_t Spawn(std::vector<std::string> args, const std::string& tmp = "") {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!tmp.empty()) ::setenv("TMPDIR", tmp.c_str(), 1);
    ::_exit(::execv(argv[0], argv.data()));
  }
  return pid;
}

// A 2.3 tag with one frame of each kind the JSON decodes, before audio.
Bytes RichFile() {
  Bytes frames = Cat({
      Frame(3, "TIT2", TextBody("Title \xE9")),  // ISO-8859-1 é
      Frame(3, "TPE1", TextBody("Art\"ist")),
      Frame(3, "COMM", Cat({{0}, ToBytes("eng"), ToBytes("d"), {0}, ToBytes("Line1\r\nLine2")})),
      Frame(3, "WXXX", Cat({{0}, ToBytes("home"), {0}, ToBytes("http://x.org/")})),
      Frame(3, "TXXX", Cat({{3}, ToBytes("key"), {0}, ToBytes("value")})),
      Frame(3, "APIC",
            Cat({{0}, ToBytes("image/png"), {0, 3}, ToBytes("cover"), {0}, Bytes(50, 7)})),
      Frame(3, "WOAR", ToBytes("http://artist/")),
      Frame(3, "PRIV", Cat({ToBytes("owner"), {0, 1, 2}}), 0x0040),
      Frame(3, "TLEN", Cat({{0, 0, 0, 9}, ToBytes("zz")}), 0x8000),  // compressed
  });
  return Cat({Tag(3, frames, 100), Audio(1000)});
}

TEST_F(CliTest, VersionHelpAndUsageErrors) {
  EXPECT_EQ(Run(0, {"--version"}).out, std::string("velotag-cli ") + VELOTAG_VERSION + "\n");
  for (const char* flag : {"-h", "--help"}) EXPECT_TRUE(Has(Run(0, {flag}).out, "Usage: velotag-cli [OPTIONS] COMMAND"));
  const std::string a = Mp3("a.mp3");
  ExpectUsage({
      {{}, "no command given"},
      {{"bogus", a}, "unknown command \"bogus\""},
      {{"list", "--auto-track", a}, "unknown option --auto-track"},
      {{"change", "titel=1", a}, "unknown field \"titel\" in change; the fields are: track title artist album year"},
      {{"change", "disc=2", a}, "disc is an ID3v2 field; add --edit v2"},
      {{"change", a}, "change needs at least one FIELD=VALUE"},
      {{"rename"}, "rename needs more arguments"},
      {{"--edit=v0", "frames", a}, "--edit takes v1 or v2"},
      {{"--format", "xml", "frames", a}, "--format takes tsv, csv or json"},
      {{"--format", "csv", "frames", a}, "frames has no --format csv"},
      {{"frames", a, "--home"}, "--home needs a value"},
      {{"--cddb-server", "host:99999", "frames", a}, "--cddb-server takes HOST[:PORT]"},
      {{"-q=1", "frames", a}, "unknown option -q=1"},
      {{"--quiet=yes", "frames", a}, "--quiet takes no value"},
      {{"frames", a, music_.file("missing.mp3")}, "no such file or folder: "},
      {{"--acoustid-server", "api.acoustid.org", "autotag", a}, "--acoustid-server"},
      {{"--acoustid-server", "https://:80/x", "autotag", a}, "--acoustid-server"},
  });
}

TEST_F(CliTest, FramesAsJsonAndAsText) {
  const std::string f = music_.file("rich.mp3"), odd = music_.path() + "-odd.mp3", bad = music_.file("bad.mp3");
  WriteFileBytes(f, RichFile());
  WriteFileBytes(odd, Audio(500));
  WriteFileBytes(bad, Cat({{'I', 'D', '3', 9, 0, 0, 0, 0, 0, 5}, Audio(100)}));
  // Options go anywhere before "--"; after it, "-odd.mp3" is a file.
  ProcessResult r = Run(0, {"frames", f, "--format", "json", "-q", "--show=v2", "--fingerprint-server",
                            "localhost:8080", "-y", "-r", "--home", music_.path(), "--edit", "v2",
                            "--cddb-server", "[::1]:8880", "--", odd});
  Json all = ParseJson(r.out);
  ASSERT_EQ(all.array.size(), 2u);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(all[0]["path"].string, f);
  EXPECT_EQ(all[1]["path"].string, odd);
  EXPECT_TRUE(all[1]["tag"].isNull()) << r.out;
  const Json &tag = all[0]["tag"], &fields = tag["fields"], &frames = tag["frames"];
  EXPECT_EQ(tag["offset"].number, 0);
  EXPECT_EQ(tag["version"].number, 3);
  EXPECT_EQ(tag["size"].number, static_cast<double>(RichFile().size() - 1010));
  EXPECT_EQ(fields.object.size(), 16u);
  ASSERT_EQ(frames.array.size(), 9u);
  for (const auto& [name, value] : std::map<std::string, std::string>{
           {"title", "Title \xC3\xA9"}, {"artist", "Art\"ist"}, {"comment", "Line1 Line2"}, {"url", "http://x.org/"}})
    EXPECT_EQ(fields[name].string, value) << name;
  // Each kind of body decoded; a compressed body (the last) is not.
  const std::tuple<std::size_t, std::string, std::string> kMembers[] = {
      {2, "language", "eng"}, {2, "description", "d"}, {2, "text", "Line1\r\nLine2"}, {3, "description", "home"},
      {3, "url", "http://x.org/"}, {4, "description", "key"}, {4, "value", "value"}, {5, "mime", "image/png"},
      {5, "description", "cover"}, {6, "url", "http://artist/"}};
  for (const auto& [i, member, value] : kMembers) EXPECT_EQ(frames[i][member].string, value) << i << " " << member;
  EXPECT_EQ(frames[5]["type"].number, 3);
  EXPECT_EQ(frames[5]["data_size"].number, 50);
  EXPECT_EQ(frames[7]["flags"].number, 64);
  EXPECT_EQ(frames[8].object.size(), 3u);

  const std::string o = Run(0, {"frames", f, bad}).out;
  EXPECT_TRUE(o.starts_with(f + "\n  ID3v2.3.0 at offset 0, flags 0x00, size ")) << o;
  for (const std::string& part : {std::string("  TIT2        9  0x0000  \"Title \xC3\xA9\"\n"),
                                  std::string("[eng] \"d\": \"Line1\\r\\nLine2\""),
                                  std::string("image/png, Cover (front), \"cover\", 50 bytes"), bad + "\n  no usable ID3v2 tag"})
    EXPECT_TRUE(Has(o, part)) << part << " in\n" << o;
}

// A link to another folder is neither followed nor listed, and a pipe named
// like an MP3 (which once hung every scan and batch for good) is refused at once.
TEST_F(CliTest, FoldersListTheirMp3FilesAndFailuresGiveOne) {
  ::mkdir(music_.file("sub").c_str(), 0755);
  for (const char* name : {"a.mp3", "b.MP3", "c.txt", "x.mp", "noext", "sub/d.mp3"})
    WriteFileBytes(music_.file(name), Audio(100));
  WriteFileBytes(home_.file("outside.mp3"), Audio(100));
  ASSERT_EQ(::symlink(home_.path().c_str(), music_.file("link").c_str()), 0);
  auto paths = [](const ProcessResult& r) {
    std::vector<std::string> out;
    for (const Json& f : ParseJson(r.out).array) out.push_back(f["path"].string);
    return out;
  };
  // As in the window, an extension found inside "*.mp3" qualifies, and x.mp
  // then fails as a file the tag code does not open.
  ProcessResult flat = Run(1, {"frames", "--format", "json", music_.path()});
  EXPECT_TRUE(Logged(flat, "File open error: " + music_.file("x.mp"))) << flat.err;
  EXPECT_EQ(Lines(flat.err).size(), 1u) << flat.err;
  EXPECT_EQ(paths(flat), (std::vector<std::string>{music_.file("a.mp3"), music_.file("b.MP3"), music_.file("x.mp")}));
  ::unlink(music_.file("x.mp").c_str());
  EXPECT_EQ(paths(Run(0, {"-r", "frames", "--format", "json", music_.path()})),
            (std::vector<std::string>{music_.file("a.mp3"), music_.file("b.MP3"), music_.file("sub/d.mp3")}));
  EXPECT_EQ(Run(0, {"frames", "--format", "json"}).out, "[]\n");

  const std::string pipe = music_.file("pipe.mp3");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  for (std::vector<std::string> args : {std::vector<std::string>{"list"}, {"--edit", "v1", "change", "title=x"},
                                        {"--edit", "v2", "change", "title=x"}}) {
    args.push_back(music_.path());
    EXPECT_TRUE(Has(Run(1, args).err, pipe)) << args[0];
  }
}

// Texts from tags and file names in every format. tsv escapes tabs, line
// breaks and escape sequences, and so do the status lines and any output on
// a terminal; JSON keeps values as they are and writes file-name bytes that
// are not UTF-8 as \udc80..\udcff, which Python's surrogateescape reads back
// into the same bytes (the file is found by them).
TEST_F(CliTest, TextsAndNamesInEveryFormat) {
  const std::string evil = "\x1B[2J\x07\xC2\x9B", shown = "\\x1B[2J\\x07\\u009B";
  const std::string bytes = "bad\xe9name\xed\xa0\x80 \xf0\x9f\x98\x80.mp3", b = Mp3(bytes);
  Mp3("a" + evil + ".mp3", {{"TIT2", "Tab\t" + evil}, {"TPE1", "Line\nbreak \\ slash"}},
      ID3v1Tag{"V1 title", "", "", 999, "", 17, 4});
  ProcessResult r = Run(0, {"list", music_.path()});
  const std::string header = "filename\tTrack\tArtist\tTitle\tAlbum\tYear\tGenre\tComment\tpath\tSize\tID3v1\tID3v2\n";
  EXPECT_TRUE(r.out.starts_with(header)) << r.out;
  for (const std::string& row : {"\na" + shown + ".mp3\t004\t\tV1 title\t\t0999\tRock\t\t" + music_.path(),
                                 "\n" + bytes + std::string(8, '\t') + b + "\t"})
    EXPECT_TRUE(Has(r.out, row)) << row << " in\n" << r.out;
  EXPECT_TRUE(Has(Run(0, {"--show", "v2", "list", music_.path()}).out,
                  "\tLine\\nbreak \\\\ slash\tTab\\t" + shown + "\t\t\t\t\t/"));
  Json j = ParseJson(Run(0, {"--show", "v2", "--format", "json", "list", music_.path()}).out);
  EXPECT_EQ(j[0]["Title"].string, "Tab\t" + evil);
  EXPECT_EQ(j[0]["Artist"].string, "Line\nbreak \\ slash");
  const std::string check =
      "import json, os, sys\n"
      "for o in json.loads(sys.stdin.buffer.read().decode('utf-8')):\n"
      "    print(os.path.isfile(o['path'].encode('utf-8', 'surrogateescape')),\n"
      "          o['filename'] == os.path.basename(o['path']))\n";
  r = Run(0, {"list", "--format", "json", music_.path()});
  ProcessResult back = RunProcess({PythonPath(), "-c", check}, r.out);
  EXPECT_EQ(back.out, "True True\nTrue True\n") << back.err << r.out;
  r = Run(1, {"-y", "rename", "%album%", music_.path()});
  EXPECT_TRUE(Logged(r, "File doesn't contain enough ID3 tag: a" + shown + ".mp3")) << r.err;
  ProcessResult tty = RunProcess({"script", "-qec", std::string("'") + VELOTAG_CLI + "' --home '" + home_.path() +
                                      "' --format csv list '" + music_.path() + "'", "/dev/null"});
  // There the progress line is shown too; it never goes into a pipe.
  EXPECT_TRUE(tty.out.starts_with("\r0/2 files  0.0 %  ")) << tty.out;
  EXPECT_FALSE(Has(tty.out, "\x1B[2J")) << tty.out;
  for (const std::string& row : {std::string("\"filename\";\"Track\";\"Artist\";"), "a" + shown + ".mp3;004;;V1 title;;0999;Rock;"})
    EXPECT_TRUE(Has(tty.out, row)) << row << " in\n" << tty.out;
  EXPECT_FALSE(Has(r.err, "\r")) << r.err;
}

// Every FIELD of change reaches the frame mutagen names it by, and load
// reads each back under its own name (a swapped frame or input box would not).
// A second change takes unusual values and leaves the other fields alone; an
// image too big to load is said, and the pictures stay.
TEST_F(CliTest, EveryFieldReachesItsFrameAndLoadsBack) {
  // FIELD, mutagen's name of its frame.
  const std::vector<std::pair<std::string, std::string>> kFields = {
      {"track", "track"}, {"title", "title"}, {"artist", "artist"}, {"album", "album"}, {"year", "year"},
      {"genre", "genre"}, {"comment", "comment"}, {"disc", "partofset"}, {"albumartist", "band"},
      {"composer", "composer"}, {"publisher", "publisher"}, {"origartist", "origartist"},
      {"copyright", "copyright"}, {"url", "url"}, {"encoded", "encodedby"}, {"bpm", "bpm"}};
  const std::string a = Mp3("07 a.mp3", kCovered), huge = music_.file("huge.png");
  std::vector<std::string> args = {"--edit", "v2", "change"}, written;
  // A distinct year-like number each, which every frame takes as it is.
  for (std::size_t i = 0; i < kFields.size(); ++i) args.push_back(kFields[i].first + "=" + std::to_string(1001 + i));
  const std::vector<std::string> set(args.begin() + 3, args.end());
  args.push_back(a);
  Run(0, args);
  Json m = MutagenFields(a);
  for (const auto& [field, name] : kFields) written.push_back(field + "=" + m[name].string);
  EXPECT_EQ(written, set);
  const std::vector<std::string> loaded = Lines(Run(0, {"--edit", "v2", "load", a}).out);
  for (const std::string& line : set) EXPECT_NE(std::find(loaded.begin(), loaded.end(), line), loaded.end()) << line;

  auto pictured = [&] { return Has(Cli({"frames", a}).out, "\n  APIC "); };
  WriteFileText(huge, "");
  ASSERT_EQ(::truncate(huge.c_str(), 300L << 20), 0);  // beyond any tag, and sparse
  ProcessResult r = Run(1, {"--edit", "v2", "change", "--auto-track", "title=Árvíztűrő tükörfúrógép 😀",
                            "genre=Post-rock", "comment=two\nlines", "picture=" + huge, music_.path()});
  EXPECT_TRUE(Logged(r, "File open error: " + huge)) << r.err;
  EXPECT_TRUE(pictured());
  ExpectFields(a, {{"title", "Árvíztűrő tükörfúrógép 😀"}, {"genre", "Post-rock"}, {"comment", "two\nlines"},
                   {"track", "7"}, {"album", "1004"}});
  Run(0, {"--edit", "v2", "change", "picture=", a});  // an empty path removes them
  EXPECT_FALSE(pictured());
}

TEST_F(CliTest, ChangeID3v1CopyBothWaysAndClear) {
  std::string a = Mp3("a.mp3"), b = Mp3("b.mp3", {}, ID3v1Tag{"Only", "", "", 0, "note", 255, 0});
  Run(0, {"change", "track=7", "year=1999abc", "genre=Rock", "title=T", a});
  EXPECT_TRUE(Logged(Run(0, {"copy", a, b}), "Copied 2 ID3(s)"));
  // What the change wrote into ID3v1, in ID3v2; no number, no frame.
  ExpectFields(a, {{"title", "T"}, {"track", "7"}, {"year", "1999"}, {"genre", "Rock"}});
  ExpectFields(b, {{"comment", "note"}, {"track", ""}, {"year", ""}});

  // ID3v2 into ID3v1: numbers from their leading digits, genre names without blanks.
  std::string c = Mp3("c.mp3", {{"TIT2", "From v2"}, {"TRCK", "300/12"}, {"TDRC", "2005"}, {"TCON", "Classic  Rock"}});
  const Bytes withoutV1 = ReadFileBytes(c);
  Run(0, {"--edit", "v2", "copy", c});
  ID3v1Tag v1;
  ASSERT_EQ(ReadID3v1(c, v1), kTagDone);
  EXPECT_EQ(v1.Title, "From v2");
  EXPECT_EQ(v1.Track, 44);
  EXPECT_EQ(v1.Year, 2005);
  EXPECT_EQ(v1.Genre, 1);
  // clear asks first.
  EXPECT_TRUE(Has(Run(1, {"clear", c}).err, "Do you really want to clear ID3 tag(s)? No (-y answers Yes)"));
  EXPECT_EQ(ReadID3v1(c, v1), kTagDone);
  EXPECT_TRUE(Logged(Run(0, {"-y", "clear", c}), "Cleared 1 ID3(s)"));
  EXPECT_EQ(ReadFileBytes(c), withoutV1);
}

TEST_F(CliTest, RenameFromTheShownTag) {
  Mp3("x.mp3", {{"TRCK", "3"}, {"TPE1", "AC/DC"}, {"TIT2", "Song"}});
  Mp3("z.mp3", {{"TRCK", "5"}, {"TPE1", "X"}, {"TIT2", "Same"}});
  Mp3("05 - X - Same.mp3");
  ProcessResult r = Run(1, {"-y", "--show", "v2", "rename", "%track:2::0% - %artist% - %title%", music_.path()});
  EXPECT_TRUE(Logged(r, "File exist: 05 - X - Same.mp3")) << r.err;
  EXPECT_TRUE(Logged(r, "Renamed file(s): 1")) << r.err;
  // "/" from the tag stays inside the folder.
  EXPECT_EQ(FolderNames(music_.path()),
            (std::vector<std::string>{"03 - AC-DC - Song.mp3", "05 - X - Same.mp3", "z.mp3"}));
}

TEST_F(CliTest, PicturesLoadAndCsv) {
  std::string a = Mp3("a.mp3");
  // Written by mutagen: a picture and user texts, as another tagger leaves them.
  RunTool("mutagen_id3v2.py", {"write", a, R"({"version": 4, "frames": [
            {"id": "TXXX", "encoding": 3, "desc": "MOOD", "text": "calm"},
            {"id": "TXXX", "encoding": 1, "desc": "tab", "text": "a\tb"},
            {"id": "APIC", "encoding": 3, "mime": "image/png", "type": 3, "desc": "front",
             "data": "89504e4707"}]})"});
  ASSERT_FALSE(HasFailure());
  const std::string picture = music_.file("a_front(Cover_(front)).png");
  EXPECT_EQ(Run(0, {"pictures", a}).out, picture + "\n");
  EXPECT_EQ(ReadFileBytes(picture), Bytes({0x89, 'P', 'N', 'G', 7}));

  // The fields, then the user texts.
  ProcessResult r = Run(0, {"--edit", "v2", "load", a});
  EXPECT_EQ(Lines(r.out).size(), 19u) << r.out;
  EXPECT_TRUE(r.out.ends_with("\ntxxx=MOOD=calm\ntxxx=tab=a\\tb\n")) << r.out;
  EXPECT_TRUE(Logged(r, "The file contain picture(s) a.mp3")) << r.err;

  EXPECT_EQ(Run(0, {"csv", "-o", music_.file("list.csv"), a}).out, music_.file("list.csv") + "\n");
  // Without -o: a name of the day in the program folder, numbered when taken.
  std::string first = Cli({"csv", a}).out, second = Cli({"csv", a}).out;
  EXPECT_EQ(GetFolderPart(first), home_.path());
  EXPECT_EQ(second, first.substr(0, first.size() - 5) + "(001).csv\n");
}

// Without a service, auto tag says so at once, without waiting for a
// time-out; nor does a cache that links to a device hold it up. With a key
// it asks AcoustID, end to end: a real MP3 made by lame, Chromaprint over it
// decoded in process, a scripted JSON answer on 127.0.0.1, and what it
// names written into the tag, the album too.
TEST_F(CliTest, AutotagAgainstAScriptedService) {
  ASSERT_EQ(::symlink("/dev/urandom", home_.file("LocalDB.ini").c_str()), 0);
  ProcessResult r = Run(1, {"autotag", Mp3("a.mp3")});
  EXPECT_TRUE(Logged(r, "LocalDB.ini is not a regular file: it is not used")) << r.err;
  EXPECT_TRUE(r.err.ends_with("] Auto tagged file(s): 0\n")) << r.err;
  const std::string mp3 = music_.file("tones.mp3");
  if (!WriteToneMp3(mp3, 20)) GTEST_SKIP() << "lame is not on PATH (install lame)";
  TempDir web;
  ScriptServer server(home_.file("requests.jsonl"), "", "", web.path());
  ASSERT_TRUE(server.ok() && CreatePath(web.path() + "best/v2"));
  WriteFileText(web.path() + "best/v2/lookup",
                R"({"status": "ok", "results": [{"id": "aid-1", "score": 0.9, "recordings": [
                   {"id": "rid-1", "title": "Ének", "artists": [{"name": "Иван"}],
                    "releasegroups": [{"title": "四季", "type": "Album"}]}]}]})");
  r = Run(0, {"--acoustid-key", "K3y", "--acoustid-server", server.url("/best"),
                            "--show", "v2", "autotag", mp3});
  EXPECT_TRUE(Logged(r, "tones.mp3: Иван - Ének")) << r.err;
  EXPECT_TRUE(Logged(r, "Auto tagged file(s): 1")) << r.err;
  ExpectFields(mp3, {{"title", "Ének"}, {"artist", "Иван"}, {"album", "四季"}});
  EXPECT_EQ(server.Requests().size(), 1u);
}

// An auto tag (through libofa) ended by a signal while the decoder writes
// its WAV, or while the lookup waits for a server that never answers:
// SIGTERM, or a second Ctrl-C after the Stop of the first, ends the process
// at once, and neither the decoded "libofa_tmp_*.wav" in the program folder
// nor a "QRN*" answer file in $TMPDIR is left, nor the decoder running.
TEST_F(CliTest, AnAutotagEndedBySignalsLeavesNoFiles) {
  if (!ClassLibofa(LibofaOptions{home_.path(), "", {}}).DRIVER_INSTALLED())
    GTEST_SKIP() << "libofa.so.0 cannot be loaded (install libofa0)";
  const std::string mp3 = music_.file("tones.mp3");
  if (!WriteToneMp3(mp3, 30)) GTEST_SKIP() << "lame is not on PATH (install lame)";
  // Takes connections and never answers.
  FileHandle silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  socklen_t length = sizeof addr;
  ASSERT_TRUE(::bind(silent.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              ::listen(silent.get(), 8) == 0);
  ::getsockname(silent.get(), reinterpret_cast<sockaddr*>(&addr), &length);
  const std::string server = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

  TempDir tmp;
  auto names = [](const std::string& folder, const std::string& prefix) {
    return std::ranges::count_if(FolderNames(folder), [&](const std::string& n) { return n.starts_with(prefix); });
  };
  // The file whose appearance marks the moment, the signals then.
  const std::pair<std::string, std::vector<int>> cases[] = {
      {"libofa_tmp_", {SIGTERM}}, {"QRN", {SIGTERM}}, {"QRN", {SIGINT, SIGINT}}};
  for (const auto& [when, signals] : cases) {
    SCOPED_TRACE(testing::Message() << when << " " << signals.size());
    const pid_t pid = Spawn({VELOTAG_CLI, "--home", home_.path(), "-q", "--fingerprint-server", server, "autotag", mp3},
                            tmp.path());
    const std::string& folder = when == "QRN" ? tmp.path() : home_.path();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (names(folder, when) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    for (int sig : signals) {
      ::kill(pid, sig);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signals.back()) << status;
    EXPECT_EQ(names(home_.path(), "libofa_tmp_") + names(tmp.path(), ""), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(RunProcess({"pgrep", "-f", "--", "--decode " + mp3}).out, "") << "the decoder runs on";
  }
}

// ---- failures lose nothing ----

// On a full disk every write fails cleanly and says so: no MP3, export or
// picture is left cut short, and an older export survives. Nor is a
// read-only MP3 written.
TEST_F(CliTest, WriteFailuresLoseNothing) {
  const std::string song = Mp3("song.mp3", kCovered), csv = music_.file("list.csv");
  const Bytes mp3 = ReadFileBytes(song);
  WriteFileText(csv, "the older export");
  const std::pair<std::vector<std::string>, long> cases[] = {
      {{"--edit", "v1", "change", "title=New", song}, static_cast<long>(mp3.size()) + 64},  // half a block fits
      {{"csv", "-o", csv, song}, 64},
      {{"pictures", song}, 100}};  // a picture bigger than the limit
  for (const auto& [args, limit] : cases) {
    ProcessResult r = Cli(args, limit);
    EXPECT_EQ(r.exitCode, 1) << args[0] << ": " << r.err;
    EXPECT_TRUE(Has(r.err, "File write error: ")) << args[0] << ": " << r.err;
  }
  EXPECT_EQ(ReadFileBytes(song), mp3);
  EXPECT_EQ(ReadFileBytes(csv), ToBytes("the older export"));
  EXPECT_EQ(FolderNames(music_.path()), (std::vector<std::string>{"list.csv", "song.mp3"}))
      << "a cut picture or a temporary file was left";

  OpenToEveryone(music_.path());
  OpenToEveryone(home_.path());
  ::chmod(song.c_str(), 0444);
  // As nobody when the tests run as root, so that the permission holds.
  EXPECT_TRUE(RunUnprivileged([&] {
    ProcessResult c = Cli({"--edit", "v2", "change", "title=new", song});
    return c.exitCode == 1 && Has(c.err, "File write error: " + song) && Has(c.err, "Changed 0 MP3(s)");
  }));
  EXPECT_EQ(ReadFileBytes(song), mp3);
}

// A batch that rewrites 200 files (every tag outgrows its room), killed with
// SIGKILL at random moments up to its whole length: afterwards every file is
// there, byte for byte either as it was or as the finished batch makes it.
TEST_F(CliTest, AKilledBatchLeavesEveryFileOldOrNew) {
  constexpr int kFiles = 200;
  std::vector<Bytes> before(kFiles), after(kFiles);
  auto name = [&](int i) { return music_.file("song" + std::to_string(i) + ".mp3"); };
  auto restore = [&] {
    for (int i = 0; i < kFiles; ++i) WriteFileBytes(name(i), before[i]);
  };
  for (int i = 0; i < kFiles; ++i)
    before[i] = Cat({Tag(3, Frame(3, "TIT2", TextBody(std::to_string(i))), 10), Audio(20000 + i)});
  const std::vector<std::string> args = {VELOTAG_CLI, "--home", home_.path(), "-q", "--edit", "v2",
                                         "change", "artist=" + std::string(300, 'a'), music_.path()};
  restore();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunProcess(args).exitCode, 0);
  const std::chrono::duration<double> whole = std::chrono::steady_clock::now() - start;
  for (int i = 0; i < kFiles; ++i) after[i] = ReadFileBytes(name(i));
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 12; ++round) {
    restore();
    const double delay = std::uniform_real_distribution<double>(0, whole.count())(random);
    std::vector<std::string> killed = {"timeout", "-s", "KILL", std::to_string(delay)};
    killed.insert(killed.end(), args.begin(), args.end());
    RunProcess(killed);
    for (int i = 0; i < kFiles; ++i) {
      const Bytes now = ReadFileBytes(name(i));
      ASSERT_TRUE(now == before[i] || now == after[i]) << name(i) << " killed after " << delay << " s";
    }
  }
}

// ---- the CD commands, on a disc image and a scripted CDDB server ----

TEST_F(CliTest, CdCommands) {
  CdImage image = MakeCdImage(music_.path(), "disc", {{1000}, {800}, {300}, {400, true}});
  ScriptServer server(home_.file("requests.jsonl"), "", "", music_.path());  // MusicBrainz: music_/mb/...
  ASSERT_TRUE(server.ok());
  const std::string host = server.hostPort(), cue = image.cue;
  const std::string mbId = MusicBrainzDiscId(1, 3, 2250, {150, 1150, 1950}), mb = server.url("/mb");
  ASSERT_TRUE(CreatePath(music_.path() + "mb/ws/2/discid"));
  WriteFileText(music_.path() + "mb/ws/2/discid/" + mbId, MusicBrainzFoundAnswer(mbId));
  ExpectUsage({
      {{"cd", "rip", "--server", "musicbrainz", "--category", "rock", "--discid", "1"}, "not both"},
      {{"cd", "toc", "--drive", music_.file("none.cue")}, "no such device or image: "},
      {{"cd", "rip", "--drive", cue, "--tracks", "9"}, "the disc has no track 9"},
      {{"--cddb-email", "nobody", "cd", "drives"}, "--cddb-email takes an e-mail address"}});
  EXPECT_EQ(Run(0, {"cd", "toc", "--drive", cue}).out,
            "AudioTrack01 [ 00:00:13 ]\nAudioTrack02 [ 00:00:11 ]\nAudioTrack03 [ 00:00:04 ]\n"
            " DataTrack04 [ 00:00:05 ]\n");
  // The disc ID, the status line, then the matches.
  const std::string query =
      Run(0, {"--cddb-server", host, "--cddb-email", "me@example.org", "cd", "query", "--drive", cue}).out;
  EXPECT_TRUE(Has(query, "\nrock " + query.substr(0, 8) + " T\u00ebst \u00c1rtist / \u0410\u043b\u044c\u0431\u043e\u043c\n"))
      << query;
  EXPECT_TRUE(Has(server.Requests().back()["path"].string, "hello=me%20example.org"));
  // The MusicBrainz disc ID, the status line and the releases.
  EXPECT_EQ(Run(0, {"--musicbrainz-server", mb, "cd", "query", "--server", "musicbrainz", "--drive", cue}).out,
            mbId + "\n2 release(s)\nПётр Чайковский & Orchestra / Времена года & 四季 (1997-05-21, JP)\n"
                   "Various / Box (disc 2/2)\n");

  // Each rip prints the WAV files it wrote below CDRIP/ ("*" is the dated folder).
  const std::pair<std::vector<std::string>, std::vector<std::string>> rips[] = {
      {{"-y", "cd", "rip", "--tracks", "1,3"}, {"*/AudioTrack01 [ 00;00;13 ].wav", "*/AudioTrack03 [ 00;00;04 ].wav"}},
      {{"--cddb-server", host, "cd", "rip", "--fast", "--category", "data", "--discid", "1"},
       {"*/01 Same.wav", "*/02 Same.wav", "*/AudioTrack03 [ 00;00;04 ].wav"}},
      // A title the record continues over several lines.
      {{"--cddb-server", host, "cd", "rip", "--tracks", "2", "--server", "freedb"},
       {"T\u00ebst \u00c1rtist - \u0410\u043b\u044c\u0431\u043e\u043c/02 AC-DC; Back In Black.wav"}},
      {{"--musicbrainz-server", mb, "cd", "rip", "--tracks", "1-2", "--server", "musicbrainz"},
       {"Пётр Чайковский & Orchestra - Времена года & 四季/01 久石 譲 - Январь; У камелька.wav",
        "Пётр Чайковский & Orchestra - Времена года & 四季/02 Февраль.wav"}}};
  for (auto [args, files] : rips) {
    args.insert(args.end(), {"--drive", cue});
    std::vector<std::string> printed;
    for (std::string path : Lines(Run(0, args).out)) {
      EXPECT_GT(GetLargeFileSize(path), 300 * 2352) << path;
      path.erase(0, home_.path().size() + 6);  // after "CDRIP/"
      printed.push_back(files[0][0] == '*' ? "*" + path.substr(path.find('/')) : path);
    }
    EXPECT_EQ(printed, files);
    DeleteTree(home_.path() + "CDRIP/");
  }
}

}  // namespace
}  // namespace velotag
