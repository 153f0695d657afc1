#include "library/form1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <map>

#include "fake_ui.h"
#include "support/paths.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::FakeFingerprint;
using test::FakeUI;
using test::TempDir;

struct V2 {
  int version = 3;
  std::map<std::string, std::string> frames;  // 2.4 identifiers
  std::string picture;                        // an image file to attach
};

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    audio_ = test::ReadFileBytes(test::DataPath("peers/mutagen/no-tags.mp3"));
    Make();
  }

  void Make() {
    auto fp = std::make_unique<FakeFingerprint>();
    fp_ = fp.get();
    form_ = std::make_unique<Form1>(ui_, AppPaths{home_.path(), "velotag"}, std::move(fp));
  }

  // A real MP3 file with the tags asked for, written by our own tag code.
  std::string Mp3(const std::string& name, const ID3v1Tag* v1 = nullptr, const V2* v2 = nullptr,
                  const std::string& folder = "") {
    std::string path = (folder.empty() ? music_.path() : folder) + name;
    test::WriteFileBytes(path, audio_);
    if (v2) {
      ID3v2Tag tag;
      EXPECT_NE(OpenID3v2(path, tag, v2->version), kTagFailed) << path;
      for (const auto& [id, text] : v2->frames) SetID3v2Text(tag, id, text, kID3Utf8, false);
      if (!v2->picture.empty()) SetID3v2Picture(tag, "", v2->picture, kID3Utf8, false);
      EXPECT_TRUE(WriteID3v2(tag)) << path;
    }
    if (v1) {
      ID3v1Tag copy = *v1;
      EXPECT_EQ(WriteID3v1(path, copy), kTagDone) << path;
    }
    return path;
  }

  void AddFolder(const std::string& folder, bool recursive) {
    ui_.folders.push_back(folder);
    ui_.answers.push_back(recursive);
    form_->CmdInput_Click(kCmdAddFolder);
    ui_.pumps = 0;  // tests count the pumps of the command that follows
  }

  std::vector<std::string> Row(int i) {
    std::vector<std::string> row;
    EXPECT_TRUE(form_->Grid().GetItem(i, row));
    return row;
  }

  std::vector<std::string> Column(int c) {
    std::vector<std::string> out;
    for (int i = 0; i < form_->Grid().ItemCount(); ++i) out.push_back(Row(i)[static_cast<std::size_t>(c)]);
    return out;
  }

  void SelectOnly(std::initializer_list<int> rows) {
    form_->Grid().SetAllItemSelectCheckbox(kBulkClear, kBulkLeave, false);
    for (int r : rows) form_->Grid().SetItemSelected(r, true, false);
  }

  static ID3v1Tag V1(std::string title, std::string artist = "", int track = 0, int year = 0,
                     int genre = 255) {
    ID3v1Tag t;
    t.Title = std::move(title);
    t.Artist = std::move(artist);
    t.Track = static_cast<std::uint8_t>(track);
    t.Year = year;
    t.Genre = static_cast<std::uint8_t>(genre);
    return t;
  }

  std::string V2Field(const std::string& path, int field) {
    ID3v2Tag tag;
    if (OpenID3v2(path, tag, 4) != kTagDone) return "<no tag>";
    ReadID3v2Frames(tag);
    return GetID3v2Field(tag, field);
  }

  TempDir music_, home_;
  test::Bytes audio_;
  FakeUI ui_;
  FakeFingerprint* fp_ = nullptr;
  std::unique_ptr<Form1> form_;
};

// ---- the media list ----

TEST(MediaList, FileSizeTexts) {
  struct Case {
    Offset64 size;
    std::string text;
  } const cases[] = {
      {0, "   0,00 B"},          {500, " 500,00 B"},           {1023, "1023,00 B"},
      {1024, "   1,00 KB"},      {1536, "   1,50 KB"},         {1048576, "   1,00 MB"},
      {1073741824, "   1,00 GB"}, {12345LL * 1073741824, "12345,00 GB"},
      {1280, "   1,25 KB"},      {-1, "-   1,00 B"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFileSize(c.size), c.text) << c.size;
}

TEST(MediaList, WorkingCaptions) {
  EXPECT_EQ(WorkingCaption(25), "WORKING: 25 %");
  EXPECT_EQ(WorkingCaption(100.0 / 3), "WORKING: 33.3 %");
  EXPECT_EQ(WorkingCaption(0), "WORKING: 0 %");
  EXPECT_EQ(WorkingCaption(100), "WORKING: 100 %");
}

TEST_F(Form1Test, AddFolderOneLevelOrTheWholeTree) {
  Mp3("a.mp3");
  Mp3("b.MP3");
  test::WriteFileText(music_.file("c.txt"), "x");
  ASSERT_TRUE(CreatePath(music_.file("sub")));
  Mp3("d.mp3", nullptr, nullptr, music_.file("sub/"));
  TempDir elsewhere;
  Mp3("outside.mp3", nullptr, nullptr, elsewhere.path());
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), music_.file("link").c_str()), 0);

  AddFolder(music_.path(), false);
  auto names = Column(kColFileName);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.mp3", "b.MP3"}));
  EXPECT_EQ(ui_.questions.back().text, "Search in subfolders?");
  EXPECT_EQ(ui_.questions.back().title, "Add media folder");
  EXPECT_EQ(form_->Options().LastPath, music_.path());

  form_->CmdInput_Click(kCmdDelAll);
  AddFolder(music_.path(), true);
  names = Column(kColFileName);
  ASSERT_EQ(names.size(), 3u);  // the link to the other folder is not followed
  EXPECT_EQ(names[2], "d.mp3");
  EXPECT_EQ(form_->GridToolTip(), "3 element(s)");
  EXPECT_EQ(form_->BusyCount(), 0);
}

TEST_F(Form1Test, StopEndsAFolderScanAndAReload) {
  for (int i = 0; i < 6; ++i) Mp3(std::to_string(i) + ".mp3");
  std::vector<std::string> captions;
  ui_.onPump = [&](int n) {
    captions.push_back(form_->Frame1Caption());
    if (n == 3) form_->CmdSTOP_Click();
  };
  AddFolder(music_.path(), false);
  EXPECT_EQ(form_->Grid().ItemCount(), 3);
  EXPECT_TRUE(ui_.Logged("Process killed"));
  EXPECT_EQ(captions[0], "WORKING: 16.7 %");
  EXPECT_EQ(form_->Frame1Progress(), -1);  // idle again
  EXPECT_EQ(form_->Frame1Caption(), "MP3 browser (right click=external open selected file)");
  ui_.onPump = [&](int) { form_->CmdSTOP_Click(); };
  form_->CmdInput_Click(kCmdReload);  // stopped after the last row
  EXPECT_EQ(form_->BusyCount(), 0);
  EXPECT_EQ(form_->GridToolTip(), "3 element(s)");
}

TEST_F(Form1Test, RowsShowTheChosenVersion) {
  test::WriteFileBytes(music_.file("cover.jpg"), test::Bytes{0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3});
  ID3v1Tag v1 = V1("One", "Artist1", 7, 999, 17);
  V2 v2{3, {{"TIT2", "Two"}, {"TPE1", "Artist2"}, {"TRCK", "5/9"}, {"TDRC", "2001"}},
        music_.file("cover.jpg")};
  Mp3("both.mp3", &v1, &v2);
  Mp3("none.mp3");
  test::WriteFileText(music_.file("odd.mp"), "not audio");
  AddFolder(music_.path(), false);
  form_->Grid().SortByCol(kColFileName, true, false);
  auto both = Row(0);
  EXPECT_EQ(both[kColTrack], "007");
  EXPECT_EQ(both[kColTitle], "One");
  EXPECT_EQ(both[kColYear], "0999");
  EXPECT_EQ(both[kColGenre], "Rock");
  EXPECT_EQ(both[kColID3v1], "1");
  EXPECT_EQ(both[kColID3v2], "3");  // no "p" while ID3v1 is shown
  auto none = Row(1);
  EXPECT_EQ(none[kColID3v1], "0");
  EXPECT_EQ(none[kColID3v2], "0");
  EXPECT_EQ(none[kColTrack], "");
  auto odd = Row(2);  // qualifies by its extension, but is not ".mp3"
  EXPECT_EQ(odd[kColID3v2], "?");
  EXPECT_TRUE(ui_.Logged("File open error: " + music_.file("odd.mp")));

  form_->OptID3ver_Click(1);
  both = Row(0);
  EXPECT_EQ(both[kColTitle], "Two");
  EXPECT_EQ(both[kColTrack], "5/9");
  EXPECT_EQ(both[kColID3v2], "p3");
  EXPECT_EQ(both[kColPath], music_.file("both.mp3"));
  EXPECT_EQ(both[kColSize], FormatFileSize(GetLargeFileSize(music_.file("both.mp3"))));
  EXPECT_EQ(form_->InputCaption(kCmdRename), "Rename by ID3v2 (Sel MP3)");
}

TEST_F(Form1Test, DeleteRowsLeavesFilesAlone) {
  for (const char* n : {"1.mp3", "2.mp3", "3.mp3"}) Mp3(n);
  AddFolder(music_.path(), false);
  form_->CmdInput_Click(kCmdDelSelected);
  EXPECT_EQ(form_->Grid().ItemCount(), 3);
  EXPECT_FALSE(ui_.Logged("0 media file(s) deleted"));
  SelectOnly({0, 2});
  form_->CmdInput_Click(kCmdDelSelected);
  EXPECT_EQ(form_->Grid().ItemCount(), 1);
  EXPECT_EQ(ui_.Texts().back(), "2 media file(s) deleted");
  form_->CmdInput_Click(kCmdDelAll);
  EXPECT_EQ(ui_.Texts().back(), "Delete all media file(s) (1)");
  EXPECT_EQ(form_->GridToolTip(), "0 element(s)");
  EXPECT_EQ(GetPathType(music_.file("2.mp3")), kPathFile);
}

// ---- batch operations ----

TEST_F(Form1Test, BatchRefusalsAndTheirMessages) {
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_EQ(ui_.Texts().back(), "Please load MP3 to media browser");
  Mp3("a.mp3");
  AddFolder(music_.path(), false);
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_EQ(ui_.Texts().back(), "Please select editable ID3 tag field");
  form_->CmdID3v1_Click(kCmdClearTagAll);  // the question is answered No
  EXPECT_EQ(ui_.questions.back().text, "Do you really want to clear ID3 tag(s)?");
  EXPECT_EQ(ui_.questions.back().title, "Clear ID3v1 tag (All MP3)");
  EXPECT_EQ(ui_.Texts().back(), "Please select editable ID3 tag field");
  EXPECT_EQ(form_->Frame2Caption(), "ID3 multi tag editor");
}

TEST_F(Form1Test, ChangeID3v1LastRowFirstWithProgress) {
  for (const char* n : {"07 first.mp3", "second.mp3", "300 third.mp3", "x.mp3"}) Mp3(n);
  AddFolder(music_.path(), false);
  form_->Grid().SortByCol(kColFileName, true, false);  // 07.., 300.., second, x
  auto& p = form_->Panel();
  p.ChkID3v1[0] = 1;
  p.ChkID3v1[4] = 1;
  p.ChkID3v1AutoTrack = 1;
  p.TxtID3[4] = "1999abc";
  std::vector<std::string> captions;
  std::vector<double> progress;
  ui_.onPump = [&](int) {
    captions.push_back(form_->Frame2Caption());
    progress.push_back(form_->Frame2Progress());
  };
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_EQ(captions, (std::vector<std::string>{"WORKING: 25 %", "WORKING: 50 %",
                                                "WORKING: 75 %", "WORKING: 100 %"}));
  EXPECT_EQ(progress, (std::vector<double>{25, 50, 75, 100}));
  EXPECT_EQ(ui_.Texts().back(), "Changed 4 MP3(s)");
  EXPECT_EQ(Column(kColTrack), (std::vector<std::string>{"007", "044", "002", "003"}));
  EXPECT_EQ(Column(kColYear), (std::vector<std::string>{"1999", "1999", "1999", "1999"}));
  ID3v1Tag back;
  ASSERT_EQ(ReadID3v1(music_.file("second.mp3"), back), kTagDone);
  EXPECT_EQ(back.Year, 1999);
  EXPECT_EQ(back.Genre, 255);
  EXPECT_EQ(form_->BusyCount(), 0);
  EXPECT_EQ(form_->Frame2Caption(), "ID3 multi tag editor");
}

TEST_F(Form1Test, ChangeID3v2WritesTextsAsTyped) {
  V2 v2{4, {{"TIT2", "Old"}, {"TALB", "Keep"}}, ""};
  std::string a = Mp3("a.mp3", nullptr, &v2);
  std::string b = Mp3("b.mp3");
  AddFolder(music_.path(), false);
  form_->SetModes(1, 1);
  auto& p = form_->Panel();
  p.ChkID3v1 = {};
  p.ChkID3v1[0] = p.ChkID3v1[1] = p.ChkID3v1[4] = p.ChkID3v1[5] = p.ChkID3v1[6] = 1;
  p.ChkID3v1[8] = p.ChkID3v1[13] = 1;
  p.TxtID3[0] = "12";
  p.TxtID3[1] = "Árvíztűrő 😀";
  p.TxtID3[4] = "1999abc";
  p.CmbID3v1 = "Synthpop";
  p.TxtID3[5] = "line1\r\nline2";
  p.TxtID3[7] = "Band";
  p.TxtID3[12] = "http://example.org/";
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_EQ(ui_.Texts().back(), "Changed 2 MP3(s)");
  for (const std::string& f : {a, b}) {
    EXPECT_EQ(V2Field(f, kFieldTrack), "12");
    EXPECT_EQ(V2Field(f, kFieldTitle), "Árvíztűrő 😀");
    EXPECT_EQ(V2Field(f, kFieldYear), "1999abc");
    EXPECT_EQ(V2Field(f, kFieldGenre), "Synthpop");
    EXPECT_EQ(V2Field(f, kFieldBand), "Band");
    EXPECT_EQ(V2Field(f, kFieldUrl), "http://example.org/");
  }
  EXPECT_EQ(V2Field(a, kFieldAlbum), "Keep");
  form_->Grid().SortByCol(kColFileName, true, false);
  EXPECT_EQ(Row(0)[kColTitle], "Árvíztűrő 😀");
  EXPECT_EQ(Row(0)[kColID3v2], "4");
  EXPECT_EQ(Row(1)[kColID3v2], "4");  // a new tag is a 2.4 tag
}

TEST_F(Form1Test, ChangeSelectedWithNothingSelectedCountsZero) {
  Mp3("a.mp3");
  Mp3("b.mp3");
  AddFolder(music_.path(), false);
  form_->Panel().ChkID3v1[1] = 1;
  form_->Panel().TxtID3[1] = "T";
  form_->CmdID3v1_Click(kCmdChangeSel);
  EXPECT_EQ(ui_.pumps, 2);
  EXPECT_EQ(ui_.Texts().back(), "Changed 0 MP3(s)");
  ID3v1Tag t;
  EXPECT_EQ(ReadID3v1(music_.file("a.mp3"), t), kTagNone);
}

TEST_F(Form1Test, StopEndsABatchAfterTheCurrentRow) {
  for (int i = 0; i < 5; ++i) Mp3(std::to_string(i) + ".mp3");
  AddFolder(music_.path(), false);
  form_->Panel().ChkID3v1[1] = 1;
  form_->Panel().TxtID3[1] = "Stopped";
  ui_.onPump = [&](int n) {
    if (n == 1) form_->CmdInput_Click(kCmdDelAll);  // refused while busy
    if (n == 2) {
      form_->CmdSTOP_Click();
      form_->CmdSTOP_Click();  // twice: never below 0
    }
  };
  form_->CmdID3v1_Click(kCmdChangeAll);
  auto texts = ui_.Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Still working..."), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Process killed"), texts.end());
  EXPECT_EQ(texts.back(), "Changed 2 MP3(s)");
  EXPECT_EQ(form_->BusyCount(), 0);
}

TEST_F(Form1Test, HeaderClickDoesNotSortUnderARunningCommand) {
  for (const char* name : {"b.mp3", "a.mp3", "c.mp3"}) Mp3(name);
  AddFolder(music_.path(), false);
  std::vector<std::string> before = Column(kColFileName);
  form_->Panel().ChkID3v1[1] = 1;
  form_->Panel().TxtID3[1] = "T";
  ui_.onPump = [&](int n) {
    if (n == 1) form_->ColumnClick(kColFileName);
  };
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_TRUE(ui_.Logged("Still working..."));
  EXPECT_EQ(ui_.Texts().back(), "Changed 3 MP3(s)");
  EXPECT_EQ(Column(kColFileName), before);
  ui_.onPump = nullptr;
  form_->ColumnClick(kColFileName);  // idle: sorts
  EXPECT_EQ(Column(kColFileName), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
}

TEST_F(Form1Test, ClearID3v1RemovesStackedBlocksAndCountsOnce) {
  ID3v1Tag v1 = V1("t");
  std::string a = Mp3("a.mp3", &v1);
  ID3v1Tag copy = v1;
  test::Bytes bytes = test::ReadFileBytes(a);
  bytes.insert(bytes.end(), bytes.end() - 128, bytes.end());  // a second block
  test::WriteFileBytes(a, bytes);
  Mp3("b.mp3");
  AddFolder(music_.path(), false);
  ui_.answers.push_back(true);
  form_->CmdID3v1_Click(kCmdClearTagAll);
  EXPECT_EQ(ui_.Texts().back(), "Cleared 1 ID3(s)");
  EXPECT_EQ(test::ReadFileBytes(a), audio_);
}

TEST_F(Form1Test, CopyBetweenVersions) {
  ID3v1Tag v1 = V1("Title", "Artist", 0, 0, 17);
  v1.Comment = "note";
  std::string a = Mp3("a.mp3", &v1);
  V2 v2{3, {{"TIT2", "From v2"}, {"TRCK", "300/12"}, {"TDRC", "2005"}, {"TCON", "Classic  Rock"}}, ""};
  std::string b = Mp3("b.mp3", nullptr, &v2);
  AddFolder(music_.path(), false);
  form_->CmdID3v1_Click(kCmdCopyAll);  // ID3v1 into ID3v2
  EXPECT_TRUE(ui_.Logged("Copied 1 ID3(s)"));
  ID3v2Tag tag;
  ASSERT_EQ(OpenID3v2(a, tag, 4), kTagDone);
  ReadID3v2Frames(tag);
  EXPECT_EQ(GetID3v2Field(tag, kFieldTitle), "Title");
  EXPECT_EQ(GetID3v2Field(tag, kFieldGenre), "Rock");
  EXPECT_EQ(GetID3v2Field(tag, kFieldComment), "note");
  EXPECT_EQ(GetID3v2Text("TRCK", tag, false), "");  // track 0 writes no frame
  EXPECT_EQ(GetID3v2Text("TDRC", tag, false), "");
  CloseID3v2(tag);

  form_->SetModes(0, 1);
  form_->CmdID3v1_Click(kCmdCopyAll);  // ID3v2 into ID3v1
  ID3v1Tag back;
  ASSERT_EQ(ReadID3v1(b, back), kTagDone);
  EXPECT_EQ(back.Title, "From v2");
  EXPECT_EQ(back.Track, 300 % 256);
  EXPECT_EQ(back.Year, 2005);
  EXPECT_EQ(back.Genre, 1);  // blanks ignored
  EXPECT_EQ(ui_.Texts().back(), "Copied 2 ID3(s)");
  EXPECT_EQ(Row(1)[kColID3v1], "1");  // the reload after the copy
}

TEST_F(Form1Test, UnreadablePictureFileKeepsThePicturesThere) {
  test::WriteFileBytes(music_.file("c.jpg"), test::Bytes{0xFF, 0xD8, 0xFF, 0xE0, 9});
  V2 v2{3, {{"TIT2", "x"}}, music_.file("c.jpg")};
  std::string a = Mp3("a.mp3", nullptr, &v2);
  AddFolder(music_.path(), false);
  form_->SetModes(1, 1);
  form_->Panel().ChkID3v1[16] = 1;
  form_->Panel().TxtID3[15] = music_.file("missing.jpg");
  form_->CmdID3v1_Click(kCmdChangeAll);
  ID3v2Tag tag;
  OpenID3v2(a, tag, 4);
  ReadID3v2Frames(tag);
  EXPECT_TRUE(HasID3v2Picture(tag));
  CloseID3v2(tag);
  form_->Panel().TxtID3[15].clear();  // an empty path removes them
  form_->CmdID3v1_Click(kCmdChangeAll);
  OpenID3v2(a, tag, 4);
  ReadID3v2Frames(tag);
  EXPECT_FALSE(HasID3v2Picture(tag));
}

// ---- field panel ----

TEST_F(Form1Test, FieldToolsAndModes) {
  auto& p = form_->Panel();
  for (int k = 0; k < 16; ++k) p.TxtID3[static_cast<std::size_t>(k)] = std::string(40, 'x');
  p.CmbID3v1 = "Rock";
  form_->OptID3editVer_Click(0);
  EXPECT_EQ(p.TxtID3[0].size(), 3u);
  EXPECT_EQ(p.TxtID3[1].size(), 30u);
  EXPECT_EQ(p.TxtID3[4].size(), 4u);
  EXPECT_EQ(p.TxtID3[6].size(), 40u);
  EXPECT_FALSE(p.ChkEnabled[7]);
  EXPECT_FALSE(p.TxtEnabled[6]);
  EXPECT_EQ(form_->PanelCaption(kCmdCopyAll), "ID3v1 To ID3v2 (All MP3)");
  form_->CmdID3v1_Click(kCmdClearAllFields);
  EXPECT_EQ(p.TxtID3[5], "");
  EXPECT_EQ(p.TxtID3[6].size(), 40u);  // ID3v2-only inputs stay in ID3v1 mode
  EXPECT_EQ(p.CmbID3v1, "");
  form_->OptID3editVer_Click(1);
  EXPECT_TRUE(p.ChkEnabled[7]);
  EXPECT_EQ(form_->PanelCaption(kCmdClearTagSel), "Clear ID3v2 tag (Sel MP3)");
  EXPECT_EQ(form_->InputCaption(kCmdLoadID3), "Load ID3v2 (Sel MP3)");
  form_->CmdID3v1_Click(kCmdClearAllFields);
  EXPECT_EQ(p.TxtID3[6], "");
  form_->CmdID3v1_Click(7);  // clears text box 6
  p.ChkID3 = 1;
  form_->OptID3editVer_Click(0);
  form_->ChkID3_Click();
  EXPECT_EQ(p.ChkID3v1[6], 1);
  EXPECT_EQ(p.ChkID3v1[7], 0);
  ui_.files.push_back("");
  p.TxtID3[15] = "old.png";
  form_->CmdID3v1_Click(kCmdBrowsePicture);
  EXPECT_EQ(p.TxtID3[15], "");
  EXPECT_EQ(ui_.fileFilters.back(), "Pictures|*.jpe;*.jpg;*.jpeg;*.bmp;*.png;*.gif");
  p.CmbID3v1 = "Synthpop";
  form_->CmbID3v1_Click();
  EXPECT_EQ(p.CmbID3v1ToolTip, "147");
  p.CmbID3v1 = "Nope";
  form_->CmbID3v1_Click();
  EXPECT_EQ(p.CmbID3v1ToolTip, "-1");
}

TEST_F(Form1Test, TimerCutsID3v1InputsAndLightsStop) {
  form_->Panel().TxtID3[0] = "1234";
  EXPECT_TRUE(form_->Timer1_Timer());
  EXPECT_EQ(form_->Panel().TxtID3[0], "123");
  EXPECT_FALSE(form_->StopEnabled());
  form_->OptID3editVer_Click(1);
  form_->Panel().TxtID3[0] = "1234";
  form_->Timer1_Timer();
  EXPECT_EQ(form_->Panel().TxtID3[0], "1234");
}

TEST_F(Form1Test, LoadID3DataIntoThePanel) {
  V2 v2{4, {{"TIT2", "T"}, {"TPE2", "Band"}, {"TBPM", "120"}, {"TCON", "Jazz"}}, ""};
  std::string a = Mp3("a.mp3", nullptr, &v2);
  ID3v1Tag v1 = V1("V1 title", "", 3, 2001, 0);
  Mp3("b.mp3", &v1);
  AddFolder(music_.path(), false);
  form_->Grid().SortByCol(kColFileName, true, false);
  form_->CmdInput_Click(kCmdLoadID3);
  EXPECT_EQ(ui_.Texts().back(), "Please select an MP3");
  form_->SetModes(1, 1);
  SelectOnly({0});
  form_->CmdInput_Click(kCmdLoadID3);
  auto& p = form_->Panel();
  EXPECT_EQ(p.TxtID3[1], "T");
  EXPECT_EQ(p.TxtID3[7], "Band");
  EXPECT_EQ(p.TxtID3[14], "120");
  EXPECT_EQ(p.CmbID3v1, "Jazz");
  SelectOnly({1});  // no ID3v2 tag: the whole panel is emptied
  form_->CmdInput_Click(kCmdLoadID3);
  EXPECT_EQ(p.TxtID3[7], "");
  form_->SetModes(1, 0);  // editing ID3v1 while ID3v2 is shown: read the file
  form_->CmdInput_Click(kCmdLoadID3);
  EXPECT_EQ(p.TxtID3[0], "003");
  EXPECT_EQ(p.TxtID3[1], "V1 title");
  EXPECT_EQ(p.TxtID3[4], "2001");
  EXPECT_EQ(p.CmbID3v1, "Blues");
}

// ---- selection, search ----

TEST_F(Form1Test, SearchAndTrackSelected) {
  for (const char* n : {"alpha.mp3", "beta.mp3", "gamma.mp3", "delta.mp3"}) Mp3(n);
  AddFolder(music_.path(), false);
  form_->Grid().SortByCol(kColFileName, true, false);  // alpha beta delta gamma
  form_->CmdInput_Click(kCmdSearch);
  EXPECT_EQ(ui_.searchFocus, 1);
  form_->SearchText() = "GAMMA";
  form_->CmdInput_Click(kCmdSearch);
  EXPECT_EQ(form_->Grid().VSCROLL_VALUE(), 3);
  form_->SearchText() = "beta";
  form_->CmdInput_Click(kCmdSearch);  // above the top row: the second pass finds it
  EXPECT_EQ(form_->Grid().VSCROLL_VALUE(), 1);
  form_->SearchText() = "zeta";
  form_->CmdInput_Click(kCmdSearch);
  ASSERT_FALSE(ui_.messages.empty());
  EXPECT_EQ(ui_.messages.back().text, "Can't find 'zeta'");

  form_->CmdInput_Click(kCmdTrackSelected);
  EXPECT_EQ(ui_.Texts().back(), "No selection");
  SelectOnly({0});
  form_->CmdInput_Click(kCmdTrackSelected);
  EXPECT_EQ(form_->Grid().VSCROLL_VALUE(), 0);
  form_->CmdInput_Click(kCmdInvertSelection);
  EXPECT_FALSE(form_->Grid().GetItemSelected(0));
  EXPECT_TRUE(form_->Grid().GetItemSelected(3));
  form_->CmdInput_Click(kCmdDeselectAll);
  EXPECT_EQ(form_->Grid().GetFirstSelectedItemID(), -1);
}

TEST_F(Form1Test, ShiftClickAndRightClick) {
  for (int i = 0; i < 6; ++i) Mp3(std::to_string(i) + ".mp3");
  AddFolder(music_.path(), false);
  form_->Grid().SortByCol(kColFileName, true, false);
  form_->Grid().PressRow(1, false);  // clicks, as the widget passes them on
  form_->Grid().PressRow(4, false);
  form_->MouseUp(1, 3, 0, 0);  // Ctrl+Shift: nothing
  EXPECT_FALSE(form_->Grid().GetItemSelected(2));
  form_->MouseUp(1, 1, 0, 0);
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(form_->Grid().GetItemSelected(i)) << i;
  EXPECT_FALSE(form_->Grid().GetItemSelected(5));
  form_->MouseUp(2, 0, 0, 0);
  ASSERT_EQ(ui_.opened.size(), 1u);
  EXPECT_EQ(ui_.opened[0], music_.file("1.mp3"));
  form_->Grid().SetAllItemSelectCheckbox(kBulkClear, kBulkLeave, false);
  form_->MouseUp(2, 0, 0, 0);
  EXPECT_EQ(ui_.opened.size(), 1u);
}

// ---- rename ----

TEST_F(Form1Test, RenameByPattern) {
  ID3v1Tag a = V1("Song", "AC/DC", 1), b = V1("Other", "", 2), c = V1("Same", "X", 3);
  Mp3("a.mp3", &a);
  Mp3("b.mp3", &b);
  Mp3("003 - X - Same.mp3", &c);
  Mp3("taken.mp3");
  AddFolder(music_.path(), false);
  form_->Grid().SortByCol(kColFileName, true, false);
  form_->Grid().SetAllItemSelectCheckbox(kBulkSet, kBulkLeave, false);
  form_->CmdInput_Click(kCmdRename);
  EXPECT_EQ(ui_.Texts().back(), "Please create rename pattern");
  form_->Options().RenamePattern = "%track% - %artist% - %title%";
  form_->CmdInput_Click(kCmdRename);  // answered No
  EXPECT_EQ(ui_.questions.back().text,
            "Are you really want to rename selected MP3-s?\r\nPattern: %track% - %artist% - %title%");
  ui_.answers.push_back(true);
  form_->CmdInput_Click(kCmdRename);
  auto texts = ui_.Texts();
  EXPECT_TRUE(ui_.Logged("File renaming pattern: %track% - %artist% - %title%"));
  EXPECT_TRUE(ui_.Logged("File exist: 003 - X - Same.mp3"));
  EXPECT_TRUE(ui_.Logged("File doesn't contain enough ID3 tag: b.mp3"));
  EXPECT_TRUE(ui_.Logged("File doesn't contain enough ID3 tag: taken.mp3"));
  EXPECT_EQ(texts.back(), "Renamed file(s): 1");
  // "/" from the tag stays inside the folder.
  EXPECT_EQ(GetPathType(music_.file("001 - AC-DC - Song.mp3")), kPathFile);
  EXPECT_EQ(GetPathType(music_.file("a.mp3")), kPathMissing);
  auto names = Column(kColFileName);
  EXPECT_NE(std::find(names.begin(), names.end(), "001 - AC-DC - Song.mp3"), names.end());
}

// ---- pictures, CSV, local database ----

TEST_F(Form1Test, SavePicturesNextToTheFiles) {
  test::WriteFileBytes(music_.file("cover.png"), test::Bytes{0x89, 'P', 'N', 'G', 1, 2});
  V2 v2{3, {{"TIT2", "x"}}, music_.file("cover.png")};
  Mp3("pic.mp3", nullptr, &v2);
  Mp3("plain.mp3");
  AddFolder(music_.path(), false);
  form_->CmdInput_Click(kCmdSavePicturesSel);
  EXPECT_EQ(ui_.Texts().back(), "Saved picture(s): 0");
  EXPECT_EQ(form_->Frame1Caption(), "MP3 browser (right click=external open selected file)");
  form_->CmdInput_Click(kCmdSavePicturesAll);
  EXPECT_EQ(ui_.Texts().back(), "Saved picture(s): 1");
  std::string line;
  for (const std::string& t : ui_.Texts())
    if (t.rfind("Picture: ", 0) == 0) line = t;
  std::string written = line.substr(9);
  EXPECT_EQ(GetFolderPart(written), music_.path());
  EXPECT_EQ(test::ReadFileBytes(written), (test::Bytes{0x89, 'P', 'N', 'G', 1, 2}));
}

TEST_F(Form1Test, CsvNamesAreNumberedPerDay) {
  Mp3("a.mp3");
  AddFolder(music_.path(), false);
  std::time_t now = std::time(nullptr);
  std::tm tm {};
  ::localtime_r(&now, &tm);
  char date[32];
  std::snprintf(date, sizeof date, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  form_->CmdInput_Click(kCmdSaveCsv);
  form_->CmdInput_Click(kCmdSaveCsv);
  EXPECT_EQ(GetPathType(home_.file(std::string("ID3v1_") + date + ".csv")), kPathFile);
  EXPECT_EQ(GetPathType(home_.file(std::string("ID3v1_") + date + "(001).csv")), kPathFile);
  test::Bytes csv = test::ReadFileBytes(home_.file(std::string("ID3v1_") + date + ".csv"));
  ASSERT_GE(csv.size(), 2u);
  EXPECT_FALSE(csv[0] == 0xFF && csv[1] == 0xFE);  // UTF-16LE without a mark
  EXPECT_EQ(csv[1], 0);
  EXPECT_EQ(ui_.Texts().back(), "Saved to CSV: " + home_.file(std::string("ID3v1_") + date + "(001).csv"));
  form_->LstStat_DblClick(static_cast<int>(form_->Log().Lines().size()) - 1);
  ASSERT_FALSE(ui_.opened.empty());
  EXPECT_EQ(ui_.opened.back(), home_.path());
}

TEST_F(Form1Test, ClearLocalDatabaseAsksFirst) {
  test::WriteFileText(home_.file("LocalDB.ini"), "[x]");
  form_->CmdInput_Click(kCmdClearLocalDb);
  EXPECT_EQ(GetPathType(home_.file("LocalDB.ini")), kPathFile);
  ui_.answers.push_back(true);
  form_->CmdInput_Click(kCmdClearLocalDb);
  EXPECT_EQ(GetPathType(home_.file("LocalDB.ini")), kPathMissing);
  EXPECT_EQ(ui_.Texts().back(), "Clear local database: SUCCESSFUL");
}

// ---- auto tag ----

TEST_F(Form1Test, AutoTagWithoutTheLibraryStopsAtOnce) {
  Mp3("a.mp3");
  Mp3("b.mp3");
  AddFolder(music_.path(), false);
  form_->CmdInput_Click(kCmdAutoTag);
  EXPECT_EQ(ui_.Texts().back(), "No selection");
  fp_->installed = false;
  form_->Grid().SetAllItemSelectCheckbox(kBulkSet, kBulkLeave, false);
  form_->CmdInput_Click(kCmdAutoTag);
  auto texts = ui_.Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "Libofa driver error");
  EXPECT_EQ(texts.back(), "Auto tagged file(s): 0");
  EXPECT_EQ(fp_->asked.size(), 1u);
}

TEST_F(Form1Test, AutoTagWritesArtistAndTitle) {
  Mp3("a.mp3");
  Mp3("b.mp3");
  AddFolder(music_.path(), false);
  form_->Grid().SortByCol(kColFileName, true, false);
  form_->Grid().SetAllItemSelectCheckbox(kBulkSet, kBulkLeave, false);
  fp_->answer = [&](const std::string& f) -> std::vector<std::string> {
    if (f == music_.file("b.mp3")) return {};
    return {"ART=" + std::string(40, 'A'), "ttl = Found", "junk"};
  };
  form_->CmdInput_Click(kCmdAutoTag);
  EXPECT_TRUE(ui_.Logged("b.mp3: No result"));
  EXPECT_EQ(ui_.Texts().back(), "Auto tagged file(s): 1");
  EXPECT_EQ(Row(0)[kColArtist], std::string(30, 'A'));
  ID3v1Tag v1;
  ASSERT_EQ(ReadID3v1(music_.file("a.mp3"), v1), kTagDone);
  EXPECT_EQ(v1.Genre, 255);
  EXPECT_EQ(v1.Title, " Found");  // only the key is trimmed
}

// ---- life cycle ----

TEST_F(Form1Test, FirstStartDefaultsAndSettingsWrittenOnClose) {
  ASSERT_TRUE(form_->Form_Initialize());
  form_->Form_Load();
  EXPECT_EQ(form_->Options().LastPath, home_.path());
  EXPECT_EQ(form_->ShowVersion(), 0);
  EXPECT_EQ(form_->WindowCaption().rfind("Hollowcrag - Velotag - velotag - Ver.:", 0), 0u);
  EXPECT_EQ(ui_.Texts()[0], "LIBOFA driver: libofa.so.0 ver: 0.9.3");
  EXPECT_EQ(ui_.Texts()[1], "***");
  form_->Panel().TxtID3[1] = "two\r\nlines";
  ui_.answers.push_back(false);
  EXPECT_FALSE(form_->Form_QueryUnload(true));  // No to "QUIT?"
  EXPECT_EQ(ui_.questions.back().text, "QUIT?");
  EXPECT_EQ(GetPathType(home_.file("velotag.ini")), kPathMissing);
  ui_.answers.push_back(true);
  EXPECT_TRUE(form_->Form_QueryUnload(true));
  form_->Form_Unload();
  std::string text;
  ReadTextFile(home_.file("velotag.ini"), text);
  EXPECT_EQ(text.rfind("[options]\r\nLastPath=", 0), 0u);
  EXPECT_NE(text.find("TxtID3(1)=two\\r\\nlines\r\n"), std::string::npos);

  Make();
  ASSERT_TRUE(form_->Form_Initialize());
  form_->Form_Load();
  EXPECT_EQ(form_->Panel().TxtID3[1], "two\r\nlines");
}

TEST_F(Form1Test, ClosingWhileBusyWaitsForTheCommand) {
  form_->Form_Initialize();
  form_->Form_Load();
  Mp3("a.mp3");
  Mp3("b.mp3");
  AddFolder(music_.path(), false);
  form_->Panel().ChkID3v1[1] = 1;
  bool refused = false;
  ui_.onPump = [&](int n) {
    if (n == 1) {
      ui_.answers.push_back(true);
      refused = !form_->Form_QueryUnload(true);
      EXPECT_FALSE(form_->Timer1_Timer());  // the timer asks the window to close...
      EXPECT_TRUE(form_->StopEnabled());
    }
  };
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_TRUE(refused);
  ASSERT_FALSE(ui_.messages.empty());
  EXPECT_EQ(ui_.messages.back().text, "Still working...");
  EXPECT_EQ(ui_.messages.back().title, "QUIT");
  EXPECT_EQ(ui_.messages.back().timeoutMs, 2000);
  EXPECT_EQ(ui_.closeRequests, 1);
  EXPECT_EQ(GetPathType(home_.file("velotag.ini")), kPathMissing);
  // ...and once the command has ended, that close goes through without a question.
  std::size_t asked = ui_.questions.size();
  EXPECT_TRUE(form_->Form_QueryUnload(false));
  EXPECT_EQ(ui_.questions.size(), asked);
  EXPECT_EQ(GetPathType(home_.file("velotag.ini")), kPathFile);
}

TEST_F(Form1Test, OneInstancePerExecutableName) {
  ASSERT_TRUE(form_->Form_Initialize());
  FakeUI other;
  Form1 second(other, AppPaths{home_.path(), "velotag"}, nullptr);
  EXPECT_FALSE(second.Form_Initialize());
  ASSERT_EQ(other.messages.size(), 1u);
  EXPECT_EQ(other.messages[0].text,
            "The program is already running! Create another copy with other name and run!");
  EXPECT_EQ(other.messages[0].title, "velotag");
  Form1 renamed(other, AppPaths{home_.path(), "velotag2"}, nullptr);
  EXPECT_TRUE(renamed.Form_Initialize());
  renamed.Form_Load();
  EXPECT_EQ(other.Texts()[0],
            "LIBOFA driver not installed. For correct working Auto Tag, please download "
            "libofa.so.0, libfftw3.so.3");
}

}  // namespace
}  // namespace velotag
