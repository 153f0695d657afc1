// The CD window's logic on a disc image, looking the disc up on a scripted
// CDDB server on 127.0.0.1 and ripping into a scratch program folder.
#include "library/formcddb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <functional>

#include "cdimage.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::TempDir;

class FakeUI : public UserInterface {
 public:
  std::deque<bool> answers;
  std::vector<std::string> questions, timedMessages, opened;
  std::function<void(int pumpNumber)> onPump;
  int pumps = 0;

  bool AskYesNo(const std::string& text, const std::string& title) override {
    questions.push_back(title + ": " + text);
    return test::PopFront(answers);
  }
  void ShowTimedMessage(const std::string& text, const std::string& title, MessageIcon,
                        int timeoutMs) override {
    timedMessages.push_back(title + ": " + text + " " + std::to_string(timeoutMs));
  }
  bool PumpEvents() override {
    ++pumps;
    if (onPump) onPump(pumps);
    return true;
  }
  void OpenExternally(const std::string& path) override { opened.push_back(path); }
};

// 13, 11 and 4 seconds of audio and a data track, as one image.
const std::vector<test::ImageTrack> kTracks = {{1000}, {800}, {300}, {400, true}};

class FormCDDBTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok());
    image = test::MakeCdImage(disc.path(), "disc", kTracks);
    host.programFolder = home.path();
    host.settings = &settings;
    host.closingRequested = [this] { return closing; };
    host.changed = [this](CddbControl c) { changes.push_back(c); };
    Use("");
  }
  // The window over the scripted server at path ("/code/N" forces answers).
  void Use(const std::string& path) {
    host.serverOverride = server.base() + path + "/~cddb/cddb.cgi";
    form = std::make_unique<FormCDDB>(ui, host);
    form->Form_Load();
    form->AddDrive(image.cue);
  }
  std::string Rip(const std::string& folderName) const {
    return home.path() + "CDRIP/" + folderName + "/";
  }

  TempDir home, disc;
  test::ScriptServer server{disc.file("requests.jsonl")};
  test::CdImage image;
  Settings settings;
  FormCDDBHost host;
  FakeUI ui;
  bool closing = false;
  std::vector<CddbControl> changes;
  std::unique_ptr<FormCDDB> form;
};

TEST_F(FormCDDBTest, ListsTheDiscLooksItUpAndRipsItUnderItsTitles) {
  ASSERT_EQ(form->DriveBox().back().rfind(image.cue + " ", 0), 0u);
  EXPECT_EQ(form->DriveText(), image.cue);
  EXPECT_EQ(form->TrackLines(),
            (std::vector<std::string>{"AudioTrack01 [ 00:00:13 ]", "AudioTrack02 [ 00:00:11 ]",
                                      "AudioTrack03 [ 00:00:04 ]", " DataTrack04 [ 00:00:05 ]"}));
  form->CmdCDDB_Click(kCddbQuery);
  EXPECT_EQ(form->TxtCDDB[0].rfind("disc.cue 211 Found inexact matches", 0), 0u) << form->TxtCDDB[0];
  ASSERT_EQ(form->LstCDDB(0).Lines().size(), 3u);
  EXPECT_EQ(form->LstCDDBIndex(0), 0);
  EXPECT_EQ(form->CmbCategories, "rock");
  std::vector<TocEntry> toc;
  ReadToc(image.cue, toc);
  EXPECT_EQ(form->TxtCDDBdiscid, CddbDiscId(toc));

  form->CmdCDDB_Click(kCddbRead);
  EXPECT_EQ(form->TxtCDDB[1], "210 rock " + form->TxtCDDBdiscid +
                                  " CD database entry follows (until terminating `.')");
  EXPECT_EQ(form->LstCDDBIndex(1), 0);
  EXPECT_EQ(form->TxtCDDBread[0], "DISCID");
  form->LstCDDB_Click(1, 3);
  EXPECT_EQ(form->TxtCDDBread[0], "TTITLE1");
  EXPECT_EQ(form->TxtCDDBread[1], "AC/DC: Back In Black");

  form->CmdCDDB_Click(kCddbSelAll);
  form->CmdCDDB_Click(kCddbRip);
  EXPECT_TRUE(ui.questions.empty());
  // Three audio tracks; the data track is refused.
  EXPECT_EQ(form->TxtCDrip, "3 AudioTrack(s) ripped");
  const std::string folder = Rip("T\xc3\xabst \xc3\x81rtist - \xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc");
  EXPECT_EQ(ui.opened, std::vector<std::string>{folder});
  const std::vector<std::string> files = {
      folder + "01 \xd0\x9f\xd1\x80\xd0\xb5\xd0\xbb\xd1\x8e\xd0\xb4\xd0\xb8\xd1\x8f.wav",
      folder + "02 AC-DC; Back In Black.wav", folder + "03 ..-..-x.wav"};
  EXPECT_EQ(form->RippedFiles(), files);
  for (std::size_t i = 0; i < files.size(); ++i) {
    auto bytes = test::ReadFileBytes(files[i]);
    ASSERT_EQ(bytes.size(), 44u + kTracks[i].sectors * 2352);
    auto sectors = image.Sectors(image.start[i], kTracks[i].sectors);
    EXPECT_TRUE(std::equal(sectors.begin(), sectors.end(), bytes.begin() + 44));
  }
  EXPECT_EQ(form->RipCounter(), 0);
}

// After any answer but a match the list is empty and nothing is chosen.
TEST_F(FormCDDBTest, QueryAnswers) {
  struct Case {
    std::string path;
    std::string answer;  // after the drive's name
    std::size_t matches;
    std::string category;
  } cases[] = {
      {"/code/200", "200 rock 0401a202 Exact Artist / Exact Album", 1, "rock"},
      {"/code/210", "210 Found exact matches, list follows (until terminating `.')", 2, "rock"},
      {"", "211 Found inexact matches, list follows (until terminating `.')", 3, "rock"},
      {"/code/202", "202 No match for disc ID 20202020.", 0, "kept"},
      {"/code/403", "403 Database entry is corrupt.", 0, "kept"},
      {"/code/409", "409 No handshake.", 0, "kept"},
      {"/code/500", "500 Command syntax error.", 0, "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Use(c.path);
    form->CmbCategories = "kept";
    form->CmdCDDB_Click(kCddbQuery);
    EXPECT_EQ(form->TxtCDDB[0], "disc.cue " + c.answer);
    EXPECT_EQ(form->LstCDDB(0).Lines().size(), c.matches);
    EXPECT_EQ(form->LstCDDBIndex(0), c.matches ? 0 : -1);
    EXPECT_EQ(form->CmbCategories, c.category);
  }
  // An exact match without a list: the status line's text is the match.
  Use("/code/200");
  form->CmdCDDB_Click(kCddbQuery);
  EXPECT_EQ(form->LstCDDB(0).Lines().front(), "rock 0401a202 Exact Artist / Exact Album");
  EXPECT_EQ(form->TxtCDDBdiscid, "0401a202");
  // A read that finds nothing, and a server that is not there.
  Use("/code/401");
  form->TxtCDDBdiscid = "0401a202";
  form->CmdCDDB_Click(kCddbRead);
  EXPECT_EQ(form->TxtCDDB[1], "401 cddb read: specified entry not found.");
  EXPECT_TRUE(form->LstCDDB(1).Lines().empty());
  EXPECT_EQ(form->LstCDDBIndex(1), -1);
  host.serverOverride = "127.0.0.1:1";
  form = std::make_unique<FormCDDB>(ui, host);
  form->AddDrive(image.cue);
  form->CmdCDDB_Click(kCddbQuery);
  EXPECT_EQ(form->TxtCDDB[0], "disc.cue Connection error");
  // No drive at all: nothing is sent.
  form = std::make_unique<FormCDDB>(ui, host);
  form->CmdCDDB_Click(kCddbQuery);
  EXPECT_EQ(form->TxtCDDB[0], "NO ASPI DRIVER");
}

TEST_F(FormCDDBTest, TheServerBoxAndTheAddressReachTheServer) {
  host.serverOverride.clear();
  settings.Servers.Cddb = "127.0.0.1:1";
  settings.Servers.Cddb2 = server.base() + "/code/200/~cddb/cddb.cgi";
  settings.Servers.CddbEmail = "ripper@example.org";
  form = std::make_unique<FormCDDB>(ui, host);
  form->AddDrive(image.cue);
  form->CmdCDDB_Click(kCddbQuery);
  EXPECT_EQ(form->TxtCDDB[0], "disc.cue Connection error");
  form->CmbServer = "MusicBrainz";
  form->CmdCDDB_Click(kCddbQuery);
  EXPECT_EQ(form->LstCDDB(0).Lines().size(), 1u);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0]["path"].string.find("hello=ripper%20example.org%20"), std::string::npos);
  EXPECT_NE(requests[0]["path"].string.find("&proto=6"), std::string::npos);
}

TEST(RipNames, FromTheRecordAndNeverOutsideTheirFolder) {
  const std::vector<std::string> lines = {"AudioTrack01 [ 00:03:45 ]", "AudioTrack02 [ 00:01:00 ]",
                                          "AudioTrack03 [ 00:02:00 ]"};
  std::tm now{};
  now.tm_year = 124;
  now.tm_mon = 2;
  now.tm_mday = 7;
  now.tm_hour = 9;
  now.tm_min = 5;
  const std::string dated = "2024_03_07_09_05_00";
  const std::string longTitle(300, 'x');
  struct Case {
    std::string record;
    std::vector<std::string> names;
  } cases[] = {
      {"", {dated, "AudioTrack01 [ 00;03;45 ].wav", "AudioTrack02 [ 00;01;00 ].wav",
            "AudioTrack03 [ 00;02;00 ].wav"}},
      {"DTITLE=A / B\r\nTTITLE0=x/y:z?\r\nttitle2=Three\r\nTTITLE9=Nine",
       {"A - B", "01 x-y;z$.wav", "AudioTrack02 [ 00;01;00 ].wav", "03 Three.wav"}},
      // Two tracks of one title stay two files.
      {"DTITLE=..\r\nTTITLE0=Same\r\nTTITLE1=Same",
       {dated, "01 Same.wav", "02 Same.wav", "AudioTrack03 [ 00;02;00 ].wav"}},
      {"DTITLE=\r\nTTITLE0=..", {dated, "01 ...wav", "AudioTrack02 [ 00;01;00 ].wav",
                                 "AudioTrack03 [ 00;02;00 ].wav"}},
      {"DTITLE=../../escape\r\nTTITLE0=../../../etc/passwd",
       {"__-..-escape", "01 ..-..-..-etc-passwd.wav", "AudioTrack02 [ 00;01;00 ].wav",
        "AudioTrack03 [ 00;02;00 ].wav"}},
      {"DTITLE=" + longTitle + "\r\nTTITLE0=" + longTitle,
       {std::string(255, 'x'), "01 " + std::string(248, 'x') + ".wav",
        "AudioTrack02 [ 00;01;00 ].wav", "AudioTrack03 [ 00;02;00 ].wav"}},
  };
  for (const Case& c : cases) {
    CddbResponse record =
        c.record.empty() ? CddbResponse{} : ParseCddbResponse("210 rock 1 follows\r\n" + c.record);
    EXPECT_EQ(BuildRipNames(lines, record, now), c.names) << c.record;
  }
}

TEST(RipNames, ProgressText) {
  const std::pair<float, const char*> cases[] = {
      {5.0f, "[ /dev/sr0 ] [ Track07 ] [   5 % ]"},
      {100.0f / 3, "[ /dev/sr0 ] [ Track07 ] [  33.33333 % ]"},
      {0.5f, "[ /dev/sr0 ] [ Track07 ] [   0.5 % ]"},
      {100.0f, "[ /dev/sr0 ] [ Track07 ] [ 100 % ]"}};
  for (auto [percent, text] : cases) EXPECT_EQ(RipProgressText("/dev/sr0", 7, percent), text);
}

TEST_F(FormCDDBTest, RipRefusals) {
  // Nothing chosen: no question, no folder.
  form->CmdCDDB_Click(kCddbRip);
  EXPECT_EQ(form->TxtCDrip, "Please select AudioTrack(s)");
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(GetPathType(home.path() + "CDRIP"), kPathMissing);
  // Without a record read: the question, and No ends it.
  form->SetTrackSelected(0, true);
  form->CmdCDDB_Click(kCddbRip);
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0],
            "RIP selected: You don't read DiscID so I wil create default filenames. Continue?");
  EXPECT_EQ(GetPathType(home.path() + "CDRIP"), kPathMissing);
  // No disc: no tracks.
  form = std::make_unique<FormCDDB>(ui, host);
  form->AddDrive(disc.file("none.cue"));
  EXPECT_TRUE(form->TrackLines().empty());
  form->CmdCDDB_Click(kCddbRip);
  EXPECT_EQ(form->TxtCDrip, "Don't exist AudioTrack(s)");
}

// STOP, closing the CD window and the main window's closing request all
// end the track being ripped and the rip; a second RIP meanwhile is refused.
TEST_F(FormCDDBTest, StoppingARip) {
  struct Case {
    const char* name;
    std::function<void(FormCDDB&)> press;
  } cases[] = {
      {"stop", [](FormCDDB& f) { f.CmdCDDB_Click(kCddbStop); }},
      {"close", [](FormCDDB& f) { f.Form_Unload(); }},
      {"quit", [this](FormCDDB&) { closing = true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Use("");
    closing = false;
    ui.answers = {true};
    ui.opened.clear();
    ui.timedMessages.clear();
    ui.pumps = 0;
    form->CmdCDDB_Click(kCddbSelAll);
    ui.onPump = [&](int n) {
      if (n == 2) {
        form->CmdCDDB_Click(kCddbRip);
        // A click on Refresh must not pull the tracks away from the rip.
        form->CmdCDDB_Click(kCddbRefresh);
      }
      if (n == 3) c.press(*form);
    };
    form->CmdCDDB_Click(kCddbRip);
    ui.onPump = nullptr;
    EXPECT_EQ(form->TxtCDrip, "0 AudioTrack(s) ripped");
    EXPECT_EQ(ui.timedMessages, std::vector<std::string>{"RIP selected: Still working... 5000"});
    EXPECT_TRUE(ui.opened.empty());
    EXPECT_EQ(form->RipCounter(), 0);
    // The first track holds what was read before the stop; no other was begun.
    std::vector<FolderEntry> rips;
    ListFolder(home.path() + "CDRIP/", rips);
    ASSERT_FALSE(rips.empty());
    std::vector<FolderEntry> files;
    ListFolder(rips.back().Name, files);
    ASSERT_EQ(files.size(), 1u) << rips.back().Name;
    EXPECT_EQ(files[0].Size, 44 + 3 * 15 * 2352);
    DeleteTree(home.path() + "CDRIP/");
  }
}

}  // namespace
}  // namespace velotag
