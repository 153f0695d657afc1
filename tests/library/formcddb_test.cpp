// The CD window's logic on a disc image, looking the disc up on a scripted
// CDDB server and MusicBrainz service on 127.0.0.1 and ripping into a
// scratch program folder.
#include "library/formcddb.h"

#include <gtest/gtest.h>

#include "cdimage.h"
#include "fake_ui.h"
#include "mb_answer.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

const std::vector<test::ImageTrack> kTracks = {{1000}, {800}, {300}, {400, true}};

class FormCDDBTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok());
    host.programFolder = home.path();
    host.settings = &settings;
    host.closingRequested = [this] { return closing; };
    Use("");
  }
  // The window over the scripted server at path ("/code/N" forces answers).
  void Use(const std::string& path) {
    host.serverOverride = server.base() + path + "/~cddb/cddb.cgi";
    form = std::make_unique<FormCDDB>(ui, host);
    form->AddDrive(image.cue);
  }

  test::TempDir home, disc, www;  // www: the MusicBrainz service's answers
  test::ScriptServer server{disc.file("requests.jsonl"), "", "", www.path()};
  test::CdImage image = test::MakeCdImage(disc.path(), "disc", kTracks);
  Settings settings;
  FormCDDBHost host;
  test::FakeUI ui;
  bool closing = false;
  std::unique_ptr<FormCDDB> form;
};

// Any answer but a match leaves the match list empty, nothing chosen.
TEST_F(FormCDDBTest, AnswersWithoutAMatch) {
  for (std::string code : {"202", "403", "409", "500"}) {
    Use("/code/" + code);
    form->CmbCategories = "kept";
    form->CmdCDDB_Click(kCddbQuery);
    EXPECT_EQ(form->TxtCDDB[0].substr(0, 13), "disc.cue " + code + " ");
    EXPECT_EQ(form->LstCDDB(0).Lines().size(), 0u) << code;
    EXPECT_EQ(form->LstCDDBIndex(0), -1) << code;
    EXPECT_EQ(form->CmbCategories, "kept") << code;
  }
  Use("/code/200");  // an exact match: the status line's text is the match
  form->CmdCDDB_Click(kCddbQuery);
  EXPECT_EQ(form->LstCDDB(0).Lines(), std::deque<std::string>{"rock 0401a202 Exact Artist / Exact Album"});
  // Greeted with the built-in user and host when no address is set.
  EXPECT_NE(server.Requests()[0]["path"].string.find("&hello=Hollowcrag%20velotag.hollowcrag.example%20%22Velotag%22%200.1&proto=6"),
            std::string::npos);
}

// The releases fill the match list and the first is the record; an error
// status and STOP in a slow answer leave both empty, and the next lookup
// works. (Every status of the client: tests/online/disc_test.cpp.)
TEST_F(FormCDDBTest, MusicBrainzLookups) {
  const std::string id = MusicBrainzDiscId(1, 3, 150 + 2100, {150, 150 + 1000, 150 + 1800});  // no data track
  ASSERT_TRUE(CreatePath(www.path() + "mb/ws/2/discid"));
  test::WriteFileText(www.path() + "mb/ws/2/discid/" + id, test::MusicBrainzFoundAnswer(id));
  form->CmbServer = "MusicBrainz";
  const std::pair<std::string, std::string> cases[] = {
      {"/status/503", "HTTP 503"}, {"/slow/mb", "Stopped"}, {"/mb", "2 release(s)"}};
  for (const auto& [prefix, status] : cases) {
    settings.Servers.MusicBrainz = server.url(prefix);
    const std::size_t asked = server.Requests().size();
    ui.onPump = [&](int) {
      if (prefix == "/slow/mb" && server.Requests().size() > asked) form->CmdCDDB_Click(kCddbStop);
    };
    form->CmdCDDB_Click(kCddbQuery);
    // The matches, then the record's lines.
    EXPECT_EQ(form->TxtCDDB[0], "disc.cue " + status);
    EXPECT_EQ(form->LstCDDB(0).Lines().size(), prefix == "/mb" ? 2u : 0u) << prefix;
    EXPECT_EQ(form->Response().lines.size(), prefix == "/mb" ? 4u : 0u) << prefix;
  }
}

TEST(RipNames, FromTheRecordAndNeverOutsideTheirFolder) {
  const std::vector<std::string> lines = {"AudioTrack01 [ 00:03:45 ]", "AudioTrack02 [ 00:01:00 ]"};
  const std::string dated = "2024_03_07_09_05_00", long300(300, 'x');
  const std::string track2 = "AudioTrack02 [ 00;01;00 ].wav";
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {dated, "AudioTrack01 [ 00;03;45 ].wav", track2}},
      {"DTITLE=A / B\r\nTTITLE0=x/y:z?\r\nTTITLE9=Nine", {"A - B", "01 x-y;z$.wav", track2}},
      {"DTITLE=..\r\nTTITLE0=Same\r\nttitle1=Same", {dated, "01 Same.wav", "02 Same.wav"}},
      {"DTITLE=\r\nTTITLE0=..", {dated, "01 ...wav", track2}},
      {"DTITLE=../../up\r\nTTITLE0=../../../etc/passwd", {"__-..-up", "01 ..-..-..-etc-passwd.wav", track2}},
      {"DTITLE=" + long300 + "\r\nTTITLE0=" + long300,
       {std::string(255, 'x'), "01 " + std::string(248, 'x') + ".wav", track2}},
  };
  std::tm now{};
  now.tm_year = 124, now.tm_mon = 2, now.tm_mday = 7, now.tm_hour = 9, now.tm_min = 5;
  for (const auto& [record, names] : cases)
    EXPECT_EQ(BuildRipNames(lines, record.empty() ? CddbResponse{} : ParseCddbResponse("210 r\r\n" + record), now),
              names);
  EXPECT_EQ(RipProgressText("/dev/sr0", 7, 100.0f / 3), "[ /dev/sr0 ] [ Track07 ] [  33.33333 % ]");
  EXPECT_EQ(RipProgressText("/dev/sr0", 7, 5.0f), "[ /dev/sr0 ] [ Track07 ] [   5 % ]");
}

// The main window's closing request ends the track being ripped and the rip
// (STOP and closing the CD window: tests/gui); a second RIP meanwhile is
// refused, and the track begun keeps what was read.
TEST_F(FormCDDBTest, ClosingTheProgramStopsARip) {
  ui.answers = {true};
  form->CmdCDDB_Click(kCddbSelAll);
  ui.onPump = [&](int n) {
    if (n == 2) {
      form->CmdCDDB_Click(kCddbRip);
      form->CmdCDDB_Click(kCddbRefresh);  // must not pull the tracks away from the rip
    }
    closing = n >= 3;
  };
  form->CmdCDDB_Click(kCddbRip);
  EXPECT_EQ(form->TxtCDrip, "0 AudioTrack(s) ripped");
  EXPECT_EQ(ui.messages.back(), "RIP selected: Still working... 5000");
  EXPECT_EQ(ui.opened.size(), 0u);
  EXPECT_EQ(form->RipCounter(), 0);
  std::vector<FolderEntry> files;
  ListFolder(form->RipFolder(), files);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].Size, 44 + 3 * 15 * 2352);
}

}  // namespace
}  // namespace velotag
