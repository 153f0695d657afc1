#include "library/form1.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "library/about.h"
#include "library/instance.h"
#include "support/numtext.h"
#include "support/paths.h"
#include "support/strutil.h"
#include "support/textenc.h"
#include "tags/genres.h"

namespace velotag {

namespace {

constexpr int kClosingMessageMs = 2000;

// Cuts the inputs of the ID3v1 fields to what ID3v1 holds; true when one
// was longer.
bool CutToID3v1(FieldPanel& panel) {
  bool cut = false;
  for (const PanelFieldInfo& f : kPanelFields) {
    std::string& input = panel.Input(f.field);
    if (f.v1Width != 0 && Utf8Length(input) > f.v1Width) {
      input = Utf8Left(input, f.v1Width);
      cut = true;
    }
  }
  return cut;
}

constexpr std::array<const char*, kBrowserCommandCount> kInputCaptions = {
    "Invert selection", "Add media folder", "Add media file", "Del sel. line", "Del all",
    "Load ID3 data", "", "", "Save pictures from ID3v2 (ALL MP3)",
    "Save pictures from ID3v2 (Sel MP3)", "Rename pattern creator", "Rename files (Sel MP3)",
    "Auto TAG (Sel MP3)", "Save to CSV", "Clear local database", "Deselect ALL",
    "Track selected"};

}  // namespace

const std::array<const char*, kMediaColumnCount> Form1::kColumnHeaders = {
    "filename", "Track", "Artist", "Title", "Album", "Year",
    "Genre",    "Comment", "path", "Size", "ID3v1", "ID3v2"};

AppPaths AppPaths::ForThisProcess() {
  AppPaths p;
  p.ProgramFolder = GetAppFolder();
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) {
    std::string exe(buf, static_cast<std::size_t>(n));
    p.ExeName = GetFileNamePart(exe);
    p.Executable = p.ExeName;
    p.InstallFolder = GetFolderPart(exe);
  }
  return p;
}

Form1::Form1(UserInterface& ui, AppPaths paths, std::unique_ptr<FingerprintLookup> fingerprint)
    : ui_(ui), paths_(std::move(paths)), fingerprint_(std::move(fingerprint)),
      random_(std::random_device{}()) {
  paths_.ProgramFolder = WithTrailingSlash(paths_.ProgramFolder);
  for (int i = 0; i < kBrowserCommandCount; ++i)
    inputCaptions_[static_cast<std::size_t>(i)] = kInputCaptions[static_cast<std::size_t>(i)];
  for (int i = 0; i <= 15; ++i) panelCaptions_[static_cast<std::size_t>(i)] = "Clear";
  panelCaptions_[kCmdBrowsePicture] = "browse";
  panelCaptions_[kCmdClearAllFields] = "Clear all textfield";
  frame1Caption_ = kFrame1Idle;
  frame2Caption_ = kFrame2Idle;

  // The media grid, as the window shows it.
  if (fingerprint_) fingerprint_->SetPump([this] { PumpMessages(); });
  grid_.SetEventSink(this);
  grid_.SetFontColor({0, 0, 0});
  grid_.SetBackColor({255, 238, 221});
  grid_.SetHeaderBckColor({236, 233, 216});
  grid_.SetBorderColor({0, 0, 0});
  grid_.SetMultiselect(true);
  grid_.SetHasCheckBox(false);
  grid_.SetHasColumnheader(true);
  grid_.SetHasHorizBorder(true);
  grid_.SetFont(GridFont{"Courier New", 8, false, false});
  grid_.SetColumnCount(kMediaColumnCount);
  for (int c = 0; c < kMediaColumnCount; ++c)
    grid_.SetColumnheaderValue(c, kColumnHeaders[static_cast<std::size_t>(c)], false);
  ApplyEditCaptions();
  ApplyViewCaptions();
}

Form1::~Form1() { grid_.SetEventSink(nullptr); }

std::string Form1::SettingsFile() const { return paths_.ProgramFolder + paths_.ExeName + ".ini"; }

const std::string& Form1::InputCaption(int index) const {
  static const std::string kNone;
  return index >= 0 && index < kBrowserCommandCount ? inputCaptions_[static_cast<std::size_t>(index)]
                                                    : kNone;
}

const std::string& Form1::PanelCaption(int index) const {
  static const std::string kNone;
  return index >= 0 && index < kPanelCommandCount ? panelCaptions_[static_cast<std::size_t>(index)]
                                                  : kNone;
}

std::vector<std::string> Form1::GenreBoxEntries() {
  std::vector<std::string> entries;
  for (int n = 0; n <= 255; ++n) entries.push_back(GenreName(static_cast<std::uint8_t>(n)));
  return entries;
}

// ---- life cycle ----

bool Form1::Form_Initialize() {
  lock_ = std::make_unique<InstanceLock>(paths_.ProgramFolder + paths_.ExeName + ".lock");
  if (lock_->OtherInstance()) {
    // "Open with" from a file manager starts the program again: the running
    // window takes the files; the message is left for when it cannot.
    if (!ui_.HandToRunningInstance())
      ui_.ShowMessage("The program is already running! Create another copy with other name and run!",
                      paths_.ExeName, MessageIcon::Information);
    return false;
  }
  return true;
}

void Form1::Form_Load() {
  windowCaption_ = std::string(kCompany) + " - Velotag - " + paths_.ExeName + " - Ver.:" +
                   kVersionText;
  log_.Clear();
  if (fingerprint_ && fingerprint_->DriverInstalled()) {
    AddStatusLine("LIBOFA driver: " + fingerprint_->DriverName() +
                  " ver: " + fingerprint_->DriverVersion());
  } else {
    std::string dll1 = fingerprint_ ? fingerprint_->DriverName() : "libofa.so.0";
    std::string dll2 = fingerprint_ ? fingerprint_->SupportLibraryName() : "libfftw3.so.3";
    AddStatusLine("LIBOFA driver not installed. For correct working Auto Tag, please download " +
                  dll1 + ", " + dll2);
  }
  AddStatusLine("***");
  AddStatusLine(std::string("* Created By: ") + kAuthor);
  AddStatusLine(std::string("* E-mail: ") + kEmail);
  AddStatusLine(std::string("* Webpage: ") + kHomePage);
  AddStatusLine(std::string("* Download: ") + kDownloadPage);
  AddStatusLine("***");

  Settings loaded;
  if (!LoadSettings(SettingsFile(), loaded) && GetPathType(SettingsFile()) == kPathFile)
    AddStatusLine("Configuration file open error (check the file security settings)");
  if (loaded.LastPath.empty()) loaded.LastPath = paths_.ProgramFolder;
  options_ = loaded;
  if (fingerprint_) fingerprint_->SetServiceHost(options_.Servers.Fingerprint);
  SetAcoustIdKey(options_.Servers.AcoustIdKey, false);
  panel_.ChkID3v1AutoTrack = loaded.ChkID3v1AutoTrack;
  panel_.ChkID3v1 = loaded.ChkID3v1;
  panel_.TxtID3 = loaded.TxtID3;
  busyCount_ = 0;
  closingRequest_ = false;
  panel_.CmbID3v1 = loaded.CmbID3v1;
  ui_.FieldPanelChanged();
  OptID3ver_Click(loaded.OptID3ver);
  OptID3editVer_Click(loaded.OptID3editVer);
  // A download folder left from an upgrade is not needed any more. The
  // program folder may be the user's own (VELOTAG_HOME=~): a folder that
  // merely has the download folder's name is theirs and stays.
  if (GetPathType(DownloadFolder()) >= kPathFolder &&
      GetPathType(DownloadFolder() + kDownloadMarker) == kPathFile)
    CmdUpdate_Click(kCmdEraseDownload);
  stopEnabled_ = false;
  ui_.CaptionChanged(Caption::StopButton);
}

bool Form1::Form_QueryUnload(bool byUser) {
  if (byUser && !ui_.AskYesNo("QUIT?", "QUIT")) return false;
  closingRequest_ = true;
  if (busyCount_ >= 1) {
    ui_.ShowTimedMessage("Still working...", "QUIT", MessageIcon::Information, kClosingMessageMs);
    return false;
  }
  Settings s = options_;
  s.ChkID3v1 = panel_.ChkID3v1;
  s.TxtID3 = panel_.TxtID3;
  s.CmbID3v1 = panel_.CmbID3v1;
  s.ChkID3v1AutoTrack = panel_.ChkID3v1AutoTrack;
  s.OptID3editVer = optID3editVer_;
  s.OptID3ver = optID3ver_;
  SaveSettings(SettingsFile(), s);
  return true;
}

void Form1::Form_Unload() {
  fingerprint_.reset();
  lock_.reset();
  StartPreparedUpgrade();
}

// ---- status, progress, stop ----

void Form1::AddStatusLine(const std::string& text) {
  for (const std::string& line : log_.Add(text)) ui_.StatusLineAdded(line);
}

bool Form1::PumpMessages() { return ui_.PumpEvents(); }

void Form1::SetAcoustIdKey(const std::string& key, bool announce) {
  options_.Servers.AcoustIdKey = TrimSpaces(key);
  if (fingerprint_)
    fingerprint_->SetAcoustId(options_.Servers.AcoustIdKey, options_.Servers.AcoustId,
                              AcoustIdMinScore(options_.Servers));
  if (announce)
    AddStatusLine(options_.Servers.AcoustIdKey.empty()
                      ? "AcoustID key removed: Auto tag asks the fingerprint service"
                      : "AcoustID key set: Auto tag asks AcoustID");
}
void Form1::CmdCDDB_Click() { ui_.ShowCdWindow(); }

void Form1::CmdSTOP_Click() {
  if (busyCount_ > 0) --busyCount_;
  // A lookup waiting on the decoder or the network ends now, not later.
  if (busyCount_ == 0 && fingerprint_) fingerprint_->Cancel();
}

bool Form1::Killed() {
  if (busyCount_ != 0) return false;
  AddStatusLine("Process killed");
  result_.stopped = true;
  return true;
}

void Form1::LowerBusy() {
  if (busyCount_ > 0) --busyCount_;
}

bool Form1::Timer1_Timer() {
  bool stop = busyCount_ >= 1;
  if (stop != stopEnabled_) {
    stopEnabled_ = stop;
    ui_.CaptionChanged(Caption::StopButton);
  }
  if (optID3editVer_ == 0 && CutToID3v1(panel_)) ui_.FieldPanelChanged();
  if (closingRequest_) {
    ui_.CloseWindow();
    return false;
  }
  return true;
}

void Form1::LstStat_DblClick(int lineIndex) {
  const auto& lines = log_.Lines();
  if (lineIndex < 0 || static_cast<std::size_t>(lineIndex) >= lines.size()) return;
  const std::string& line = lines[static_cast<std::size_t>(lineIndex)];
  std::string address = StatusLineAddress(line);
  if (!address.empty()) {
    ui_.OpenExternally(address);
  } else {
    // A line naming a file or folder ("Picture: /music/a_(Cover).jpeg", the
    // CSV file written) opens where that file lies.
    std::size_t slash = line.find(" /");
    if (slash != std::string::npos) {
      std::string path = line.substr(slash + 1);
      int type = GetPathType(path);
      if (type == kPathFile) ui_.OpenExternally(GetFolderPart(path));
      else if (type >= kPathFolder) ui_.OpenExternally(path);
    }
  }
  ui_.CopyToClipboard(line);
}

void Form1::SetFrame1(const std::string& caption, double progress) {
  frame1Caption_ = caption;
  frame1Progress_ = progress;
  ui_.CaptionChanged(Caption::Frame1);
}

void Form1::SetFrame2(const std::string& caption, double progress) {
  frame2Caption_ = caption;
  frame2Progress_ = progress;
  ui_.CaptionChanged(Caption::Frame2);
}

void Form1::SetFrame1Progress(double percent) { SetFrame1(WorkingCaption(percent), percent); }

void Form1::SetFrame2Progress(double percent) { SetFrame2(WorkingCaption(percent), percent); }

void Form1::SetGridToolTip() {
  gridToolTip_ = std::to_string(grid_.ItemCount()) + " element(s)";
  ui_.CaptionChanged(Caption::GridToolTip);
}

std::string WorkingCaption(double percent) {
  std::int32_t tenths = RoundHalfEven(percent * 10);
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(std::abs(tenths % 10));
  return "WORKING: " + text + " %";
}

std::string FormatFileSize(Offset64 size) {
  static const char* kUnits[] = {" B", " KB", " MB", " GB"};
  double value = static_cast<double>(size);
  int unit = 0;
  if (size >= 1073741824LL) {
    value /= 1073741824.0;
    unit = 3;
  } else if (size >= 1048576) {
    value /= 1048576.0;
    unit = 2;
  } else if (size >= 1024) {
    value /= 1024.0;
    unit = 1;
  }
  // Hundredths, halves to even, written with "," whatever the locale says.
  long long hundredths = std::llrint(std::nearbyint(value * 100));
  bool negative = hundredths < 0;
  if (negative) hundredths = -hundredths;
  std::string whole = std::to_string(hundredths / 100);
  if (whole.size() < 4) whole.insert(0, 4 - whole.size(), ' ');
  char decimals[4];
  std::snprintf(decimals, sizeof decimals, "%02lld", hundredths % 100);
  return (negative ? "-" : "") + whole + "," + decimals + kUnits[unit];
}

bool SplitKeyValue(const std::string& line, std::string& key, std::string& value) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) {
    key.clear();
    value.clear();
    return false;
  }
  std::string k = line.substr(0, eq);
  std::size_t b = k.find_first_not_of(" \t");
  std::size_t e = k.find_last_not_of(" \t");
  key = b == std::string::npos ? std::string() : k.substr(b, e - b + 1);
  value = line.substr(eq + 1);
  return true;
}

// ---- modes and panel controls ----

void Form1::SetModes(int showVersion, int editVersion) {
  if (showVersion == 0 || showVersion == 1) optID3ver_ = showVersion;
  if (editVersion == 0 || editVersion == 1) optID3editVer_ = editVersion;
  ApplyViewCaptions();
  ApplyEditCaptions();
}

void Form1::ApplyEditCaptions() {
  std::string v = optID3editVer_ == 1 ? "ID3v2" : "ID3v1";
  std::string w = optID3editVer_ == 1 ? "ID3v1" : "ID3v2";
  inputCaptions_[kCmdLoadID3] = "Load " + v + " (Sel MP3)";
  panelCaptions_[kCmdChangeAll] = "Change " + v + " tag (All MP3)";
  panelCaptions_[kCmdChangeSel] = "Change " + v + " tag (Sel MP3)";
  panelCaptions_[kCmdCopyAll] = v + " To " + w + " (All MP3)";
  panelCaptions_[kCmdCopySel] = v + " To " + w + " (Sel MP3)";
  panelCaptions_[kCmdClearTagAll] = "Clear " + v + " tag (All MP3)";
  panelCaptions_[kCmdClearTagSel] = "Clear " + v + " tag (Sel MP3)";
  ui_.CaptionChanged(Caption::Buttons);
}

void Form1::ApplyViewCaptions() {
  std::string v = optID3ver_ == 1 ? "ID3v2" : "ID3v1";
  inputCaptions_[kCmdRename] = "Rename by " + v + " (Sel MP3)";
  inputCaptions_[kCmdAutoTag] = "Auto " + v + " tag (Sel MP3)";
  ui_.CaptionChanged(Caption::Buttons);
}

void Form1::OptID3editVer_Click(int index) {
  if (index != 0 && index != 1) return;
  optID3editVer_ = index;
  if (index == 0) CutToID3v1(panel_);
  panel_.ID3v2Enabled = index == 1;
  ui_.FieldPanelChanged();
  ApplyEditCaptions();
}

void Form1::OptID3ver_Click(int index) {
  if (index == 0 || index == 1) {
    optID3ver_ = index;
    ApplyViewCaptions();
  }
  listChanged_ = true;
  CmdInput_Click(kCmdReload);
}

void Form1::ChkID3_Click() {
  for (const PanelFieldInfo& f : kPanelFields)
    if (panel_.Enabled(f.field)) panel_.Check(f.field) = panel_.ChkID3 ? 1 : 0;
  ui_.FieldPanelChanged();
}

void Form1::CmbID3v1_Click() {
  int index = -1;
  for (int n = 0; n <= 255; ++n) {
    if (GenreName(static_cast<std::uint8_t>(n)) == panel_.CmbID3v1) {
      index = n;
      break;
    }
  }
  panel_.CmbID3v1ToolTip = std::to_string(index);
  ui_.CaptionChanged(Caption::GenreToolTip);
}

// ---- media list events ----

void Form1::ItemClick(std::int32_t itemId, bool selected) {
  lastClickId_ = itemId;
  lastClickSelected_ = selected;
}

// A sort renumbers the rows under a command that walks them by index, which
// would then skip some files and do others twice: not while one runs.
void Form1::ColumnClick(std::int32_t colIndex) {
  if (busyCount_ != 0) {
    AddStatusLine("Still working...");
    return;
  }
  grid_.SortByCol(colIndex, true, true);
}

void Form1::ColumnArrange(std::int32_t, std::int32_t) {}

void Form1::DblClick() { RefreshMediaList(); }

void Form1::MouseUp(int button, int shift, int, int) {
  if (button == 2) {
    std::int32_t first = grid_.GetFirstSelectedItemID();
    if (first < 0) return;
    std::string path;
    grid_.GetItemCol(first, kColPath, path);
    grid_.TrackVisible(first, true);
    ui_.OpenExternally(path);
  } else if (button == 1 && shift == 1 && lastClickSelected_ && lastClickId_ >= 0) {
    std::int32_t first = grid_.GetFirstSelectedItemID();
    if (first < 0) return;
    for (std::int32_t i = first + 1; i < lastClickId_; ++i) grid_.SetItemSelected(i, true, false);
    // Each selection above moved the anchor; the range keeps its start, so
    // "first selected" still means the row the range began at.
    grid_.SetItemSelected(first, true, false);
    grid_.Refresh();
  }
}

void Form1::RefreshMediaList() {
  SetGridToolTip();
  if (listChanged_) {
    grid_.RefreshColumnsMaxWidth();
    listChanged_ = false;
  }
  grid_.SetDefWidthAllCol(false);
  for (int c : {static_cast<int>(kColFileName), static_cast<int>(kColPath)})
    if (grid_.GetColumnheaderWidth(c) > 400) grid_.SetColumnheaderWidth(c, 400, false);
  grid_.Refresh();
}

void Form1::LogFileOpenError(const std::string& path) {
  AddStatusLine("File open error: " + path);
  result_.failed.push_back(path);
}

void Form1::Refuse(const std::string& line) {
  AddStatusLine(line);
  result_.refused = true;
}

// A write that failed is said, so that nobody takes an unchanged file for a
// changed one.
void Form1::LogFileWriteError(const std::string& path, const std::string& keptCopy) {
  AddStatusLine("File write error: " + path);
  if (!keptCopy.empty()) AddStatusLine("The complete new file is kept as: " + keptCopy);
  result_.failed.push_back(path);
}

}  // namespace velotag
