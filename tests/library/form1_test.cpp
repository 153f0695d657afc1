#include "library/form1.h"

#include <gtest/gtest.h>

#include "fake_ui.h"
#include "support/paths.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::FakeUI;
using test::TempDir;

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override { form_ = std::make_unique<Form1>(ui_, AppPaths{home_.path(), "velotag"}, nullptr); }

  // A real MP3 file without tags.
  std::string Mp3(const std::string& name) {
    test::WriteFileBytes(music_.file(name), audio_);
    return music_.file(name);
  }

  void AddFolder(const std::string& folder, bool recursive) {
    ui_.folders.push_back(folder);
    ui_.answers.push_back(recursive);
    form_->CmdInput_Click(kCmdAddFolder);
    ui_.pumps = 0;  // tests count the pumps of the command that follows
  }
  // Files named in sorted order, in the list sorted by name.
  void AddSorted(std::initializer_list<const char*> names) {
    for (const char* n : names) Mp3(n);
    AddFolder(music_.path(), false);
    form_->Grid().SortByCol(kColFileName, true, false);
  }

  std::vector<std::string> Column(int c) {
    std::vector<std::string> out, row;
    for (int i = 0; i < form_->Grid().ItemCount(); ++i)
      out.push_back(form_->Grid().GetItem(i, row) ? row.at(static_cast<std::size_t>(c)) : "?");
    return out;
  }

  void SetField(int box, const std::string& text) {
    form_->Panel().ChkID3v1[static_cast<std::size_t>(box)] = 1;
    form_->Panel().TxtID3[static_cast<std::size_t>(box)] = text;
  }

  TempDir music_, home_;
  const test::Bytes audio_ = test::ReadFileBytes(test::DataPath("peers/mutagen/no-tags.mp3"));
  FakeUI ui_;
  std::unique_ptr<Form1> form_;
};

// ---- the media list ----

TEST(MediaList, FileSizeTexts) {
  const std::pair<Offset64, std::string> cases[] = {
      {0, "   0,00 B"},     {1023, "1023,00 B"},        {1024, "   1,00 KB"},
      {1536, "   1,50 KB"}, {1048576, "   1,00 MB"}, {12345LL * 1073741824, "12345,00 GB"}, {-1, "-   1,00 B"}};
  for (const auto& [size, text] : cases) EXPECT_EQ(FormatFileSize(size), text) << size;
}

// ---- batch operations ----

TEST_F(Form1Test, BatchRefusalsAndTheirMessages) {
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_EQ(ui_.texts.back(), "Please load MP3 to media browser");
  AddSorted({"a.mp3", "b.mp3"});
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_EQ(ui_.texts.back(), "Please select editable ID3 tag field");
  form_->CmdInput_Click(kCmdLoadID3);
  EXPECT_EQ(ui_.texts.back(), "Please select an MP3");
  // "Sel" with nothing selected walks the rows and changes none.
  SetField(1, "T");
  form_->CmdID3v1_Click(kCmdChangeSel);
  EXPECT_EQ(ui_.texts.back(), "Changed 0 MP3(s)");
  // Loading a file without an ID3v2 tag empties the whole panel.
  form_->SetModes(1, 1);
  form_->Grid().SetItemSelected(0, true, false);
  form_->CmdInput_Click(kCmdLoadID3);
  EXPECT_EQ(form_->Panel().TxtID3[1], "");
}

// Track numbers from file names: ID3v1 takes the number modulo 256 and the
// row when that is 0; ID3v2 takes the number as it is and the row for 0.
TEST_F(Form1Test, TracksFromFileNames) {
  AddSorted({"-3 minus.mp3", "0 zero.mp3", "256 c.mp3", "300 k.mp3", "no number.mp3"});
  for (int version : {0, 1}) {
    form_->SetModes(version, version);
    form_->CmdInput_Click(kCmdReload);
    form_->Panel().ChkID3v1AutoTrack = 1;
    SetField(0, "");
    SetField(4, "1999abc");
    form_->CmdID3v1_Click(kCmdChangeAll);
    EXPECT_EQ(ui_.texts.back(), "Changed 5 MP3(s)");
    form_->CmdInput_Click(kCmdReload);
    const std::vector<std::string> v1 = {"003", "001", "002", "044", "004"}, v2 = {"3", "1", "256", "300", "4"};
    EXPECT_EQ(Column(kColTrack), version ? v2 : v1);
    if (version == 0) {
      EXPECT_EQ(Column(kColGenre), std::vector<std::string>(5, ""));  // none, not Blues
      EXPECT_EQ(Column(kColYear), std::vector<std::string>(5, "1999"));
    }
  }
}

// A level's files by name, case-insensitively, then its subfolders' files
// with the subfolders in that order.
TEST(FolderScan, ByNameIgnoringCaseFoldersInTheSameOrder) {
  TempDir dir;
  ASSERT_TRUE(CreatePath(dir.file("Zed")) && CreatePath(dir.file("a")));
  for (const char* name : {"b.mp3", "A.mp3", "Zed/2.mp3", "Zed/10.mp3", "a/x.mp3"})
    test::WriteFileBytes(dir.file(name), {});
  std::vector<std::string> names;
  for (const FolderEntry& e : CollectMediaFiles(dir.path(), true)) names.push_back(e.Name.substr(dir.path().size()));
  EXPECT_EQ(names, (std::vector<std::string>{"A.mp3", "b.mp3", "a/x.mp3", "Zed/10.mp3", "Zed/2.mp3"}));
}

// A Change whose rewrites share their flushes: the file removed while its
// new content waits for the group's flush fails at the commit and stays
// removed, with nothing left of it. The failure is said, and "Changed" counts
// only the files really replaced (f in place, the others renamed over), with
// their new sizes. (A folder without write permission in such a batch:
// tests/support/safewrite_test.cpp.)
TEST_F(Form1Test, BatchCountsOnlyFilesReallyReplaced) {
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) Mp3(name);
  ID3v2Tag tag;
  OpenID3v2(Mp3("f.mp3"), tag, 3);
  ASSERT_TRUE(SetID3v2Text(tag, "TIT2", "Tagged") && WriteID3v2(tag));
  CloseID3v2(tag);
  AddSorted({});  // a b c d f; the batch starts at f
  form_->SetModes(1, 1);
  SetField(2, "New artist");
  ui_.onPump = [&](int n) {  // after the rows of f and d, d goes
    if (n == 2) ::unlink(music_.file("d.mp3").c_str());
  };
  form_->CmdID3v1_Click(kCmdChangeAll);
  EXPECT_TRUE(ui_.Logged("Changed 4 MP3(s)") && ui_.Logged("File write error: " + music_.file("d.mp3")));
  EXPECT_EQ(Column(kColSize)[0], FormatFileSize(GetLargeFileSize(music_.file("a.mp3"))));
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "f.mp3"})
    EXPECT_EQ(test::MutagenFields(music_.file(name))["artist"].string, "New artist") << name;
  std::vector<FolderEntry> left;
  EXPECT_EQ(ListFolder(music_.path(), left), 4) << "a b c f, nothing of d";
}

// ---- field panel ----

// ID3v1 editing cuts the panel's texts to the ID3v1 widths, on the switch and
// on each tick of the timer, and leaves the ID3v2-only inputs alone; under
// ID3v2 editing the timer cuts nothing.
TEST_F(Form1Test, ID3v1EditingCutsTheTexts) {
  auto& p = form_->Panel();
  for (int k = 0; k < 16; ++k) p.TxtID3[static_cast<std::size_t>(k)] = std::string(40, 'x');
  form_->OptID3editVer_Click(0);
  EXPECT_EQ(p.TxtID3[1].size(), 30u);  // the title's ID3v1 width
  EXPECT_EQ(p.TxtID3[6].size(), 40u);  // an ID3v2-only input
  form_->OptID3editVer_Click(1);
  p.TxtID3[0] = "1234";
  form_->Timer1_Timer();
  EXPECT_EQ(p.TxtID3[0], "1234");
  form_->OptID3editVer_Click(0);
  p.TxtID3[0] = "1234";
  EXPECT_TRUE(form_->Timer1_Timer() && !form_->StopEnabled());
  EXPECT_EQ(p.TxtID3[0], "123");
}

// ---- life cycle ----

// One instance per folder and name; the answer database goes only on Yes;
// settings written on a confirmed close only.
TEST_F(Form1Test, StartCloseAndTheProgramFolder) {
  ASSERT_TRUE(form_->Form_Initialize());
  form_->Form_Load();
  EXPECT_EQ(form_->Options().LastPath, home_.path());
  FakeUI other;
  EXPECT_FALSE(Form1(other, AppPaths{home_.path(), "velotag"}, nullptr).Form_Initialize());
  EXPECT_EQ(other.messages, std::vector<std::string>{
                                "velotag: The program is already running! Create another copy with other name and run!"});
  EXPECT_TRUE(Form1(other, AppPaths{home_.path(), "velotag2"}, nullptr).Form_Initialize());
  test::WriteFileText(home_.file("LocalDB.ini"), "[x]");
  ui_.answers = {false, true, false, true};
  form_->CmdInput_Click(kCmdClearLocalDb);
  EXPECT_EQ(GetPathType(home_.file("LocalDB.ini")), kPathFile);
  form_->CmdInput_Click(kCmdClearLocalDb);
  EXPECT_EQ(GetPathType(home_.file("LocalDB.ini")), kPathMissing);
  EXPECT_EQ(ui_.texts.back(), "Clear local database: SUCCESSFUL");
  EXPECT_FALSE(form_->Form_QueryUnload(true));  // No to "QUIT?"
  EXPECT_EQ(GetPathType(home_.file("velotag.ini")), kPathMissing);
  EXPECT_TRUE(form_->Form_QueryUnload(true));
  form_->Form_Unload();
  EXPECT_EQ(GetPathType(home_.file("velotag.ini")), kPathFile);
}

}  // namespace
}  // namespace velotag
