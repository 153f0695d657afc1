#include "update/upgrade.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "../online/script_server.h"
#include "library/form1.h"
#include "online/http.h"
#include "support/paths.h"
#include "testutil.h"
#include "update/mirror.h"

namespace velotag {
namespace {

using test::ScriptServer;
using test::TempDir;
using test::WriteFileText;

std::string Text(const std::string& path) {
  if (GetPathType(path) != kPathFile) return {};
  test::Bytes b = test::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Page(const std::string& title, const std::string& sha256) {
  return "<html><head><title>" + title + "</title>\n<meta name=\"sha256\" content=\"" + sha256 +
         "\"></head><body>Velotag</body></html>\n";
}

// A zip holding a "velotag" program, made by Python's zipfile.
std::string MakeZip(const TempDir& dir, const std::string& name, const std::string& program) {
  WriteFileText(dir.file("program.bin"), program);
  test::ProcessResult r =
      test::RunProcess({test::PythonPath(), test::ToolPath("make_archive.py"), dir.file(name),
                        "zip", "file:velotag:755:" + dir.file("program.bin")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return dir.file(name);
}

// The home host: the page at /id3 and the two mirrors, as files of a
// folder the server answers from.
class HomeHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreatePath(root + "id3/") && CreatePath(root + "hollowcrag/progik/"));
    ASSERT_TRUE(CreatePath(download));
    WriteFileText(download + kDownloadMarker, "");
    ASSERT_TRUE(server.ok());
  }
  UpdateSite Site() {
    UpdateSite site;
    site.home = server.base();
    site.downloadFolder = download;
    site.download = [](std::string& url, std::string& local, int timeoutMs, std::int64_t max) {
      bool go = true;
      std::string cookies;
      return HttpDownload(url, local, timeoutMs, 5, go, true, max, "", cookies, "");
    };
    site.log = [this](const std::string& line) { lines.push_back(line); };
    return site;
  }
  std::vector<std::string> Paths() {
    std::vector<std::string> paths;
    for (const test::Json& r : server.Requests()) paths.push_back(r["path"].string);
    return paths;
  }
  UpgradeTarget Target() {
    UpgradeTarget t;
    t.programFolder = program;
    t.runningExeName = "velotag";
    t.logFile = dir.file("upgrade.log");
    t.pid = ::getpid();
    return t;
  }
  TempDir dir;
  std::string root = dir.file("www/"), download = dir.file("home/velotag-download/"),
              program = dir.file("program/");
  ScriptServer server{dir.file("requests.jsonl"), "", "", root};
  std::vector<std::string> lines;
};

TEST_F(HomeHost, VersionCheckReportsWhatThePageSays) {
  struct Case {
    std::string page, local;
    std::vector<std::string> expected;
  };
  const std::string c = "Check last version";
  for (const Case& k : std::vector<Case>{
           {Page("Velotag v1.10.0", ""), "1.9.5",
            {c + ": Velotag v1.10.0", c + ": You need to upgrade!"}},
           {Page("Velotag v2.0", ""), "2.0.0",
            {c + ": Velotag v2.0", c + ": You DON'T need to upgrade!"}},
           {Page("Velotag v1.9.5", ""), "1.10.0",
            {c + ": Velotag v1.9.5", c + ": You need to upload the newer version!"}},
           {Page("Velotag v", ""), "1.0", {c + ": Velotag v", c + ": VERSION ERROR!"}},
           {Page("Hollowcrag", ""), "1.0", {c + ": Hollowcrag"}},
           {"<html><body>moved</body></html>", "1.0", {c + ": unknown ERROR"}}}) {
    WriteFileText(root + "id3/index.html", k.page);
    lines.clear();
    CheckLastVersion(Site(), c, k.local);
    EXPECT_EQ(lines, k.expected) << k.page;
  }
  // Unreachable: the host answers 404.
  FileDelete(root + "id3/index.html");
  UpdateSite site = Site();
  site.home = server.url("/status/404/x");
  lines.clear();
  CheckLastVersion(site, c, "1.0");
  EXPECT_EQ(lines, std::vector<std::string>{c + " UNSUCCESSFUL..."});
}

TEST_F(HomeHost, AnErrorPageAtTheFirstMirrorIsPassedOver) {
  std::string zip = MakeZip(dir, "good.zip", "#!/bin/sh\necho new\n");
  ASSERT_EQ(std::rename(zip.c_str(), (root + "hollowcrag/progik/Velotag.zip").c_str()), 0);
  WriteFileText(root + "id3/Velotag.zip", "<html><h1>404 Not Found</h1></html>");
  WriteFileText(root + "id3/index.html",
                Page("Velotag v9.0", FileSha256(root + "hollowcrag/progik/Velotag.zip")));
  UpgradeResult r = PrepareUpgrade(Site(), "AUTO Upgrade", Target());
  ASSERT_EQ(r.outcome, UpgradeOutcome::Prepared) << ::testing::PrintToString(lines);
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/id3", "/id3/Velotag.zip",
                                                "/hollowcrag/progik/Velotag.zip"}));
  EXPECT_TRUE(Has(lines, "AUTO Upgrade: DOWNLOAD SUCCESSFUL..."));
  EXPECT_EQ(test::ReadFileBytes(r.archive),
            test::ReadFileBytes(root + "hollowcrag/progik/Velotag.zip"));
  EXPECT_EQ(Text(download + "extracted/velotag"), "#!/bin/sh\necho new\n");
  EXPECT_EQ(r.script, download + "upgrade.sh");
  EXPECT_NE(Text(r.script).find("pid=" + std::to_string(::getpid()) + "\n"), std::string::npos);
}

TEST_F(HomeHost, NothingIsPreparedWithoutTheRightChecksum) {
  std::string zip = MakeZip(dir, "good.zip", "#!/bin/sh\necho new\n");
  std::string other = MakeZip(dir, "other.zip", "#!/bin/sh\necho other\n");
  test::WriteFileBytes(root + "id3/Velotag.zip", test::ReadFileBytes(zip));
  test::WriteFileBytes(root + "hollowcrag/progik/Velotag.zip", test::ReadFileBytes(zip));
  struct Case {
    std::string page;
    std::vector<std::string> requests, logged;
  };
  const std::string mismatch = "SHA-256 mismatch: ";
  for (const Case& c : std::vector<Case>{
           {Page("Velotag v9.0", FileSha256(other)),
            {"/id3", "/id3/Velotag.zip", "/hollowcrag/progik/Velotag.zip"},
            {mismatch + server.url("/id3/Velotag.zip"),
             mismatch + server.url("/hollowcrag/progik/Velotag.zip"),
             "AUTO Upgrade UNSUCCESSFUL..."}},
           {Page("Velotag v9.0", ""),
            {"/id3"},
            {"No SHA-256 on the home page: " + server.url("/id3"),
             "AUTO Upgrade UNSUCCESSFUL..."}}}) {
    WriteFileText(root + "id3/index.html", c.page);
    std::size_t before = Paths().size();
    lines.clear();
    UpgradeResult r = PrepareUpgrade(Site(), "AUTO Upgrade", Target());
    EXPECT_EQ(r.outcome, UpgradeOutcome::Failed);
    std::vector<std::string> paths = Paths();
    EXPECT_EQ(std::vector<std::string>(paths.begin() + static_cast<long>(before), paths.end()),
              c.requests);
    EXPECT_EQ(lines, c.logged);
    for (const char* left : {"Velotag.zip", "extracted", "upgrade.sh"})
      EXPECT_EQ(GetPathType(download + left), kPathMissing) << left;
  }
}

TEST_F(HomeHost, AHostileArchiveIsRefused) {
  test::ProcessResult made = test::RunProcess(
      {test::PythonPath(), test::ToolPath("make_archive.py"), root + "id3/Velotag.zip", "zip",
       "text:velotag:new", "text:../x:evil"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  WriteFileText(root + "id3/index.html", Page("Velotag v9.0", FileSha256(root + "id3/Velotag.zip")));
  UpgradeResult r = PrepareUpgrade(Site(), "AUTO Upgrade", Target());
  EXPECT_EQ(r.outcome, UpgradeOutcome::Failed);
  EXPECT_TRUE(Has(lines, "AUTO Upgrade UNSUCCESSFUL..."));
  EXPECT_EQ(GetPathType(download + "upgrade.sh"), kPathMissing);
  EXPECT_EQ(GetPathType(dir.file("home/x")), kPathMissing);
}

// The buttons of the window, through Form1.
class Person : public UserInterface {
 public:
  bool AskYesNo(const std::string& text, const std::string& title) override {
    questions.push_back(title + "|" + text);
    return false;
  }
  void StatusLineAdded(const std::string& line) override { texts.push_back(line.substr(11)); }
  void CloseWindow() override { ++closed; }
  std::vector<std::string> questions, texts;
  int closed = 0;
};

TEST_F(HomeHost, AutoUpgradePreparesAndClosesTheWindow) {
  ASSERT_TRUE(CreatePath(program));
  WriteFileText(program + "velotag", "old");
  std::string zip = MakeZip(dir, "good.zip", "new");
  ASSERT_EQ(std::rename(zip.c_str(), (root + "id3/Velotag.zip").c_str()), 0);
  WriteFileText(root + "id3/index.html", Page("Velotag v9.0", FileSha256(root + "id3/Velotag.zip")));
  DeleteTree(download);
  Person person;
  Form1 form(person, AppPaths{dir.file("home/"), "velotag", program, "velotag"}, nullptr);
  form.Options().Servers.Update = server.base();
  form.CmdUpdate_Click(kCmdAutoUpgrade);
  EXPECT_TRUE(Has(person.texts, "AUTO Upgrade: DOWNLOAD SUCCESSFUL...")) << person.texts.back();
  EXPECT_EQ(form.UpgradeMarker(), download + "Velotag.zip");
  EXPECT_EQ(form.BusyCount(), 0);
  EXPECT_EQ(GetPathType(download + kDownloadMarker), kPathFile);
  EXPECT_EQ(GetPathType(download + "upgrade.sh"), kPathFile);
  EXPECT_EQ(Text(program + "velotag"), "old");  // replaced only once the program has ended
  EXPECT_TRUE(form.ClosingRequest());
  EXPECT_FALSE(form.Timer1_Timer());
  EXPECT_EQ(person.closed, 1);
  // Erasing the folder withdraws the upgrade: no script is left to start.
  form.CmdUpdate_Click(kCmdEraseDownload);
  EXPECT_EQ(person.texts.back(), "Erase download folder SUCCESSFUL...");
  EXPECT_FALSE(form.StartPreparedUpgrade());
}

TEST_F(HomeHost, AnInstalledProgramOnlyChecks) {
  WriteFileText(root + "id3/index.html", Page("Velotag v9.0", std::string(64, '0')));
  Person person;
  Form1 form(person, AppPaths{dir.file("home/"), "velotag", "/usr/bin/", "velotag"}, nullptr);
  form.Options().Servers.Update = server.base();
  form.CmdUpdate_Click(kCmdAutoUpgrade);
  EXPECT_EQ(person.texts,
            (std::vector<std::string>{
                "Check last version: Velotag v9.0", "Check last version: You need to upgrade!",
                "The program folder /usr/bin/ is not writable: updates come from the package "
                "manager"}));
  EXPECT_EQ(Paths(), std::vector<std::string>{"/id3"});
  EXPECT_TRUE(form.UpgradeMarker().empty());
  EXPECT_FALSE(form.ClosingRequest());
}

TEST_F(HomeHost, WithoutAScriptTheFileIsOffered) {
  struct Case {
    std::string served, question;
  };
  for (const Case& c : std::vector<Case>{
           {MakeZip(dir, "good.zip", "new"), "OPEN|File: Velotag.zip\r\nOpen archived file?"},
           {"/proc/self/exe",
            "OPEN|File: Velotag.zip\r\nVer: " VELOTAG_VERSION "\r\nOpen Directory?"}}) {
    test::WriteFileBytes(root + "id3/Velotag.zip", test::ReadFileBytes(c.served));
    WriteFileText(root + "id3/index.html",
                  Page("Velotag v9.0", FileSha256(root + "id3/Velotag.zip")));
    DeleteTree(download);
    ASSERT_TRUE(CreatePath(download + "upgrade.sh/"));  // where the script cannot be written
    WriteFileText(download + kDownloadMarker, "");
    Person person;
    Form1 form(person, AppPaths{dir.file("home/"), "velotag", dir.path(), "velotag"}, nullptr);
    form.Options().Servers.Update = server.base();
    form.CmdUpdate_Click(kCmdAutoUpgrade);
    EXPECT_TRUE(Has(person.texts, "Can't create upgrade.sh"));
    EXPECT_EQ(person.questions, std::vector<std::string>{c.question});
    EXPECT_TRUE(form.UpgradeMarker().empty());
  }
}

TEST(EraseDownloadFolder, OnlyTheProgramsOwnFolder) {
  struct Case {
    bool exists, marked;
    std::string logged;
    bool remains;
  };
  for (const Case& c : std::vector<Case>{{true, true, "Erase download folder SUCCESSFUL...", false},
                                         {true, false, "Erase download folder UNSUCCESSFUL...", true},
                                         {false, false, "Erase download folder SUCCESSFUL...", false}}) {
    TempDir dir;
    const std::string folder = dir.file("velotag-download/");
    if (c.exists) {
      ASSERT_TRUE(CreatePath(folder + "sub/"));
      WriteFileText(folder + "sub/file", "x");
      if (c.marked) WriteFileText(folder + kDownloadMarker, "");
    }
    Person person;
    Form1 form(person, AppPaths{dir.path(), "velotag"}, nullptr);
    form.Form_Load();  // erases at start-up only what carries the marker, and says so
    EXPECT_EQ(Has(person.texts, c.logged), c.exists && c.marked);
    form.CmdUpdate_Click(kCmdEraseDownload);
    EXPECT_EQ(person.texts.back(), c.logged);
    EXPECT_EQ(GetPathType(folder + "sub/file") == kPathFile, c.remains);
  }
}

TEST(UpdateCommand, ArgumentsAndExitStatus) {
  TempDir home;
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string logged;
  };
  for (const Case& c : std::vector<Case>{
           {{"update"}, 2, ""},
           {{"update", "install"}, 2, ""},
           {{"update", "check", home.path()}, 2, ""},
           {{"--update-server", "ftp://127.0.0.1", "update", "check"}, 2, ""},
           {{"--update-server", "http://127.0.0.1:1/", "update", "check"}, 1,
            "Check last version UNSUCCESSFUL..."},
           {{"--update-server", "https://127.0.0.1:1", "update", "upgrade"}, 1,
            "AUTO Upgrade UNSUCCESSFUL..."},
           {{"update", "erase"}, 0, "Erase download folder SUCCESSFUL..."}}) {
    std::vector<std::string> argv = {VELOTAG_CLI, "--home", home.path()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    test::ProcessResult r = test::RunProcess(argv);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.logged), std::string::npos) << r.err;
  }
}

// The whole way, with a copy of velotag-cli in a folder whose name needs
// quoting: https check, download, verification, script, the old process
// ends, the new file is in place and starts.
TEST(EndToEnd, UpgradesACopyOfTheProgram) {
  TempDir dir;
  const std::string program = dir.file("velo tag's \"copy\"/");
  const std::string www = dir.file("www/");
  ASSERT_TRUE(CreatePath(program) && CreatePath(www + "id3/"));
  test::Bytes cli = test::ReadFileBytes(VELOTAG_CLI);
  test::WriteFileBytes(program + "velotag-cli", cli);
  ::chmod((program + "velotag-cli").c_str(), 0755);
  test::Bytes newer = cli;
  const std::string trailer = "\nthe newer build\n";
  newer.insert(newer.end(), trailer.begin(), trailer.end());
  test::WriteFileBytes(dir.file("new-cli"), newer);
  ASSERT_EQ(test::RunProcess({test::PythonPath(), test::ToolPath("make_archive.py"),
                              www + "id3/Velotag.zip", "zip",
                              "file:velotag-cli:755:" + dir.file("new-cli"), "text:NEWS:2.0"})
                .exitCode,
            0);
  WriteFileText(www + "id3/index.html", Page("Velotag v99.0", FileSha256(www + "id3/Velotag.zip")));
  for (std::string name : {"cert"}) {
    ASSERT_EQ(test::RunProcess({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-keyout",
                                dir.file(name + ".key"), "-out", dir.file(name + ".pem"), "-subj",
                                "/CN=velotag test", "-addext", "subjectAltName=IP:127.0.0.1"})
                  .exitCode,
              0);
  }
  ScriptServer server(dir.file("log"), dir.file("cert.pem"), dir.file("cert.key"), www);
  ASSERT_TRUE(server.ok());
  // Another program of the same name, elsewhere, must be left alone.
  ASSERT_TRUE(CreatePath(dir.file("other/")));
  test::WriteFileBytes(dir.file("other/velotag-cli"), test::ReadFileBytes("/bin/sleep"));
  ::chmod(dir.file("other/velotag-cli").c_str(), 0755);
  struct Other {
    pid_t pid = ::fork();
    ~Other() {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } other;
  if (other.pid == 0) {
    ::execl(dir.file("other/velotag-cli").c_str(), "velotag-cli", "30", nullptr);
    ::_exit(127);
  }

  const std::map<std::string, std::string> env = {{"SSL_CERT_FILE", dir.file("cert.pem")}};
  test::ProcessResult r =
      test::RunProcess({program + "velotag-cli", "--home", program, "--update-server",
                        "127.0.0.1:" + std::to_string(server.port()), "update", "upgrade"},
                       "", env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("AUTO Upgrade: DOWNLOAD SUCCESSFUL..."), std::string::npos) << r.err;
  EXPECT_EQ(r.out, program + "velotag-download/upgrade.sh\n");

  // The script waits for the command to end, then 3 seconds.
  const std::string log = program + "velotag-upgrade.log";
  for (int i = 0; i < 300 && Text(log).find("velotag-cli " VELOTAG_VERSION) == std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(Text(log).find("velotag-cli " VELOTAG_VERSION), std::string::npos) << Text(log);
  EXPECT_EQ(test::ReadFileBytes(program + "velotag-cli"), newer);
  EXPECT_EQ(Text(program + "NEWS"), "2.0");
  EXPECT_EQ(test::RunProcess({program + "velotag-cli", "--version"}).out,
            "velotag-cli " VELOTAG_VERSION "\n");
  EXPECT_EQ(::waitpid(other.pid, nullptr, WNOHANG), 0);  // still running
}

}  // namespace
}  // namespace velotag
