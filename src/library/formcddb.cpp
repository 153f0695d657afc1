#include "library/formcddb.h"

#include <algorithm>
#include <cstdio>

#include "library/about.h"
#include "library/fingerprint.h"
#include "support/numtext.h"
#include "support/paths.h"
#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

constexpr const char* kNoDriver = "NO ASPI DRIVER";
constexpr const char* kLookupStopped = "Stopped";
constexpr const char* kNoReleaseChosen = "No release chosen (CDDB query first)";
constexpr int kStillWorkingMs = 5000;
constexpr int kMusicBrainzTimeoutMs = 10000;
// What a CDDB server answers with a record ("210 ... entry follows").
constexpr std::int32_t kRecordFollows = 210;

std::string TwoDigits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

// A name made of foreign text that stays one component of its folder: "/"
// and a leading ".." defused, the characters other systems refuse
// replaced, and no longer than a name may be (the tail kept).
std::string SafeName(const std::string& text, const std::string& tail = "") {
  std::string name = MakeValidFileName(SafeFileNameComponent(text));
  if (name.size() + tail.size() > kMaxFileNameBytes)
    name = Utf8CutToBytes(name, kMaxFileNameBytes - tail.size());
  return name + tail;
}

std::string DateTimeName(const std::tm& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d_%02d_%02d_%02d_%02d_%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

// "33.33333": the percent as a float's shortest decimal text.
std::string PercentText(float percent) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(percent));
  std::string text = buf;
  std::size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  if (whole.size() < 3) whole.insert(0, 3 - whole.size(), ' ');
  if (point == std::string::npos) return whole;
  std::string fraction = text.substr(point + 1);
  if (fraction.empty()) fraction = "0";
  return whole + "." + fraction;
}

std::string FirstWord(const std::string& text, std::size_t& rest) {
  std::size_t blank = text.find(' ');
  rest = blank == std::string::npos ? text.size() : blank + 1;
  return text.substr(0, blank);
}

// The release as a read record. Its lines are UTF-8 already and become the
// record's pairs directly: decoding them as a CDDB answer's bytes again
// could only change them.
CddbResponse MusicBrainzRecord(const MbRelease& release) {
  CddbResponse r;
  r.code = kRecordFollows;
  r.message = "MusicBrainz release " + release.id;
  for (const std::string& line : MusicBrainzXmcdLines(release))
    r.lines.emplace_back(line.substr(0, line.find('=')), line);
  r.lineCount = static_cast<std::int32_t>(r.lines.size());
  return r;
}

}  // namespace

std::string TrackListLine(const std::vector<TocEntry>& toc, int k, int trackNumber) {
  const TocEntry& start = toc[static_cast<std::size_t>(k - 1)];
  const TocEntry& end = toc[static_cast<std::size_t>(k)];
  int seconds = RoundHalfEven((TocFrames(end) - TocFrames(start)) / double(kFramesPerSecond));
  if (seconds < 0) seconds = 0;
  char length[32];
  std::snprintf(length, sizeof length, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return std::string(IsDataEntry(start) ? " DataTrack" : "AudioTrack") + TwoDigits(trackNumber) +
         " [ " + length + " ]";
}

std::string CddbQueryCommand(const std::string& drive) {
  std::vector<TocEntry> toc;
  if (ReadToc(drive, toc) < 2) return {};
  return CddbQueryText(toc);
}

std::vector<std::string> BuildRipNames(const std::vector<std::string>& trackLines,
                                       const CddbResponse& record, const std::tm& now) {
  std::vector<std::string> names(trackLines.size() + 1);
  names[0] = DateTimeName(now);
  for (std::size_t k = 1; k < names.size(); ++k) names[k] = SafeName(trackLines[k - 1], ".wav");
  const int count = static_cast<int>(trackLines.size());
  for (const auto& [key, value] : record.lines) {
    if (StartsWithNoCase(value, "dtitle=")) {
      // A title that names no folder of its own keeps the dated name.
      std::string title = TrimBlanks(value.substr(7));
      if (!title.empty() && title != "." && title != "..") names[0] = title;
    } else if (StartsWithNoCase(value, "TTITLE")) {
      int n = LeadingInteger(value.substr(6)) + 1;
      if (n < 1 || n > count) continue;
      std::size_t eq = value.find('=');
      std::string title = eq == std::string::npos ? std::string() : value.substr(eq + 1);
      // The number keeps two tracks of the same title apart.
      names[static_cast<std::size_t>(n)] = SafeName(TwoDigits(n) + " " + title, ".wav");
    }
  }
  names[0] = SafeName(names[0]);
  return names;
}

std::string RipProgressText(const std::string& drive, int track, float percent) {
  return "[ " + drive + " ] [ Track" + TwoDigits(track) + " ] [ " + PercentText(percent) + " % ]";
}

// ---- the window ----

FormCDDB::FormCDDB(UserInterface& ui, FormCDDBHost host)
    : ui_(ui),
      host_(std::move(host)),
      musicBrainz_({"", ServiceUserAgent(), kMusicBrainzTimeoutMs, [this] { ui_.PumpEvents(); }}) {
  if (!host_.settings) host_.settings = &ownSettings_;
  if (host_.clientVersion.empty()) {
    // The greeting names the version as major.minor.
    std::string v = kVersionText;
    std::size_t dot = v.find('.');
    dot = dot == std::string::npos ? v.size() : v.find('.', dot + 1);
    host_.clientVersion = v.substr(0, dot);
  }
}

const std::array<const char*, 2>& FormCDDB::ServerBoxEntries() {
  static const std::array<const char*, 2> kEntries = {"FreeDB", "MusicBrainz"};
  return kEntries;
}

std::vector<std::string> FormCDDB::CategoryBoxEntries() {
  std::vector<std::string> names;
  for (int i = 0; i < kCddbCategoryCount; ++i) names.push_back(CddbCategoryName(i));
  std::sort(names.begin(), names.end());
  return names;
}

std::string& FormCDDB::Email() { return host_.settings->Servers.CddbEmail; }

std::string FormCDDB::DriveText() const {
  return driveIndex_ >= 0 && driveIndex_ < static_cast<int>(drives_.size())
             ? drives_[static_cast<std::size_t>(driveIndex_)].drive
             : std::string();
}

void FormCDDB::Changed(CddbControl what) {
  if (host_.changed) host_.changed(what);
}

void FormCDDB::Form_Load() { Refresh(); }

void FormCDDB::Form_Unload() { Stop(); }

void FormCDDB::CmdCDDB_Click(int index) {
  switch (index) {
    case kCddbRefresh: Refresh(); break;
    case kCddbQuery: Query(); break;
    case kCddbRead: Read(); break;
    case kCddbSelInvert:
      trackSelected_.flip();
      Changed(CddbControl::Tracks);
      break;
    case kCddbSelAll:
      std::fill(trackSelected_.begin(), trackSelected_.end(), true);
      Changed(CddbControl::Tracks);
      break;
    case kCddbStop: Stop(); break;
    case kCddbRip: Rip(); break;
    default: break;
  }
}

void FormCDDB::Refresh() {
  ListCdDrives(drives_, true);
  driveBox_.clear();
  for (const CdDrive& d : drives_) driveBox_.push_back(d.drive + " " + d.identifier);
  driveIndex_ = -1;
  Changed(CddbControl::Drives);
  if (!driveBox_.empty()) CmbDrives_Click(0);
}

void FormCDDB::AddDrive(const std::string& source) {
  drives_.push_back(DescribeCdDrive(source));
  driveBox_.push_back(source + " " + drives_.back().identifier);
  Changed(CddbControl::Drives);
  CmbDrives_Click(static_cast<int>(drives_.size()) - 1);
}

void FormCDDB::CmbDrives_Click(int index) {
  if (index < 0 || index >= static_cast<int>(drives_.size())) return;
  driveIndex_ = index;
  const std::string drive = DriveText();
  LoadMedia(drive, false);
  trackLines_.clear();
  trackSelected_.clear();
  ClearList(0);
  TxtCDDB[0].clear();
  std::vector<TocEntry> toc;
  int first = 1;
  int count = ReadToc(drive, toc, &first);
  firstTrack_ = first;
  for (int k = 1; k < count; ++k) trackLines_.push_back(TrackListLine(toc, k, first + k - 1));
  trackSelected_.assign(trackLines_.size(), false);
  Changed(CddbControl::Drives);
  Changed(CddbControl::Tracks);
  Changed(CddbControl::Matches);
  Changed(CddbControl::Answers);
}

void FormCDDB::SetTrackSelected(int row, bool selected) {
  if (row >= 0 && row < static_cast<int>(trackSelected_.size()))
    trackSelected_[static_cast<std::size_t>(row)] = selected;
}

void FormCDDB::AddListLine(int list, const std::string& text) {
  lstCDDB_[static_cast<std::size_t>(list)].Add(text, kStatusMaxLines, false);
}

void FormCDDB::ClearList(int list) {
  lstCDDB_[static_cast<std::size_t>(list)].Clear();
  lstCDDBIndex_[static_cast<std::size_t>(list)] = -1;
  // The releases are the match list's lines: they go with them.
  if (list == 0) lookup_.releases.clear();
}

bool FormCDDB::UsesMusicBrainz() const { return ContainsNoCase(CmbServer, "musicbrainz"); }

CddbClient FormCDDB::Client() const {
  CddbClient c;
  const ServerSettings& s = host_.settings->Servers;
  c.servers = {s.Cddb, s.Cddb};
  if (!host_.serverOverride.empty()) c.servers = {host_.serverOverride, host_.serverOverride};
  c.email = s.CddbEmail;
  c.clientVersion = host_.clientVersion;
  c.pump = [this] { ui_.PumpEvents(); };
  return c;
}

void FormCDDB::Query() {
  // The lookup pumps the window's events: a second click meanwhile waits
  // for nothing and would only race the first for the lists.
  if (lookupRunning_) return;
  ClearList(0);
  const std::string drive = DriveText();
  if (driveBox_.empty() || drive.empty()) {
    TxtCDDB[0] = kNoDriver;
    Changed(CddbControl::Answers);
    Changed(CddbControl::Matches);
    return;
  }
  if (UsesMusicBrainz()) return QueryMusicBrainz(drive);
  CddbResponse r = CddbRequest(CddbQueryCommand(drive), kCddbProtoLevel, 0, Client());
  response_ = r;
  TxtCDDB[0] = GetFileNamePart(drive) + " " + r.message;
  if (r.code == 200 && r.lines.empty()) {
    std::size_t rest = 0;
    FirstWord(r.message, rest);
    AddListLine(0, TrimBlanks(r.message.substr(rest)));
  } else {
    for (const auto& [key, value] : r.lines) AddListLine(0, value);
  }
  Changed(CddbControl::Answers);
  Changed(CddbControl::Matches);
  // No match (202) and the error answers leave the list empty: nothing to choose.
  if (!lstCDDB_[0].Lines().empty()) LstCDDB_Click(0, 0);
}

void FormCDDB::QueryMusicBrainz(const std::string& drive) {
  // The record the rip uses is the release chosen below, or none.
  response_ = CddbResponse{};
  ClearList(1);
  TxtCDDB[1].clear();
  lookup_ = MbLookup{};
  std::vector<TocEntry> toc;
  int first = 1;
  ReadToc(drive, toc, &first);
  const std::string id = MusicBrainzTocDiscId(toc, first);
  if (id.empty()) {
    lookup_.message = kCddbNoAnswer;
  } else {
    TxtCDDBdiscid = id;
    Changed(CddbControl::Lookup);
    musicBrainz_.SetServer(host_.settings->Servers.MusicBrainz);
    lookupRunning_ = true;
    lookupStopped_ = false;
    MbLookup found = musicBrainz_.LookupDisc(id);
    lookupRunning_ = false;
    if (lookupStopped_) {
      found = MbLookup{};
      found.message = kLookupStopped;
    }
    lookup_ = std::move(found);
  }
  TxtCDDB[0] = GetFileNamePart(drive) + " " + lookup_.message;
  for (const MbRelease& release : lookup_.releases) AddListLine(0, MusicBrainzReleaseLabel(release));
  Changed(CddbControl::Answers);
  Changed(CddbControl::Matches);
  Changed(CddbControl::Record);
  if (!lookup_.releases.empty()) LstCDDB_Click(0, 0);
}

void FormCDDB::ChooseRelease(std::size_t index) {
  ShowRecord(MusicBrainzRecord(lookup_.releases[index]));
}

void FormCDDB::ShowRecord(CddbResponse record) {
  ClearList(1);
  response_ = std::move(record);
  TxtCDDB[1] = response_.message;
  for (const auto& [key, value] : response_.lines) AddListLine(1, value);
  Changed(CddbControl::Answers);
  Changed(CddbControl::Record);
  if (!lstCDDB_[1].Lines().empty()) LstCDDB_Click(1, 0);
}

void FormCDDB::Read() {
  if (UsesMusicBrainz()) {
    // The releases came with the query: reading one asks nothing more.
    const int row = lstCDDBIndex_[0];
    if (row >= 0 && static_cast<std::size_t>(row) < lookup_.releases.size())
      return ChooseRelease(static_cast<std::size_t>(row));
    ClearList(1);
    response_ = CddbResponse{};
    TxtCDDB[1] = kNoReleaseChosen;
    Changed(CddbControl::Answers);
    Changed(CddbControl::Record);
    return;
  }
  ClearList(1);
  ShowRecord(CddbRequest(CddbReadCommand(TxtCDDBdiscid, CmbCategories), kCddbProtoLevel, 0,
                         Client()));
}

void FormCDDB::LstCDDB_Click(int list, int row) {
  if (list != 0 && list != 1) return;
  const auto& lines = lstCDDB_[static_cast<std::size_t>(list)].Lines();
  if (row < 0 || row >= static_cast<int>(lines.size())) return;
  lstCDDBIndex_[static_cast<std::size_t>(list)] = row;
  const std::string& line = lines[static_cast<std::size_t>(row)];
  if (list == 0 && static_cast<std::size_t>(row) < lookup_.releases.size()) {
    // A release: choosing it is reading it.
    ChooseRelease(static_cast<std::size_t>(row));
  } else if (list == 0) {
    std::size_t rest = 0;
    CmbCategories = FirstWord(line, rest);
    std::size_t after = 0;
    TxtCDDBdiscid = FirstWord(line.substr(rest), after);
  } else {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) return Changed(CddbControl::Lookup);
    TxtCDDBread[0] = TrimBlanks(line.substr(0, eq));
    TxtCDDBread[1] = TrimBlanks(line.substr(eq + 1));
  }
  Changed(CddbControl::Lookup);
}

void FormCDDB::Stop() {
  if (lookupRunning_) {
    lookupStopped_ = true;
    musicBrainz_.Cancel();
  }
  if (ripCounter_ > 0) --ripCounter_;
}

bool FormCDDB::RipProgress(int track, const std::string& drive, float percent) {
  TxtCDrip = RipProgressText(drive, track, percent);
  Changed(CddbControl::RipText);
  ui_.PumpEvents();
  bool closing = host_.closingRequested && host_.closingRequested();
  return !closing && ripCounter_ >= 1;
}

void FormCDDB::Rip() {
  if (ripCounter_ != 0) {
    ui_.ShowTimedMessage("Still working...", kRipButtonCaption, MessageIcon::Information,
                         kStillWorkingMs);
    return;
  }
  if (trackLines_.empty()) {
    TxtCDrip = "Don't exist AudioTrack(s)";
    return Changed(CddbControl::RipText);
  }
  // The loop below pumps the window's events: a click on Refresh or on
  // another drive must not change the tracks under it, so it works on
  // what is chosen now.
  struct Job {
    int track;
    std::size_t line;
  };
  std::vector<Job> jobs;
  for (std::size_t k = 0; k < trackSelected_.size(); ++k)
    if (trackSelected_[k]) jobs.push_back({TrackNumber(static_cast<int>(k)), k + 1});
  // Nothing chosen: no question, no empty folder left behind.
  if (jobs.empty()) {
    TxtCDrip = "Please select AudioTrack(s)";
    return Changed(CddbControl::RipText);
  }
  const std::string drive = DriveText();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::vector<std::string> names = BuildRipNames(trackLines_, response_, local);
  if (response_.lines.empty() &&
      !ui_.AskYesNo("You don't read DiscID so I wil create default filenames. Continue?",
                    kRipButtonCaption))
    return;

  ++ripCounter_;
  const std::string folder = host_.programFolder + kRipFolderName + "/" + names[0] + "/";
  CreatePath(folder);
  ripFolder_ = folder;
  rippedFiles_.clear();
  const RipMode mode = ChkSecure ? RipMode::Secure : RipMode::Direct;
  auto progress = [this](int track, const std::string& d, float percent) {
    return RipProgress(track, d, percent);
  };
  int ripped = 0;
  for (const Job& job : jobs) {
    const std::string file = folder + names[job.line];
    if (RipTrack(drive, job.track, file, 0, -1, true, progress, true, mode)) {
      ++ripped;
      rippedFiles_.push_back(file);
    }
    // The main window's closing request ends the rip too, not only the
    // track: the tracks after it would each be begun and cut off.
    if (ripCounter_ < 1 || (host_.closingRequested && host_.closingRequested())) break;
  }
  TxtCDrip = std::to_string(ripped) + " AudioTrack(s) ripped";
  Changed(CddbControl::RipText);
  if (ripped > 0) ui_.OpenExternally(folder);
  if (ripCounter_ > 0) --ripCounter_;
}

}  // namespace velotag
