// Self-update: the upgrade scripts (run by a real shell), the archives they
// install, made by Python's zipfile (tools/make_archive.py), hostile ones too,
// and the whole way from the home host's page to the new program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "fake_ui.h"
#include "script_server.h"
#include "library/form1.h"
#include "online/http.h"
#include "support/paths.h"
#include "support/textenc.h"
#include "testutil.h"
#include "update/extract.h"
#include "update/mirror.h"
#include "update/script.h"
#include "update/upgrade.h"

namespace velotag {
namespace {

using test::ReadFileText, test::WriteFileText;

std::string MakeArchive(const std::string& path, std::vector<std::string> entries) {
  entries.insert(entries.begin(), {path, "zip"});
  test::RunTool("make_archive.py", entries);
  return path;
}

// The Windows batch text, in code page 852 bytes, with the rename lines of an
// archive whose program has another name.
TEST(BatchScript, TextRenameLinesAndCodePage) {
  BatchScriptInput in{"", "C:\\Zen\xC3\xA9k", " \xC3\x9Aj.exe ", "Velotag", "", true, ""};
  const Bytes bytes = StringToAnsi(BuildUpgradeScript(in));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "@echo off\r\ncd /d %~dp0\r\ntaskkill /F /IM Velotag.exe\r\necho wscript.sleep 3000 > wait.vbs\r\n"
            "echo waiting 3 sec\r\nwscript.exe wait.vbs\r\ndel Wait.vbs\r\n"
            "copy extracted\\*.* C:\\Zen\x82k\\\r\nrmdir /S /Q extracted\r\ndel /Q C:\\Zen\x82k\\Velotag.exe\r\n"
            "rename C:\\Zen\x82k\\\xE9j.exe Velotag.exe\r\nstart C:\\Zen\x82k\\Velotag.exe\r\n");
  in.systemExtracted = false;
  EXPECT_EQ(BuildUpgradeScript(in), "");  // nothing can unpack the archive
}

// upgrade.sh run by /bin/sh in a program folder whose name needs every
// kind of quoting.
TEST(ShellScript, ReplacesRenamesRestoresAndWaits) {
  struct Case {
    std::string running, failing;
    bool waitsOnUs;
    int exitCode;
    std::string logged, started;
  };
  for (const Case& c : std::vector<Case>{
           {"velotag 2", "", false, 0, "upgraded", "new --a b\n"},
           {"velotag", "missing", false, 1, "cannot copy missing: the old program stays", ""},
           {"velotag", "", true, 1, "the program did not end; nothing was replaced", ""}}) {
    test::TempDir dir;
    const std::string program = dir.file("it's a \"q\" $HOME `id` \\/");
    const std::string extracted = dir.file("dl/extracted/");
    ASSERT_TRUE(CreatePath(program + "lib/") && CreatePath(extracted + "lib/"));
    // Programs that note they were started, and with what.
    for (const auto& [path, which] : {std::pair{program + c.running, "old"},
                                      std::pair{extracted + "velotag", "new"}}) {
      WriteFileText(path, "#!/bin/sh\necho \"" + std::string(which) +
                              " $*\" > \"$(dirname \"$0\")/started\"\n");
      ::chmod(path.c_str(), 0755);
    }
    WriteFileText(program + "lib/x", "old lib");
    WriteFileText(extracted + "lib/x", "new lib");
    ShellUpgradePlan p{program, extracted, dir.file("dl/old/"), dir.file("log"),
                       {"velotag", "lib"}, "velotag", c.running, {"--a b"}, ::getpid(), "1", 0, 1};
    if (!c.failing.empty()) p.names.push_back(c.failing);
    // Our own process, or one that had our id before (another start time).
    if (c.waitsOnUs) p.startTime = ProcessStartTime(::getpid());
    std::string script = BuildUpgradeShellScript(p);
    EXPECT_EQ(script.find("mv -f") != std::string::npos, c.running != "velotag");
    WriteFileText(dir.file("upgrade.sh"), script);
    EXPECT_EQ(test::RunProcess({"/bin/sh", dir.file("upgrade.sh")}).exitCode, c.exitCode);
    std::string log = ReadFileText(dir.file("log"));
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    const bool done = c.exitCode == 0;
    EXPECT_EQ(ReadFileText(program + "lib/x"), done ? "new lib" : "old lib");
    EXPECT_NE(ReadFileText(program + c.running).find(done ? "new" : "old"), std::string::npos);
    EXPECT_EQ(GetPathType(program + "velotag"), done && c.running != "velotag" ? kPathMissing : kPathFile);
    EXPECT_EQ(GetPathType(program + "missing"), kPathMissing);
    for (int i = 0; i < 100 && done && GetPathType(program + "started") != kPathFile; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(done ? ReadFileText(program + "started") : "", c.started);
    EXPECT_EQ(GetPathType(program + "started") == kPathFile, done);
  }
}

TEST(Extract, UnpacksPlainFilesAndRefusesTheRest) {
  test::TempDir dir;
  test::WriteFileText(dir.file("prog"), "#!/bin/sh\n");
  Extraction good = ExtractUpgradeArchive(
      MakeArchive(dir.file("a.zip"), {"file:velotag:4755:" + dir.file("prog"), "dir:lib", "text:lib/x:hi",
                                      "text:./doc/read me:doc"}),
      dir.file("out"), "velotag");
  ASSERT_TRUE(good.ok) << good.error;
  EXPECT_EQ(good.names, (std::vector<std::string>{"velotag", "lib", "doc"}));
  EXPECT_EQ(ReadFileText(dir.file("out/doc/read me")), "doc");
  EXPECT_EQ(test::ModeOf(dir.file("out/velotag")), 0755u);  // no set-id bit from a download

  for (const std::vector<std::string>& entries : std::vector<std::vector<std::string>>{
           {"text:ok:1", "text:../x:evil"}, {"text:ok:1", "text:sub/../../x:evil"},
           {"text:/tmp/velotag-abs-test:evil"}, {"text:ok:1", "link:l:/etc/passwd"},
           {}}) {  // none: an error page where the archive should be
    SCOPED_TRACE(entries.empty() ? "html" : entries.back());
    const std::string archive = dir.file(entries.empty() ? "bad.html" : "bad.zip");
    if (entries.empty()) WriteFileText(archive, "<html>Not Found</html>");
    else MakeArchive(archive, entries);
    Extraction x = ExtractUpgradeArchive(archive, dir.file("sub/out"), "velotag");
    EXPECT_FALSE(x.ok);
    EXPECT_FALSE(x.error.empty());
    // Nothing written: not the good entries, nothing outside.
    for (const std::string& path :
         {dir.file("sub/out"), dir.file("sub/x"), dir.file("x"), std::string("/tmp/velotag-abs-test")})
      EXPECT_EQ(GetPathType(path), kPathMissing) << path;
  }
}

TEST(DownloadedFile, KindByFirstBytesAndTheOfferText) {
  test::TempDir dir;
  for (const auto& [bytes, offer] : std::vector<std::pair<std::string, std::string>>{
           {"PK\x03\x04", "File: f\r\nOpen archived file?"},
           {"Rar!\x1a\x07", "File: f\r\nOpen archived file?"},
           {"MZ\x90", "File: f\r\n\r\nOpen Directory?"},
           // Its version read from its bytes, never by running it (built
           // here: as one literal it would stamp this test program).
           {"\x7F" "ELF " + std::string(kVersionStampPrefix) + std::string("\0 ", 2) +
                kVersionStampPrefix + "2.3.4-rc1\n",
            "File: f\r\nVer: 2.3.4-rc1\r\nOpen Directory?"}}) {
    test::WriteFileText(dir.file("f"), bytes);
    DownloadKind kind;
    EXPECT_EQ(OfferDownloadedText(dir.file("f"), kind), offer);
  }
}

std::string Page(const std::string& title, const std::string& sha256) {
  return "<html><head><title>" + title + "</title>\n<meta name=\"sha256\" content=\"" + sha256 +
         "\"></head></html>\n";
}

// The home host: the page at /id3 and the two mirrors, files of a folder
// the scripted server answers from.
class HomeHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok() && CreatePath(root + "id3/") && CreatePath(root + "hollowcrag/progik/") &&
                CreatePath(program));
  }
  void Serve(const std::string& title, const std::string& first, const std::string& second,
             const std::string& shaOf) {
    if (!first.empty()) test::WriteFileBytes(root + "id3/Velotag.zip", test::ReadFileBytes(first));
    if (!second.empty())
      test::WriteFileBytes(root + "hollowcrag/progik/Velotag.zip", test::ReadFileBytes(second));
    WriteFileText(root + "id3/index.html", Page(title, shaOf.empty() ? "" : FileSha256(shaOf)));
  }
  std::string Zip(const std::string& name, const std::string& program) {
    WriteFileText(dir.file(name + ".bin"), program);
    return MakeArchive(dir.file(name), {"file:velotag:755:" + dir.file(name + ".bin")});
  }
  std::vector<std::string> Requested() {
    std::vector<std::string> paths;
    for (const test::Json& r : server.Requests()) paths.push_back(r["path"].string);
    return paths;
  }
  std::unique_ptr<Form1> Window(const std::string& install) {
    auto form = std::make_unique<Form1>(person, AppPaths{home, "velotag", install, "velotag"}, nullptr);
    form->Options().Servers.Update = server.base();
    return form;
  }
  test::TempDir dir;
  std::string root = dir.file("www/"), home = dir.file("home/"),
              download = home + "velotag-download/", program = dir.file("program/");
  test::ScriptServer server{dir.file("requests.jsonl"), "", "", root};
  test::FakeUI person;
};

TEST_F(HomeHost, VersionCheckReportsWhatThePageSays) {
  const std::string c = "Check last version: ";
  // The lines, and whether the check got its answer (the CLI's exit status).
  for (const auto& [page, local, expected, answered] :
       std::vector<std::tuple<std::string, std::string, std::vector<std::string>, bool>>{
           {Page("Velotag v1.10.0", ""), "1.9.5", {c + "Velotag v1.10.0", c + "You need to upgrade!"}, true},
           {Page("Velotag v2.0", ""), "2.0.0", {c + "Velotag v2.0", c + "You DON'T need to upgrade!"}, true},
           {Page("Velotag v1.9.5", ""), "1.10.0",
            {c + "Velotag v1.9.5", c + "You need to upload the newer version!"}, true},
           {Page("Velotag v", ""), "1.0", {c + "Velotag v", c + "VERSION ERROR!"}, false},
           // No end tag: the title is as long as "Velotag vX.X.X".
           {"<TITLE>Velotag v1.2.3 is out", "1.2.3", {c + "Velotag v1.2.3", c + "You DON'T need to upgrade!"}, true},
           {Page("Hollowcrag", ""), "1.0", {c + "Hollowcrag"}, true},
           {"<html><body>moved</body></html>", "1.0", {c + "unknown ERROR"}, false},
           {"", "1.0", {"Check last version UNSUCCESSFUL..."}, false}}) {
    WriteFileText(root + "id3/index.html", page);  // "": the host answers 404 instead
    std::vector<std::string> lines;
    UpdateSite site{page.empty() ? server.url("/status/404") : server.base(), dir.path(), 8000,
                    [](std::string& url, std::string& local, int ms, std::int64_t max) {
                      bool go = true;
                      std::string cookies;
                      return HttpDownload(url, local, ms, 5, go, true, max, "", cookies, "");
                    },
                    [&lines](const std::string& line) { lines.push_back(line); }};
    EXPECT_EQ(CheckLastVersion(site, "Check last version", local), answered) << page;
    EXPECT_EQ(lines, expected) << page;
  }
}

TEST_F(HomeHost, OnlyTheArchiveThePageVouchesForIsTaken) {
  const std::string good = Zip("good.zip", "new"), other = Zip("other.zip", "other");
  WriteFileText(dir.file("error.html"), "<html><h1>404 Not Found</h1></html>");
  const std::string first = "/id3/Velotag.zip", second = "/hollowcrag/progik/Velotag.zip";
  struct Case {
    std::string first, second, shaOf;
    std::vector<std::string> requests, logged;
  };
  for (const Case& c : std::vector<Case>{
           // An error page at the first mirror: the second is tried.
           {dir.file("error.html"), good, good, {"/id3", first, second},
            {"AUTO Upgrade: DOWNLOAD SUCCESSFUL..."}},
           {good, good, other, {"/id3", first, second},
            {"SHA-256 mismatch: " + server.url(first), "SHA-256 mismatch: " + server.url(second),
             "AUTO Upgrade UNSUCCESSFUL..."}},
           {good, good, "", {"/id3"},
            {"No SHA-256 on the home page: " + server.url("/id3"), "AUTO Upgrade UNSUCCESSFUL..."}}}) {
    Serve("Velotag v9.0", c.first, c.second, c.shaOf);
    DeleteTree(home);
    person = test::FakeUI();
    std::size_t before = Requested().size();
    auto form = Window(program);
    form->CmdUpdate_Click(kCmdAutoUpgrade);
    std::vector<std::string> requests = Requested();
    EXPECT_EQ(std::vector<std::string>(requests.begin() + static_cast<long>(before), requests.end()),
              c.requests);
    EXPECT_EQ(person.texts, c.logged);
    const bool taken = c.shaOf == good;
    EXPECT_EQ(form->UpgradeMarker(), taken ? download + "Velotag.zip" : "");
    EXPECT_EQ(ReadFileText(download + "extracted/velotag"), taken ? "new" : "");
    EXPECT_EQ(GetPathType(download + "Velotag.zip"), taken ? kPathFile : kPathMissing);
    // The window closes itself; the script runs only once it has.
    EXPECT_EQ(form->ClosingRequest(), taken);
    EXPECT_EQ(GetPathType(download + "upgrade.sh"), taken ? kPathFile : kPathMissing);
    EXPECT_EQ(GetPathType(program + "velotag"), kPathMissing);
    EXPECT_EQ(form->Timer1_Timer(), !taken);
    EXPECT_EQ(person.closed, taken ? 1 : 0);
  }
}

TEST_F(HomeHost, AnInstalledProgramOnlyChecks) {
  WriteFileText(root + "id3/index.html", Page("Velotag v9.0", std::string(64, '0')));
  Window("/usr/bin/")->CmdUpdate_Click(kCmdAutoUpgrade);
  EXPECT_EQ(person.texts,
            (std::vector<std::string>{
                "Check last version: Velotag v9.0", "Check last version: You need to upgrade!",
                "The program folder /usr/bin/ is not writable: updates come from the package "
                "manager"}));
  EXPECT_EQ(Requested(), std::vector<std::string>{"/id3"});
}

TEST(EraseDownloadFolder, OnlyTheProgramsOwnFolderAlsoAtStartUp) {
  for (const auto& [exists, marked, logged] : std::vector<std::tuple<bool, bool, std::string>>{
           {true, true, "Erase download folder SUCCESSFUL..."},
           {true, false, "Erase download folder UNSUCCESSFUL..."},
           {false, false, "Erase download folder SUCCESSFUL..."}}) {
    test::TempDir dir;
    const std::string folder = dir.file("velotag-download/");
    ASSERT_TRUE(!exists || CreatePath(folder + "sub/"));
    if (exists) WriteFileText(folder + "sub/file", "x");
    if (marked) WriteFileText(folder + kDownloadMarker, "");
    test::FakeUI person;
    Form1 form(person, AppPaths{dir.path(), "velotag"}, nullptr);
    form.Form_Load();
    EXPECT_EQ(std::count(person.texts.begin(), person.texts.end(), logged), marked ? 1 : 0);
    form.CmdUpdate_Click(kCmdEraseDownload);
    EXPECT_EQ(person.texts.back(), logged);
    EXPECT_EQ(GetPathType(folder + "sub/file") == kPathFile, exists && !marked);
  }
}

// The whole way, with a copy of velotag-cli in a folder whose name needs
// quoting: https check, download, verification, script, the old process
// ends, the new file is in place and starts.
TEST(EndToEnd, UpgradesACopyOfTheProgram) {
  test::TempDir dir;
  const std::string program = dir.file("velo tag's \"copy\"/"), www = dir.file("www/");
  ASSERT_TRUE(CreatePath(program) && CreatePath(www + "id3/"));
  test::Bytes cli = test::ReadFileBytes(VELOTAG_CLI), newer = cli;
  const std::string trailer = "\nthe newer build\n";
  newer.insert(newer.end(), trailer.begin(), trailer.end());
  test::WriteFileBytes(dir.file("new-cli"), newer);
  test::WriteFileBytes(program + "velotag-cli", cli);
  ::chmod((program + "velotag-cli").c_str(), 0755);
  MakeArchive(www + "id3/Velotag.zip", {"file:velotag-cli:755:" + dir.file("new-cli"), "text:NEWS:2.0"});
  WriteFileText(www + "id3/index.html", Page("Velotag v99.0", FileSha256(www + "id3/Velotag.zip")));
  ASSERT_TRUE(test::MakeCertificate(dir.path(), "cert"));
  test::ScriptServer server(dir.file("log"), dir.file("cert.pem"), dir.file("cert.key"), www);
  ASSERT_TRUE(server.ok());
  test::ProcessResult r = test::RunProcess(
      {program + "velotag-cli", "--home", program, "--update-server", server.hostPort(), "update", "upgrade"},
      "", {{"SSL_CERT_FILE", dir.file("cert.pem")}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, program + "velotag-download/upgrade.sh\n");
  // The script waits for the command to end, then 3 seconds.
  const std::string log = program + "velotag-upgrade.log", started = "velotag-cli " VELOTAG_VERSION;
  for (int i = 0; i < 300 && ReadFileText(log).find(started) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(ReadFileText(log).find(started), std::string::npos) << ReadFileText(log);
  EXPECT_EQ(test::ReadFileBytes(program + "velotag-cli"), newer);
  EXPECT_EQ(ReadFileText(program + "NEWS"), "2.0");
  EXPECT_EQ(test::RunProcess({program + "velotag-cli", "--version"}).out, started + "\n");
}

}  // namespace
}  // namespace velotag
