#include "online/libofa.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>

#include "online/decoder.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"
#include "wavgen.h"

namespace velotag {
namespace {

using test::ScriptServer;
using test::TempDir;
using test::WriteWav;

const char* const kPuid = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
const std::string kArtist = "Bj\xc3\xb6rk \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd";  // Björk Иван
const std::string kTitle = "Tones & Silence";

std::string FileText(const std::string& path) {
  test::Bytes b = test::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
      had_ = true;
    }
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// Every file in a folder whose name starts with prefix.
std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<FolderEntry> entries;
  ListFolder(folder, entries);
  std::vector<std::string> names;
  for (const FolderEntry& e : entries) {
    std::string name = GetFileNamePart(e.Name);
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

LibofaOptions OptionsIn(const std::string& folder) {
  LibofaOptions o;
  o.programFolder = folder;
  return o;
}

// A program folder, a temporary folder and a scripted service, with a real
// MP3 made by lame from generated tones.
class Fingerprint : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      ClassLibofa probe(OptionsIn(dir.path()));
      if (!probe.DRIVER_INSTALLED()) GTEST_SKIP() << "libofa.so.0 cannot be loaded (install libofa0)";
    }
    if (FindExecutable("", "lame").empty()) GTEST_SKIP() << "lame is not on PATH (install lame)";
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(CreatePath(temp));
    WriteWav(wav, {44100, 2, 16, 1, 20.0});
    test::ProcessResult r = test::RunProcess({"lame", "--quiet", "-b", "128", wav, mp3});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  LibofaOptions Options(const std::string& service) {
    LibofaOptions o;
    o.programFolder = program;
    o.serviceHost = service;
    o.pump = [this] { ++pumps; };
    return o;
  }

  std::int32_t Lookup(ClassLibofa& ofa, const std::string& file, std::vector<std::string>& lines) {
    return ofa.GetID3infoByFinger(file, lines, db, "", "");
  }

  void ExpectNoTemporaryFiles() {
    EXPECT_EQ(GetPathType(program + kLibofaTempWave), kPathMissing);
    EXPECT_TRUE(FilesStartingWith(temp, "QRN").empty());
  }

  TempDir dir;
  std::string program = dir.path() + "program/";
  std::string temp = dir.path() + "tmp/";
  std::string db = dir.path() + "program/LocalDB.ini";
  std::string wav = dir.file("tones.wav");
  std::string mp3 = dir.file("tones.mp3");
  ScriptServer server{dir.file("requests.jsonl")};
  ScopedEnv tmpdir{"TMPDIR", dir.path() + "tmp"};
  int pumps = 0;
};

TEST_F(Fingerprint, AnMp3IsIdentifiedOnceAndThenFromTheLocalDatabase) {
  ASSERT_TRUE(CreatePath(program));
  ClassLibofa ofa(Options("127.0.0.1:" + std::to_string(server.port())));
  EXPECT_TRUE(std::regex_match(ofa.LIBOFA_VER(), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
  EXPECT_EQ(ofa.LIBOFA_DLL1(), "libofa.so.0");
  EXPECT_EQ(ofa.LIBOFA_DLL2(), "libfftw3.so.3");

  const std::vector<std::string> want = {std::string("uid=") + kPuid, "art=" + kArtist,
                                         "ttl=" + kTitle};
  std::vector<std::string> lines;
  ASSERT_EQ(Lookup(ofa, mp3, lines), 3) << ofa.Last_Error();
  EXPECT_EQ(lines, want);
  EXPECT_EQ(ofa.Last_Error(), "SUCCESS");
  EXPECT_GT(pumps, 0);
  std::vector<test::Json> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["path"].string, "/ofa/1/track");
  EXPECT_EQ(requests[0]["check"].string, "");  // fields, order and values as required
  ExpectNoTemporaryFiles();

  // The database holds the answer under the fingerprint.
  std::string stored = FileText(db);
  ASSERT_EQ(stored.rfind("[", 0), 0u);
  std::string fingerprint = stored.substr(1, stored.find(']') - 1);
  EXPECT_GT(fingerprint.size(), 100u);
  EXPECT_EQ(stored, "[" + fingerprint + "]\r\nuid=" + kPuid +
                        "\r\nart=Bj\xf6rk \\x0418\\x0432\\x0430\\x043D\r\nttl=Tones & Silence\r\n");

  // The second lookup is answered there, with no request.
  lines.clear();
  ASSERT_EQ(Lookup(ofa, mp3, lines), 3);
  EXPECT_EQ(lines, want);
  EXPECT_EQ(ofa.Last_Error(), "");
  EXPECT_EQ(server.Requests().size(), 1u);
  ExpectNoTemporaryFiles();

  // The decoded WAV fingerprints the same as the MP3 it came from, and a WAV
  // is fingerprinted without the decoder.
  TrackQuery query;
  std::string decoded = dir.file("decoded.wav");
  ASSERT_EQ(test::RunProcess({"lame", "--quiet", "--decode", mp3, decoded}).exitCode, 0);
  ASSERT_TRUE(ofa.ComputeFingerprint(decoded, query));
  EXPECT_EQ(query.fpt, fingerprint);
  EXPECT_EQ(query.fmt, "wav");
  EXPECT_NEAR(query.dur, 20000, 100);
}

TEST_F(Fingerprint, AwkwardFileNamesReachTheDecoderAsTheyAre) {
  ASSERT_TRUE(CreatePath(program));
  const std::string names[] = {"$(touch pwned) 'q\" ;x.MP3", "-starts-with-dash.mp3"};
  ClassLibofa ofa(Options("127.0.0.1:" + std::to_string(server.port())));
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  for (const std::string& name : names) {
    ASSERT_EQ(::link(mp3.c_str(), dir.file(name).c_str()), 0);
    std::vector<std::string> lines;
    // The dash name is given relative to the working folder.
    std::string arg = name[0] == '-' ? name : dir.file(name);
    EXPECT_EQ(Lookup(ofa, arg, lines), 3) << name << ": " << ofa.Last_Error();
  }
  EXPECT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(GetPathType(dir.file("pwned")), kPathMissing);
  ExpectNoTemporaryFiles();
}

TEST_F(Fingerprint, ServiceAnswersWithoutAFullResult) {
  struct Case {
    std::string mode, lastError;
    std::vector<std::string> lines;
    bool stored;
  } const cases[] = {
      {"empty", "Can't find any music information", {}, false},
      {"garbage", "XML parse error", {}, false},
      // A PUID alone is returned but not stored: the next lookup asks again.
      {"puidonly", "SUCCESS", {std::string("uid=") + kPuid}, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(CreatePath(program));
    std::size_t before = server.Requests().size();
    ClassLibofa ofa(Options(server.url("/" + c.mode + "/")));
    std::vector<std::string> lines;
    for (int round = 1; round <= 2; ++round) {
      EXPECT_EQ(Lookup(ofa, mp3, lines), static_cast<std::int32_t>(c.lines.size())) << c.mode;
      EXPECT_EQ(lines, c.lines) << c.mode;
      EXPECT_EQ(ofa.Last_Error(), c.lastError) << c.mode;
      EXPECT_EQ(server.Requests().size(), before + static_cast<std::size_t>(round)) << c.mode;
    }
    EXPECT_EQ(GetPathType(db), c.stored ? kPathFile : kPathMissing) << c.mode;
    ExpectNoTemporaryFiles();
  }
}

TEST_F(Fingerprint, NoServiceOrNoAnswerFailsWithAClearReason) {
  ASSERT_TRUE(CreatePath(program));
  struct Case {
    std::string service, lastError;
  } const cases[] = {
      {"", kLibofaNoService},
      {"   ", kLibofaNoService},
      {"127.0.0.1:1", kLibofaConnectionError},  // nobody listens there
      {server.url("/missing"), kLibofaConnectionError},  // 404
  };
  for (const Case& c : cases) {
    ClassLibofa ofa(Options(c.service));
    EXPECT_EQ(ofa.ServiceConfigured(), c.lastError != kLibofaNoService);
    std::vector<std::string> lines;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Lookup(ofa, mp3, lines), 0) << c.service;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(ofa.Last_Error(), c.lastError) << c.service;
    ExpectNoTemporaryFiles();
  }
}

TEST_F(Fingerprint, TheLibraryIsLookedForInTheProgramFolderFirst) {
  ASSERT_TRUE(CreatePath(program));
  std::string system = ClassLibofa(OptionsIn(dir.path())).LibraryPath();
  ASSERT_FALSE(system.empty());

  // A file of that name that is no library: the system's is used.
  test::WriteFileText(program + "libofa.so.0", "not a library");
  EXPECT_EQ(ClassLibofa(Options("")).LibraryPath(), system);

  // A real copy in the program folder wins.
  test::WriteFileBytes(program + "libofa.so.0", test::ReadFileBytes(system));
  ClassLibofa local(Options(""));
  EXPECT_TRUE(local.DRIVER_INSTALLED());
  EXPECT_EQ(local.LibraryPath(), program + "libofa.so.0");

  // None anywhere: nothing is installed and every lookup is empty at once.
  LibofaOptions none = Options("127.0.0.1:" + std::to_string(server.port()));
  none.libraryName = "libofa-missing.so.0";
  ClassLibofa missing(none);
  EXPECT_FALSE(missing.DRIVER_INSTALLED());
  EXPECT_EQ(missing.LIBOFA_VER(), "?.?.?");
  EXPECT_EQ(missing.LibraryPath(), "");
  EXPECT_EQ(missing.LIBOFA_DLL1(), "libofa-missing.so.0");
  std::vector<std::string> lines = {"stale"};
  EXPECT_EQ(Lookup(missing, mp3, lines), 0);
  EXPECT_TRUE(lines.empty());
  TrackQuery q;
  EXPECT_FALSE(missing.ComputeFingerprint(wav, q));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Fingerprint, DecoderFailuresLeaveNothingBehind) {
  ASSERT_TRUE(CreatePath(program));
  struct Case {
    const char* what;
    std::string script;
    int timeoutMs;
  } const cases[] = {
      {"never ends", "#!/bin/sh\nprintf 'RIFF' > \"$3\"\nexec sleep 30\n", 500},
      {"writes no WAV", "#!/bin/sh\nprintf 'garbage' > \"$3\"\nexit 0\n", 5000},
      {"fails", "#!/bin/sh\nexit 3\n", 5000},
  };
  for (const Case& c : cases) {
    std::string decoder = program + "lame";
    test::WriteFileText(decoder, c.script);
    ::chmod(decoder.c_str(), 0755);
    LibofaOptions o = Options("127.0.0.1:" + std::to_string(server.port()));
    o.decoderTimeoutMs = c.timeoutMs;
    ClassLibofa ofa(o);
    std::vector<std::string> lines;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Lookup(ofa, mp3, lines), 0) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
    ExpectNoTemporaryFiles();
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Fingerprint, OnlySixteenBitPcmWithOneOrTwoChannelsIsFingerprinted) {
  ClassLibofa ofa(Options(""));
  struct Case {
    const char* what;
    test::WavSpec spec;
    bool ok;
  } const cases[] = {
      {"stereo", {22050, 2, 16, 1, 15.0}, true},
      {"mono", {22050, 1, 16, 1, 15.0}, true},
      {"8-bit", {22050, 1, 8, 1, 15.0}, false},
      {"6 channels", {22050, 6, 16, 1, 15.0}, false},
      {"float", {22050, 2, 16, 3, 15.0}, false},
      {"one frame", {22050, 1, 16, 1, 1.0 / 22050}, false},
  };
  for (const Case& c : cases) {
    WriteWav(dir.file("x.wav"), c.spec);
    TrackQuery q;
    q.fpt = "old";
    EXPECT_EQ(ofa.ComputeFingerprint(dir.file("x.wav"), q), c.ok) << c.what;
    EXPECT_EQ(q.fpt.empty(), !c.ok) << c.what;
    EXPECT_EQ(q.dur, c.ok ? 15000 : 0) << c.what;
  }
  // Ten minutes, sound only at the start: the first 135 seconds are printed,
  // the duration is the whole.
  WriteWav(dir.file("long.wav"), {44100, 2, 16, 1, 600.0, false});
  WriteWav(dir.file("start.wav"), {44100, 2, 16, 1, 30.0});
  test::Bytes start = test::ReadFileBytes(dir.file("start.wav"));
  {
    FileHandle f(LargeFileOpen(dir.file("long.wav"), false, true, true, true, kOpenExisting));
    ASSERT_EQ(LargeFileSeek(f.get(), 44, true), 44);
    ASSERT_EQ(LargeFileWrite(f.get(), start.data() + 44, start.size() - 44), start.size() - 44);
  }
  TrackQuery q;
  EXPECT_TRUE(ofa.ComputeFingerprint(dir.file("long.wav"), q));
  EXPECT_EQ(q.dur, 600000);
}

TEST_F(Fingerprint, PuidLookup) {
  ClassLibofa ofa(Options("127.0.0.1:" + std::to_string(server.port())));
  std::vector<std::string> lines;
  ASSERT_EQ(ofa.GetID3infoByPUID(kPuid, lines, "", ""), 3);
  EXPECT_EQ(lines, std::vector<std::string>({std::string("PUID=") + kPuid, "artist=" + kArtist,
                                             "title=" + kTitle}));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0]["check"].string, "");
}

TEST_F(Fingerprint, RequestFieldsOfEveryKind) {
  ClassLibofa ofa(Options(server.url("/fields/")));
  struct Case {
    const char* what;
    TrackQuery query;
    std::string body;
  } const cases[] = {
      {"fingerprint, all defaults",
       [] { TrackQuery q; q.fpt = "F P"; q.yrr = "19x9"; q.enc = "lame"; q.s1a = "s"; return q; }(),
       "cid=5e0c3b9a7d21f4868a0b1c2d3e4f5a6b&cvr=1.0&fpt=F%20P&s1a=s&rmd=0&brt=0&fmt=unknown&"
       "dur=0&art=unknown&ttl=unknown&alb=unknown&tnm=0&gnr=unknown&yrr=unknown&enc=lame"},
      {"puid, own client",
       [] { TrackQuery q; q.cid = "me"; q.cvr = "2"; q.uid = "u"; q.yrr = "1999"; q.dur = 5; q.art = "A&B"; return q; }(),
       "cid=me&cvr=2&uid=u&rmd=0&dur=5&art=A%26B&ttl=unknown&alb=unknown&tnm=0&gnr=unknown&yrr=1999"},
      {"s1f", [] { TrackQuery q; q.s1f = "x"; q.art = "ignored"; return q; }(),
       "cid=5e0c3b9a7d21f4868a0b1c2d3e4f5a6b&cvr=1.0&s1f=x"},
      {"s1a", [] { TrackQuery q; q.cid = "half"; q.s1a = "y"; q.tnm = 4; return q; }(),
       "cid=5e0c3b9a7d21f4868a0b1c2d3e4f5a6b&cvr=1.0&s1a=y&art=unknown&ttl=unknown&alb=unknown&"
       "tnm=4&yrr=unknown"},
  };
  for (const Case& c : cases) {
    TrackQuery q = c.query;
    std::size_t before = server.Requests().size();
    EXPECT_FALSE(ofa.QueryService(q, 1, 5000)) << c.what;  // the scripted service refuses them
    ASSERT_EQ(server.Requests().size(), before + 1) << c.what;
    EXPECT_EQ(server.Requests().back()["body"].string, c.body) << c.what;
  }
  // Nothing to ask with, or no tries: no request and no error text.
  TrackQuery empty;
  EXPECT_FALSE(ofa.QueryService(empty, 3, 5000));
  TrackQuery some;
  some.fpt = "x";
  EXPECT_FALSE(ofa.QueryService(some, 0, 5000));
  EXPECT_EQ(ofa.Last_Error(), "");
  // Tries are capped at 10.
  std::size_t before = server.Requests().size();
  EXPECT_FALSE(ofa.QueryService(some, 50, 5000));
  EXPECT_EQ(server.Requests().size(), before + 10);
  EXPECT_EQ(ofa.Last_Error(), kLibofaConnectionError);
}

TEST_F(Fingerprint, CancelFromThePumpStopsTheDecoder) {
  ASSERT_TRUE(CreatePath(program));
  std::string decoder = program + "lame";
  test::WriteFileText(decoder, "#!/bin/sh\nexec sleep 30\n");
  ::chmod(decoder.c_str(), 0755);
  LibofaOptions o = Options("");
  ClassLibofa* self = nullptr;
  o.pump = [&] {
    if (++pumps == 3) self->Cancel();
  };
  ClassLibofa ofa(o);
  self = &ofa;
  std::vector<std::string> lines;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Lookup(ofa, mp3, lines), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ExpectNoTemporaryFiles();
}

}  // namespace
}  // namespace velotag
