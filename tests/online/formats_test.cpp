// What the online modules parse and store: URLs and response headers, the
// local database of answers, and WAV files (XML answers are read end to end
// by the lookup tests).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "online/http.h"
#include "online/localdb.h"
#include "online/url.h"
#include "online/wave.h"
#include "support/paths.h"
#include "testutil.h"
#include "wavgen.h"

namespace velotag {
namespace {

TEST(Url, EncodingAndParts) {
  // A query's names and values: reserved, unsafe and control characters
  // encoded, marks not; é by its single-byte code, € (which has none) as "?".
  const std::vector<NameValue> pairs = {
      {" cmd ", "cddb query"}, {"", "skipped"}, {"a&b", "$&+,/:;=?@\"#%<>[\\]^`{|}~\t!'()*-._\xc3\xa9\xe2\x82\xac"}};
  EXPECT_EQ(BuildQueryString(pairs, true), "cmd=cddb%20query&a%26b=%24%26%2B%2C%2F%3A%3B%3D%3F%40%22%23%25%3C%3E"
                                           "%5B%5C%5D%5E%60%7B%7C%7D%7E%09!'()*-._%E9%3F");

  const std::pair<std::string, std::string> names[] = {
      {"http://host:81/a/b.mp3?x=1#f", "b.mp3 http://host:81"}, {"http://host/a/b.mp3%3Fx=1", "b.mp3 http://host"},
      {"http://host/a/b.mp3&#63;x", "b.mp3 http://host"},      {"http://host/a/b%23frag", "b http://host"},
      {"http://host?q=/x", " http://host"},                     {"/path/only.txt", "only.txt "}};
  for (const auto& [url, parts] : names) EXPECT_EQ(UrlFileName(url) + " " + UrlOrigin(url), parts) << url;
  const std::pair<std::string, std::string> targets[] = {
      {"http://u:p@h:8080", "h:8080 / 8080"}, {"HTTPS://h/a?b", "h /a?b 443"}, {"h:0/x", "h:0 /x 80"},
      {"http://h:.6/", "h:.6 / 80"}};  // once port 0 (found by fuzzing)
  for (const auto& [url, parts] : targets) {
    RequestTarget t;
    ASSERT_TRUE(ParseRequestUrl(url, t)) << url;
    EXPECT_EQ(t.hostPart + " " + t.path + " " + std::to_string(t.port), parts);
  }
}

TEST(ResponseHeaders, StatusLineAndKnownHeaders) {
  HttpResult r = ParseResponseHeaders(
      "HTTP/1.1 301 Moved Permanently\r\nContent-Length: 1234\r\nContent-Type: Text/XML\r\n"
      "Location:   /new  \r\nContent-Length : 5\r\nNoColonHere\r\n\r\nX-After-The-End: ignored");
  EXPECT_EQ(r.status, 301);
  EXPECT_EQ(r.contentLength, 1234);  // a blank before the colon defeats the match
  EXPECT_EQ(r.contentType, "text/xml");
  EXPECT_EQ(r.location, "/new");
  EXPECT_EQ(r.headers.back(), NameValue("nocolonhere", ""));
  // Numbers from the network are bounded, never overflowed.
  EXPECT_EQ(ParseResponseHeaders("garbage").status, 0);
  EXPECT_EQ(ParseResponseHeaders("HTTP/1.0 99999 Huge\r\n").status, 0);
  EXPECT_EQ(ParseResponseHeaders("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n").contentLength,
            9000000000000000000LL);
}

TEST(LocalDb, AppendsOnlyValidSectionsOfAnswerLines) {
  test::TempDir dir;
  const std::string db = dir.file("LocalDB.ini");
  for (const std::string text : {"", "[FP]\r\nuid=only-a-puid\r\n", "[FP]\r\nalb=a\r\ngnr=b\r\n",
                                 "[]\r\nart=a\r\nttl=b\r\n", "FP]\r\nart=a\r\nttl=b\r\n"})
    EXPECT_FALSE(AddDBSection(db, text)) << text;  // a lone PUID would be asked for again
  EXPECT_EQ(GetPathType(db), kPathMissing);
  EXPECT_TRUE(AddDBSection(db, "[FP1]\r\nuid=p1\r\nart=Artist\r\nttl=Title\r\n"));
  ::chmod(db.c_str(), 0444);  // read-only is no obstacle
  // Escaped so that any text survives; other lines dropped; the sections
  // separated by an empty line.
  const std::string title = "Ttl=\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xc3\xa9t\xc3\xa9";  // Иван été
  EXPECT_TRUE(AddDBSection(db, "  [FP2]  \r\n\r\n ART=AC\\DC\nLive \r\nalb=x\r\nnoise\r\n" + title));
  const test::Bytes stored = test::ReadFileBytes(db);
  EXPECT_EQ(std::string(stored.begin(), stored.end()),
            "[FP1]\r\nuid=p1\r\nart=Artist\r\nttl=Title\r\n\r\n"
            "[FP2]\r\nART=AC\\\\DC\\nLive\r\nTtl=\\x0418\\x0432\\x0430\\x043D \xe9t\xe9\r\n");
  ::chmod(db.c_str(), 0444);
  std::vector<std::string> lines;
  ASSERT_EQ(GetDBSection(db, "fp2", lines), 2);
  EXPECT_EQ(lines, std::vector<std::string>({"ART=AC\\DC\nLive", title}));
  EXPECT_EQ(test::ModeOf(db), 0444u);  // a lookup only reads
}

// The first section of a name; only a regular file is read, and of a line
// only so much: a link to a device ends at once, a huge line costs no more
// than the limit, and nothing is appended where nothing would be read.
TEST(LocalDb, FindsTheFirstSectionOfANameInRegularFilesOnly) {
  test::TempDir dir;
  std::string text =
      "; a comment before any section\r\n[other]\r\nart=not this\r\n"
      "[Wanted]\r\n  art=Artist\r\n;ttl=commented\r\nno equals sign\r\n=starts with equals\r\n"
      "\r\nuid=p\r\nttl=a\nb\r\n"  // a lone LF is dropped from the line
      "[next]\r\nart=after\r\n[wanted]\r\nart=the second of the name\r\n";
  for (int i = 0; i < 200; ++i) text += "[fp" + std::to_string(i) + "]\r\nart=a" + std::to_string(i) + "\r\n";
  test::WriteFileText(dir.file("db.ini"), text + "[last]\r\nart=no final line break");
  const std::string longUid = "uid=" + std::string(kMaxLocalDbLine - 4, 'x');
  test::WriteFileText(dir.file("huge.ini"), "[a]\r\nart=" + std::string(3 * kMaxLocalDbLine, 'x') +
                                                "\r\nttl=t\r\n[b]\r\n" + longUid + "\r\nart=b\r\n");
  ASSERT_EQ(::symlink("/dev/zero", dir.file("zero.ini").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo.ini").c_str(), 0644), 0);
  const struct {
    std::string file, name;
    std::int32_t count;
    std::vector<std::string> lines;
  } cases[] = {
      {"db.ini", " [WANTED] ", 3, {"art=Artist", "uid=p", "ttl=ab"}},
      {"db.ini", "fp150", 1, {"art=a150"}},  // far past the first block read
      {"db.ini", "last", 1, {"art=no final line break"}},
      {"missing.ini", "wanted", 0, {}},
      {"huge.ini", "a", 1, {"ttl=t"}},
      {"huge.ini", "b", 2, {longUid, "art=b"}},
      {"zero.ini", "a", 0, {}},
      {"fifo.ini", "a", 0, {}},
  };
  for (const auto& c : cases) {
    const bool device = c.file == "zero.ini" || c.file == "fifo.ini";
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> lines = {"stale"};
    EXPECT_EQ(GetDBSection(dir.file(c.file), c.name, lines), c.count) << c.file << c.name;
    EXPECT_EQ(lines, c.lines) << c.file << c.name;
    if (c.file != "missing.ini") {
      EXPECT_EQ(LocalDbProblem(dir.file(c.file)), device ? c.file + " is not a regular file: it is not used" : "");
    }
    if (device || c.file == "huge.ini") {
      EXPECT_EQ(AddDBSection(dir.file(c.file), "[c]\r\nart=a\r\nttl=b\r\n"), !device) << c.file;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.file;
  }
}

// Headers of every shape, sound or broken; reading one never makes it writable.
TEST(Wave, HeaderChunksDurationAndRefusals) {
  const test::WavSpec tiny{.rate = 8000, .channels = 1, .seconds = 0.1};
  const struct {
    const char* what;
    test::WavSpec spec;
    std::int64_t dataOffset;  // -1: refused
    std::int32_t frames = 0;
    std::size_t at = 0;  // where patch overwrites the file
    std::string patch = "";
    std::size_t cut = 0;  // the length it is cut to
  } cases[] = {
      {"mono", {.rate = 8000, .channels = 1, .seconds = 0.5}, 44, 4000},
      {"fmt with extra bytes", {.fmtSize = 18}, 46, 44100},
      {"a chunk before the data", {.chunkBeforeData = std::string("LIST\4\0\0\0abcd", 12)}, 56, 44100},
      {"a fact chunk tells the frames", {.factFrames = 11025}, 56, 11025},
      {"not RIFF", tiny, -1, 0, 0, "RIFX"},
      {"rate 0", tiny, -1, 0, 24, std::string(4, '\0')},
      {"no channels", tiny, -1, 0, 22, std::string(2, '\0')},
      {"no data chunk", tiny, -1, 0, 36, "junk"},  // its size then runs past the end
      {"a chunk of 4 GB", tiny, -1, 0, 36, "junk\xff\xff\xff\xff"},
      {"cut before data", tiny, -1, 0, 0, "", 40},
  };
  test::TempDir dir;
  const std::string file = dir.file("a.wav");
  for (const auto& c : cases) {
    ::unlink(file.c_str());
    test::WriteWav(file, c.spec);
    test::Bytes b = test::ReadFileBytes(file);
    std::copy(c.patch.begin(), c.patch.end(), b.begin() + static_cast<long>(c.at));
    if (c.cut) b.resize(c.cut);
    test::WriteFileBytes(file, b);
    ::chmod(file.c_str(), 0444);
    WaveInfo info;
    EXPECT_EQ(OpenWave(file, info), c.dataOffset < 0 ? -1 : 0) << c.what;
    EXPECT_EQ(info.file.valid(), c.dataOffset >= 0) << c.what;
    EXPECT_EQ(test::ModeOf(file), 0444u) << c.what;
    if (c.dataOffset < 0) continue;
    EXPECT_EQ(info.dataOffset, c.dataOffset) << c.what;
    EXPECT_EQ(info.frameCount, c.frames) << c.what;
    EXPECT_FLOAT_EQ(info.durationMs, c.frames * 1000.0f / c.spec.rate) << c.what;
  }
}

}  // namespace
}  // namespace velotag
