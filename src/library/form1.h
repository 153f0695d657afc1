// Form1: everything the main window does, without a widget. The window binds
// its controls to the state held here and calls the handlers; the command
// line drives the same handlers through its own UserInterface.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "grid/mylistview.h"
#include "library/fields.h"
#include "library/fingerprint.h"
#include "library/settings.h"
#include "library/statuslog.h"
#include "library/ui.h"
#include "support/filelock.h"
#include "support/paths.h"

namespace velotag {

// CmdInput, the media browser's buttons.
enum BrowserCommand : int {
  kCmdInvertSelection = 0, kCmdAddFolder = 1, kCmdAddFile = 2, kCmdDelSelected = 3,
  kCmdDelAll = 4, kCmdLoadID3 = 5, kCmdReload = 6, kCmdSearch = 7, kCmdSavePicturesAll = 8,
  kCmdSavePicturesSel = 9, kCmdRenamePattern = 10, kCmdRename = 11, kCmdAutoTag = 12,
  kCmdSaveCsv = 13, kCmdClearLocalDb = 14, kCmdDeselectAll = 15, kCmdTrackSelected = 16,
  kBrowserCommandCount = 17
};

// CmdID3v1, the field panel's buttons (0..16 and 20 are field tools).
enum PanelCommand : int {
  kCmdBrowsePicture = 16, kCmdClearAllFields = 20, kCmdChangeAll = 30, kCmdChangeSel = 31,
  kCmdCopyAll = 32, kCmdCopySel = 33, kCmdClearTagAll = 34, kCmdClearTagSel = 35,
  kPanelCommandCount = 36
};

// The field panel's batch commands.
enum class BatchKind { Change, Copy, Clear };

// CmdUpdate, the self-update buttons.
enum UpdateCommand : int {
  kCmdAutoUpgrade = 0, kCmdCheckVersion = 1, kCmdEraseDownload = 2, kUpdateCommandCount = 3
};

// What a command over the media list did: the status log says it to a
// person, a program takes it from here.
struct BatchResult {
  // It did not start: a "Please ..." line, "Still working..." or a No answer.
  bool refused = false;
  bool stopped = false;  // Stop ended it before the last row ("Process killed")
  // Files changed, copied, cleared, renamed, tagged or loaded; pictures saved.
  int done = 0;
  // The files it could not open, write or rename, in the order met.
  std::vector<std::string> failed;
  std::vector<std::string> written;  // the picture files saved
  bool Ok() const { return !refused && !stopped && failed.empty(); }
};

// Where the program lives: its folder (with a trailing "/") and the
// executable's name, which names the settings, lock and download files.
struct AppPaths {
  std::string ProgramFolder;
  std::string ExeName = "velotag";
  // Where the running executable lies (the folder an upgrade replaces
  // files in) and its file name; empty: ProgramFolder and ExeName.
  std::string InstallFolder{};
  std::string Executable{};
  // The paths of the running executable.
  static AppPaths ForThisProcess();
};

// The self-update downloads into ProgramFolder + ExeName + "-download/" (the
// executable itself may be ProgramFolder + ExeName) and puts this file there
// first; the folder is erased only when it carries it.
inline constexpr const char* kDownloadMarker = ".velotag-download";

// The frames' captions while no command works in them.
inline constexpr const char* kFrame1Idle = "MP3 browser (right click=external open selected file)";
inline constexpr const char* kFrame2Idle = "ID3 multi tag editor";

class InstanceLock;

class Form1 : public MyListviewEvents {
 public:
  Form1(UserInterface& ui, AppPaths paths, std::unique_ptr<FingerprintLookup> fingerprint);
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Life cycle of the window. Form_Initialize is false when the program must
  // end (another instance runs); Form_QueryUnload is false when the close is
  // cancelled (No to "QUIT?", or still working: the timer closes later).
  bool Form_Initialize();
  void Form_Load();
  bool Form_QueryUnload(bool byUser);
  void Form_Unload();

  // Button groups and controls.
  void CmdInput_Click(int index);
  void CmdID3v1_Click(int index);
  void CmdSTOP_Click();
  void CmdUpdate_Click(int index);
  void OptID3editVer_Click(int index);
  void OptID3ver_Click(int index);
  void ChkID3_Click();
  void CmbID3v1_Click();
  // Opens the CD window.
  void CmdCDDB_Click();
  // The once-a-second tick; false when the timer must not run again.
  bool Timer1_Timer();
  void LstStat_DblClick(int lineIndex);

  // Media list events.
  void ItemClick(std::int32_t itemId, bool selected) override;
  void ColumnClick(std::int32_t colIndex) override;
  void ColumnArrange(std::int32_t colIndex, std::int32_t width) override;
  void DblClick() override;
  void MouseUp(int button, int shift, int x, int y) override;

  // Entry points for the command line and for files dropped on the grid:
  // the work of "Add media folder" / "Add media file" after the dialog, in
  // the same command frame. Without readTags the rows get their file name,
  // path and size only, for a caller that runs a command on the files next
  // and never shows the rows. done: the rows added; failed: files whose
  // tags could not be read.
  BatchResult AddMediaPaths(const std::vector<std::string>& paths, bool recursive,
                            bool readTags = true);
  // The work behind the buttons, each in the frame its button runs it in.
  // Change, Copy or Clear over all rows or the selected ones.
  BatchResult RunBatch(BatchKind kind, bool allRows);
  // The first selected row into the field panel.
  BatchResult LoadID3Data();
  BatchResult SavePictures(bool all);
  // The selected rows, by the rename pattern in Options().
  BatchResult RenameFiles();
  BatchResult AutoTag();
  // A self-update button's work (kCmdAutoUpgrade...); true when it got its
  // answer: the version compared, the upgrade prepared, the folder erased.
  bool RunUpdate(int index);
  // "Save to CSV" into a chosen file ("" = the dated name in the program
  // folder); the path written, "" when it failed.
  std::string SaveListCsv(const std::string& fileName = "");

  void AddStatusLine(const std::string& text);
  bool PumpMessages();
  // The AcoustID application key ([servers] acoustid_key): with one, auto
  // tagging asks AcoustID. announce logs the change.
  void SetAcoustIdKey(const std::string& key, bool announce = true);
  void RefreshMediaList();
  // Selects the view and edit modes without running their handlers' reload,
  // for a front end that sets them before any row exists.
  void SetModes(int showVersion, int editVersion);

  // State.
  MyListview& Grid() { return grid_; }
  FieldPanel& Panel() { return panel_; }
  const StatusLog& Log() const { return log_; }
  Settings& Options() { return options_; }
  const AppPaths& Paths() const { return paths_; }
  FingerprintLookup* Fingerprint() { return fingerprint_.get(); }
  int BusyCount() const { return busyCount_; }
  bool ClosingRequest() const { return closingRequest_; }
  void RequestClose() { closingRequest_ = true; }
  int ShowVersion() const { return optID3ver_; }  // 0 ID3v1, 1 ID3v2
  int EditVersion() const { return optID3editVer_; }
  bool StopEnabled() const { return stopEnabled_; }
  const std::string& WindowCaption() const { return windowCaption_; }
  const std::string& Frame1Caption() const { return frame1Caption_; }
  const std::string& Frame2Caption() const { return frame2Caption_; }
  // The percentage the frames' captions show while a command works; -1 when
  // they show their idle captions.
  double Frame1Progress() const { return frame1Progress_; }
  double Frame2Progress() const { return frame2Progress_; }
  const std::string& GridToolTip() const { return gridToolTip_; }
  const std::string& InputCaption(int index) const;
  const std::string& PanelCaption(int index) const;
  std::string& SearchText() { return searchText_; }
  std::string SettingsFile() const;
  std::string LocalDbFile() const { return paths_.ProgramFolder + "LocalDB.ini"; }
  // The self-update's folder, with a trailing "/".
  std::string DownloadFolder() const;
  static const char* UpdateCaption(int index);
  // The downloaded archive while an upgrade is prepared, else "".
  const std::string& UpgradeMarker() const { return upgradeMarker_; }
  // The executable the archive holds for this front end, and what it is
  // given when the upgrade starts it again (the window: "velotag" and
  // nothing).
  void SetUpgradeProgram(std::string newExeName, std::vector<std::string> restartArgs) {
    upgradeExeName_ = std::move(newExeName);
    upgradeRestartArgs_ = std::move(restartArgs);
  }
  // Once the program is done: starts the prepared upgrade script, clearing
  // the marker; true when one was started.
  bool StartPreparedUpgrade();
  std::mt19937& Random() { return random_; }

  // The genre box's 256 entries: the names, the numbers 148..254, "".
  static std::vector<std::string> GenreBoxEntries();
  static const std::array<const char*, kMediaColumnCount> kColumnHeaders;

 private:
  // The frame every CmdInput command runs in: one command at a time, its
  // progress in frame 1.
  void InFrame(const std::function<void()>& work);
  void RunBrowserCommand(int index);
  // A command that does not start says why.
  void Refuse(const std::string& line);
  BatchResult TakeResult() { return std::exchange(result_, {}); }
  // An operation run in the command frame, with the result it gathered.
  BatchResult RunInFrame(const std::function<void()>& work) {
    result_ = {};
    InFrame(work);
    return TakeResult();
  }
  // Rows came, went or changed: their widths are measured again.
  void RefreshChangedList() {
    listChanged_ = true;
    RefreshMediaList();
  }
  void AddMediaFolder();
  void AddMediaFile();
  void AddFolderRows(const std::string& folder, bool recursive);
  void AddFileRow(const std::string& path);
  void DeleteSelectedRows();
  void DeleteAllRows();
  void ReloadRows();
  void InvertSelection();
  void DeselectAll();
  void TrackSelected();
  void Search();
  void ClearLocalDatabase();
  bool EraseDownloadFolder();
  bool CheckVersion();
  bool AutoUpgrade();
  void OfferDownloadedFile(const std::string& path);
  // The download folder, made with its marker when missing; false when it
  // cannot be.
  bool PrepareDownloadFolder();
  std::vector<std::string> BuildRow(const std::string& path, Offset64 size);
  // One step of a row loop: progress, pump, Stop; false when stopped.
  bool RowLoopStep(std::size_t done, std::size_t total, std::string& lastCaption);
  // The file's size as its open saw it, -1 when it could not be opened.
  Offset64 FillTagColumns(std::vector<std::string>& row, const std::string& path);

  // A batch's writes, flushed together.
  struct BatchRun;
  void ChangeRow(BatchRun& run, std::int32_t i, std::vector<std::string>& row,
                 std::uint8_t typedTrack, std::uint8_t typedGenre);
  void CopyRow(BatchRun& run, const std::vector<std::string>& row);
  void ClearRow(BatchRun& run, std::int32_t i, std::vector<std::string>& row);
  void ClearFieldTool(int index);
  void ChoosePicture();
  // How a write waits for another program that holds the file: the window
  // stays responsive and STOP ends the wait; a batch first puts its own
  // pending files in place, so that no two writers wait for each other.
  LockWait WriteWait(BatchRun* run);

  void SetFrame1(const std::string& caption, double progress = -1);
  void SetFrame2(const std::string& caption, double progress = -1);
  void SetFrame1Progress(double percent);
  void SetFrame2Progress(double percent);
  void SetGridToolTip();
  void ApplyEditCaptions();
  void ApplyViewCaptions();
  void LowerBusy();
  // After a row of a long loop: true, with "Process killed" logged, when
  // Stop has brought BusyCount to 0.
  bool Killed();
  // Both say the file in the status log and count it as failed.
  void LogFileOpenError(const std::string& path);
  // With the name of the complete new copy when a failure left one.
  void LogFileWriteError(const std::string& path, const std::string& keptCopy = "");

  UserInterface& ui_;
  AppPaths paths_;
  std::unique_ptr<FingerprintLookup> fingerprint_;
  std::unique_ptr<InstanceLock> lock_;
  MyListview grid_;
  FieldPanel panel_;
  StatusLog log_;
  Settings options_;
  int busyCount_ = 0;
  bool closingRequest_ = false;
  bool listChanged_ = false;
  bool readTags_ = true;
  bool stopEnabled_ = false;
  int optID3editVer_ = 0;
  int optID3ver_ = 0;
  std::int32_t lastClickId_ = -1;
  bool lastClickSelected_ = false;
  std::string windowCaption_;
  std::string frame1Caption_;
  std::string frame2Caption_;
  double frame1Progress_ = -1;
  double frame2Progress_ = -1;
  std::string gridToolTip_;
  std::string searchText_;
  std::array<std::string, kBrowserCommandCount> inputCaptions_;
  std::array<std::string, kPanelCommandCount> panelCaptions_;
  std::mt19937 random_;
  std::string upgradeMarker_;
  std::string upgradeExeName_ = "velotag";
  std::vector<std::string> upgradeRestartArgs_;
  // What the running result-returning command has done so far.
  BatchResult result_;
};

// "   1,50 KB": the size column's text.
std::string FormatFileSize(Offset64 size);
// "WORKING: 33.3 %".
std::string WorkingCaption(double percent);
// Every file below folder, breadth-first, level by level; links to folders
// are not followed. pump runs once per level.
int ListFilesRecursive(const std::string& folder, std::vector<FolderEntry>& entries,
                       const std::function<void()>& pump);
// The files "Add media folder" lists: one level or the whole tree, those
// whose extension occurs in "*.mp3"; links to folders are not followed.
std::vector<FolderEntry> CollectMediaFiles(const std::string& folder, bool recursive,
                                           const std::function<void()>& pump = {});
// The line's key before the first "=", trimmed, and the value after it.
bool SplitKeyValue(const std::string& line, std::string& key, std::string& value);

}  // namespace velotag
