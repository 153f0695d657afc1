#include "update/upgrade.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "../online/script_server.h"
#include "helpers.h"
#include "library/form1.h"
#include "online/http.h"

namespace velotag {
namespace {

using test::ReadText;
using test::WriteFileText;

std::string Page(const std::string& title, const std::string& sha256) {
  return "<html><head><title>" + title + "</title>\n<meta name=\"sha256\" content=\"" + sha256 +
         "\"></head></html>\n";
}

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
    return test::MakeArchive(dir.file(name), "zip", {"file:velotag:755:" + dir.file(name + ".bin")});
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
  Person person;
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
    person = Person();
    std::size_t before = Requested().size();
    auto form = Window(program);
    form->CmdUpdate_Click(kCmdAutoUpgrade);
    std::vector<std::string> requests = Requested();
    EXPECT_EQ(std::vector<std::string>(requests.begin() + static_cast<long>(before), requests.end()),
              c.requests);
    EXPECT_EQ(person.texts, c.logged);
    const bool taken = c.shaOf == good;
    EXPECT_EQ(form->UpgradeMarker(), taken ? download + "Velotag.zip" : "");
    EXPECT_EQ(ReadText(download + "extracted/velotag"), taken ? "new" : "");
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
    Person person;
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
  test::MakeArchive(www + "id3/Velotag.zip", "zip",
                    {"file:velotag-cli:755:" + dir.file("new-cli"), "text:NEWS:2.0"});
  WriteFileText(www + "id3/index.html", Page("Velotag v99.0", FileSha256(www + "id3/Velotag.zip")));
  ASSERT_TRUE(test::MakeCertificate(dir.path(), "cert"));
  test::ScriptServer server(dir.file("log"), dir.file("cert.pem"), dir.file("cert.key"), www);
  ASSERT_TRUE(server.ok());
  test::ProcessResult r = test::RunProcess(
      {program + "velotag-cli", "--home", program, "--update-server",
       "127.0.0.1:" + std::to_string(server.port()), "update", "upgrade"},
      "", {{"SSL_CERT_FILE", dir.file("cert.pem")}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, program + "velotag-download/upgrade.sh\n");
  // The script waits for the command to end, then 3 seconds.
  const std::string log = program + "velotag-upgrade.log", started = "velotag-cli " VELOTAG_VERSION;
  for (int i = 0; i < 300 && ReadText(log).find(started) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(ReadText(log).find(started), std::string::npos) << ReadText(log);
  EXPECT_EQ(test::ReadFileBytes(program + "velotag-cli"), newer);
  EXPECT_EQ(ReadText(program + "NEWS"), "2.0");
  EXPECT_EQ(test::RunProcess({program + "velotag-cli", "--version"}).out, started + "\n");
}

}  // namespace
}  // namespace velotag
