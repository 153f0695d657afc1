// Songs identified by their sound: the libofa service and AcoustID, each on
// a real MP3 that lame made from generated tones, against a scripted service.
#include <chromaprint.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>

#include "online/acoustid.h"
#include "online/decoder.h"
#include "online/libofa.h"
#include "online/url.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"
#include "wavgen.h"

namespace velotag {
namespace {

using Lines = std::vector<std::string>;

// The scripted service's answer (Björk Иван).
const Lines kFound = {"uid=0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0",
                      "art=Bj\xc3\xb6rk \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd", "ttl=Tones & Silence"};
const std::string kClient = "cid=5e0c3b9a7d21f4868a0b1c2d3e4f5a6b&cvr=1.0";
const std::string kFixedFields =
    "&art=unknown&ttl=unknown&alb=unknown&tnm=0&gnr=unknown&yrr=unknown";

// A program folder, a temporary folder and a scripted service, with a real
// MP3 made by lame from generated tones.
class Fingerprint : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ClassLibofa(LibofaOptions{dir.path(), "", {}}).DRIVER_INSTALLED())
      GTEST_SKIP() << "libofa.so.0 cannot be loaded (install libofa0)";
    if (FindExecutable("", "lame").empty()) GTEST_SKIP() << "lame is not on PATH (install lame)";
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(CreatePath(temp) && CreatePath(program));
    ASSERT_TRUE(test::WriteToneMp3(mp3, 20, wav));
  }

  LibofaOptions Options(const std::string& service = "") {
    return {program, service, [this] { ++pumps; }};
  }
  std::string Service() const { return server.hostPort(); }

  // Temporary files go, whatever way a lookup ends.
  void ExpectNoTemporaryFiles() {
    EXPECT_TRUE(test::FolderNames(temp).empty());
    for (const std::string& name : test::FolderNames(program))
      EXPECT_NE(name.rfind(kLibofaTempWavePrefix, 0), 0u) << name;
  }

  test::TempDir dir;
  std::string program = dir.path() + "program/", temp = dir.path() + "tmp/";
  std::string db = program + "LocalDB.ini";
  std::string wav = dir.file("tones.wav"), mp3 = dir.file("tones.mp3");
  test::ScriptServer server{dir.file("requests.jsonl")};
  test::ScopedEnv tmpdir{"TMPDIR", temp};
  int pumps = 0;
};

TEST_F(Fingerprint, AnMp3IsIdentifiedOnceAndThenFromTheLocalDatabase) {
  ClassLibofa ofa(Options(Service()));
  Lines lines;
  ASSERT_EQ(ofa.GetID3infoByFinger(mp3, lines, db, "", ""), 3) << ofa.Last_Error();
  EXPECT_EQ(lines, kFound);
  EXPECT_EQ(ofa.Last_Error(), "SUCCESS");
  EXPECT_GT(pumps, 0);
  ExpectNoTemporaryFiles();

  // One request, as the service wants it, the fingerprint also the database's key.
  const test::Bytes bytes = test::ReadFileBytes(db);
  const std::string fingerprint(bytes.begin() + 1, std::find(bytes.begin(), bytes.end(), ']'));
  std::vector<test::Json> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& raw = requests[0]["raw"].string;
  EXPECT_EQ(raw.rfind("POST /ofa/1/track HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(raw.find("\r\nUser-Agent: libofa_example\r\n"), std::string::npos);
  const std::string body = requests[0]["body"].string,
                    head = kClient + "&fpt=" + UrlEncode(fingerprint, true, false, true) + "&rmd=1&brt=0&fmt=wav&dur=";
  ASSERT_EQ(body.rfind(head, 0), 0u) << body;
  EXPECT_NEAR(std::stoi(body.substr(head.size())), 20000, 100);
  EXPECT_TRUE(body.ends_with(kFixedFields)) << body;

  // Later lookups of the same sound are answered from the database, with no
  // request, whatever the file is called: no shell sees the name, and one
  // that starts with "-" (relative to the working folder) is no option.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  for (const std::string name : {"tones.mp3", "$(touch pwned) 'q\" ;x.MP3", "-dash.mp3"}) {
    if (name != "tones.mp3") {
      ASSERT_EQ(::link(mp3.c_str(), dir.file(name).c_str()), 0);
    }
    EXPECT_EQ(ofa.GetID3infoByFinger(name, lines, db, "", ""), 3) << name;
    EXPECT_EQ(lines, kFound) << name;
  }
  EXPECT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(GetPathType(dir.file("pwned")), kPathMissing);
  EXPECT_EQ(server.Requests().size(), 1u);
  ExpectNoTemporaryFiles();
}

// Each says why in Last_Error, though no query was made.
TEST_F(Fingerprint, DecoderFailuresAndCancelLeaveNothingBehind) {
  const std::string failed = "Decoder failed: lame could not decode the file";
  struct Case {
    const char* what;
    std::string script;
    int timeoutMs, cancelAtPump;
    std::string lastError, decoder = "lame";
  } const cases[] = {
      {"never ends, a whole WAV already written", "cp " + wav + " \"$3\"\nexec sleep 30", 500, -1,
       failed},
      {"writes no WAV", "printf 'garbage' > \"$3\"", 5000, -1, kLibofaNoFingerprint},
      {"fails after writing a whole WAV", "cp " + wav + " \"$3\"\nexit 1", 5000, -1, failed},
      {"cancelled from the pump", "exec sleep 30", 15000, 3, kLibofaStopped},
      {"not there", "", 5000, -1, "Decoder failed: no-such-decoder not found", "no-such-decoder"},
  };
  for (const Case& c : cases) {
    test::WriteFileText(program + "lame", "#!/bin/sh\n" + c.script + "\n");
    ::chmod((program + "lame").c_str(), 0755);
    LibofaOptions o = Options(Service());
    o.decoderTimeoutMs = c.timeoutMs;
    o.decoderName = c.decoder;
    ClassLibofa ofa(o);
    pumps = 0;
    ofa.SetPump([&] {
      if (++pumps == c.cancelAtPump) ofa.Cancel();
    });
    Lines lines;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ofa.GetID3infoByFinger(mp3, lines, db, "", ""), 0) << c.what;
    EXPECT_EQ(ofa.Last_Error(), c.lastError) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
    ExpectNoTemporaryFiles();
  }
  EXPECT_TRUE(server.Requests().empty());
}

std::vector<std::uint32_t> RawPrint(const std::string& encoded) {
  std::uint32_t* raw = nullptr;
  int size = 0, algorithm = 0;
  if (!chromaprint_decode_fingerprint(encoded.data(), static_cast<int>(encoded.size()), &raw,
                                      &size, &algorithm, 1))
    return {};
  std::vector<std::uint32_t> print(raw, raw + size);
  chromaprint_dealloc(raw);
  return print;
}

AudioPrintOptions Printing(const std::string& program, const Mpg123Library& mpg123) {
  return {.programFolder = program, .mpg123 = &mpg123, .pump = {}, .keepGoing = {}};
}

class AcoustId : public ::testing::Test {
 protected:
  // One real MP3 for the whole suite, longer than the two minutes printed;
  // "" without lame.
  static const std::string& Mp3() {
    static test::TempDir shared;
    static const std::string mp3 =
        test::WriteToneMp3(shared.file("song.mp3"), 130) ? shared.file("song.mp3") : "";
    return mp3;
  }

  void SetUp() override {
    if (Mp3().empty()) GTEST_SKIP() << "lame is not on PATH (install lame)";
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(CreatePath(program));
  }

  AcoustIdOptions Options(const std::string& prefix, int timeoutMs = 5000) {
    AcoustIdOptions o;
    o.programFolder = program;
    o.apiKey = "K3y";
    o.server = server.url("/" + prefix);
    o.userAgent = "Velotag/test ( test@example )";
    o.pump = [this] { ++pumps; };
    o.timeoutMs = timeoutMs;
    return o;
  }
  void Serve(const std::string& prefix, const std::string& json) {
    ASSERT_TRUE(CreatePath(root + prefix + "/v2"));
    test::WriteFileText(root + prefix + "/v2/lookup", json);
  }

  test::TempDir dir;
  std::string program = dir.path() + "program/", root = dir.path() + "root/";
  std::string db = program + "LocalDB.ini";
  test::ScriptServer server{dir.file("requests.jsonl"), "", "", root};
  int pumps = 0;
};

TEST_F(AcoustId, PrintAgreesWithFpcalcWhicheverDecoderRuns) {
  test::ProcessResult fpcalc = test::RunProcess({"fpcalc", "-json", Mp3()});
  if (fpcalc.exitCode != 0) GTEST_SKIP() << "fpcalc is not on PATH (install libchromaprint-tools)";
  const test::Json theirs = test::ParseJson(fpcalc.out);
  const std::vector<std::uint32_t> want = RawPrint(theirs["fingerprint"].string);
  ASSERT_FALSE(want.empty());
  for (const char* library : {"libmpg123.so.0", "libmpg123-missing.so.0"}) {
    Mpg123Library mpg123(program, library);
    AudioPrint print;
    ASSERT_TRUE(ComputeAudioPrint(Mp3(), Printing(program, mpg123), print)) << library;
    EXPECT_EQ(print.decodedBy, mpg123.Loaded() ? "libmpg123" : "lame");
    EXPECT_EQ(print.durationSeconds, static_cast<int>(theirs["duration"].number));
    // Two MP3 decoders round a sample differently now and then: a bit or
    // two of the print may differ, its length (two minutes) may not.
    std::vector<std::uint32_t> got = RawPrint(print.fingerprint);
    ASSERT_EQ(got.size(), want.size()) << library;
    int differing = 0;
    for (std::size_t i = 0; i < got.size(); ++i) differing += std::popcount(got[i] ^ want[i]);
    EXPECT_LT(differing, static_cast<int>(got.size() * 32 / 100)) << library;
  }
  EXPECT_TRUE(test::FolderNames(program).empty()) << "the fallback's WAV stays behind";
}

// Björk feat. 坂本龍一 - "Песня № 5": the better of two results, with the
// plain album before a compilation and a single.
const std::string kBest = R"({"status": "ok", "results": [
  {"id": "aid-low", "score": 0.45, "recordings": [{"id": "rid-low", "title": "Wrong"}]},
  {"id": "aid-1", "score": 0.93, "recordings": [{"id": "rid-bare"},
    {"id": "rid-1", "title": "Песня № 5",
     "artists": [{"name": "Björk", "joinphrase": " feat. "}, {"name": "坂本龍一"}],
     "releasegroups": [{"title": "Hits", "type": "Album", "secondarytypes": ["Compilation"]},
                       {"title": "Ω Single", "type": "Single"},
                       {"title": "Début", "type": "Album"}]}]}]})";
const Lines kBestLines = {"aid=aid-1", "rid=rid-1", "art=Björk feat. 坂本龍一", "ttl=Песня № 5",
                          "alb=Début"};

TEST_F(AcoustId, LookupsAgainstAScriptedService) {
  Serve("best", kBest);
  Serve("weak", R"({"status": "ok", "results": [{"id": "a", "score": 0.49,
                    "recordings": [{"id": "r", "title": "T"}]}]})");
  Serve("none", R"({"status": "ok", "results": []})");
  Serve("garbage", "<html>not JSON</html>");
  Serve("oddtypes", R"({"status": "ok", "results": [{"id": 5, "score": "high",
                        "recordings": {"title": "x"}}, 7]})");
  test::WriteFileText(dir.file("fake.mp3"), std::string(4096, 'x'));
  struct Case {
    std::string prefix;
    int timeoutMs;
    Lines lines;
    std::string lastError, file = Mp3();  // a file that cannot be printed asks nothing
  };
  const Case cases[] = {
      {"best", 5000, {}, kAcoustIdNoPrint, dir.file("fake.mp3")},
      {"best", 5000, {}, kAcoustIdNoPrint, dir.file("missing.mp3")},
      {"best", 5000, kBestLines, "SUCCESS"},
      {"weak", 5000, {}, "Can't find any music information"},
      {"none", 5000, {}, "Can't find any music information"},
      {"oddtypes", 5000, {}, "Can't find any music information"},
      {"garbage", 5000, {}, "JSON parse error"},
      {"badkey", 5000, {}, "AcoustID error: invalid API key"},
      {"status/503", 5000, {}, "AcoustID error: HTTP 503"},
      {"slow/best", 500, {}, "Connection error, try again later..."},
  };
  std::size_t requests = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix + " in " + std::to_string(c.timeoutMs) + " ms: " + c.file);
    FileDelete(db);
    ClassAcoustId lookup(Options(c.prefix, c.timeoutMs));
    Lines lines;
    EXPECT_EQ(lookup.GetID3infoByFinger(c.file, lines, db), static_cast<int>(c.lines.size()));
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(lookup.Last_Error(), c.lastError);
    EXPECT_EQ(server.Requests().size(), requests += c.file == Mp3());
    // Only a song found is kept.
    EXPECT_EQ(GetPathType(db) == kPathFile, !c.lines.empty());
  }
  EXPECT_GT(pumps, 0);
  // A song found once is found again without asking, under any name.
  Lines lines;
  ASSERT_EQ(ClassAcoustId(Options("best")).GetID3infoByFinger(Mp3(), lines, db), 5);
  ASSERT_EQ(::link(Mp3().c_str(), dir.file("copy.mp3").c_str()), 0);
  ClassAcoustId nextRun(Options("best"));
  for (const std::string& file : {Mp3(), dir.file("copy.mp3")}) {
    EXPECT_EQ(nextRun.GetID3infoByFinger(file, lines, db), 5);
    EXPECT_EQ(lines, kBestLines);
  }
  EXPECT_EQ(server.Requests().size(), requests + 1);

  const test::Json request = server.Requests()[0];
  const std::string& raw = request["raw"].string;
  EXPECT_EQ(raw.rfind("POST /best/v2/lookup HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(raw.find("\r\nUser-Agent: Velotag/test ( test@example )\r\n"), std::string::npos);
  AudioPrint print;
  Mpg123Library mpg123(program);
  ASSERT_TRUE(ComputeAudioPrint(Mp3(), Printing(program, mpg123), print));
  EXPECT_EQ(request["body"].string, "client=K3y&duration=130&fingerprint=" + print.fingerprint +
                                        "&format=json&meta=recordings+releasegroups");
}

}  // namespace
}  // namespace velotag
