#include "online/libofa.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>

#include "online/decoder.h"
#include "online/url.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"
#include "wavgen.h"

namespace velotag {
namespace {

using Lines = std::vector<std::string>;
using test::WriteWav;

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
    WriteWav(wav, {.seconds = 20});
    test::ProcessResult r = test::RunProcess({"lame", "--quiet", "-b", "128", wav, mp3});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  LibofaOptions Options(const std::string& service = "") {
    return {program, service, [this] { ++pumps; }};
  }
  std::string Service() const { return "127.0.0.1:" + std::to_string(server.port()); }

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

}  // namespace
}  // namespace velotag
