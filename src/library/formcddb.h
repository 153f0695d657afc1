// FormCDDB: the CD window ("CD-Rip & CDDB") without a widget. It lists the
// drives and the disc's tracks, looks the disc up on a CDDB server or the
// MusicBrainz web service, and rips the selected audio tracks into WAV files
// named from the record read last.
// The window binds its controls to the state held here and calls the
// handlers; the command line drives the same handlers.
#pragma once

#include <array>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "cdaudio/drives.h"
#include "cdaudio/rip.h"
#include "library/settings.h"
#include "library/statuslog.h"
#include "library/ui.h"
#include "online/cddb.h"
#include "online/musicbrainz.h"

namespace velotag {

// CmdCDDB, the CD window's buttons.
enum CddbCommand : int {
  kCddbRefresh = 0, kCddbQuery = 1, kCddbRead = 2, kCddbSelInvert = 3, kCddbSelAll = 4,
  kCddbStop = 5, kCddbRip = 6, kCddbCommandCount = 7
};

// What changed under the window.
enum class CddbControl { Drives, Tracks, Matches, Record, Answers, Lookup, RipText };

inline constexpr const char* kRipButtonCaption = "RIP selected";
inline constexpr const char* kRipFolderName = "CDRIP";

// What the CD window borrows from the main window.
struct FormCDDBHost {
  std::string programFolder;   // with a trailing "/"; the rips go below it
  // The servers (the CDDB server, the MusicBrainz service) and the e-mail address.
  Settings* settings = nullptr;
  // The main window's closing request: a rip ends when it is set.
  std::function<bool()> closingRequested;
  std::function<void(CddbControl)> changed;
  // Replaces the CDDB server (the command line's --cddb-server).
  std::string serverOverride;
  std::string clientVersion;  // major.minor; empty: this program's
};

class FormCDDB {
 public:
  FormCDDB(UserInterface& ui, FormCDDBHost host);

  void Form_Load();
  // Closing the window presses STOP.
  void Form_Unload();
  void CmdCDDB_Click(int index);
  // A drive chosen in the drive box: close its tray, list its tracks.
  void CmbDrives_Click(int index);
  void LstCDDB_Click(int list, int row);
  // A device or image file not listed by the system, added to the drive
  // box and chosen.
  void AddDrive(const std::string& source);
  void SetTrackSelected(int row, bool selected);

  // The drive box: "drive identifier" lines and the entry chosen (-1 none).
  const std::vector<std::string>& DriveBox() const { return driveBox_; }
  int DriveIndex() const { return driveIndex_; }
  // The device or image of the chosen entry; "" when the box is empty.
  std::string DriveText() const;
  const std::vector<std::string>& TrackLines() const { return trackLines_; }
  const std::vector<bool>& TrackSelection() const { return trackSelected_; }
  // The disc's track number of track line row.
  int TrackNumber(int row) const { return firstTrack_ + row; }

  // "FreeDB" asks the CDDB server, "MusicBrainz" the MusicBrainz web service.
  static const std::array<const char*, 2>& ServerBoxEntries();
  // Categories in alphabetical order, as the category box lists them.
  static std::vector<std::string> CategoryBoxEntries();
  std::string CmbServer = "FreeDB";
  std::string CmbCategories;
  std::string TxtCDDBdiscid;
  std::array<std::string, 2> TxtCDDB;      // the query's and the read's answer
  std::array<std::string, 2> TxtCDDBread;  // key and value of the record line chosen
  std::string TxtCDrip;
  bool ChkSecure = true;  // error-corrected reads
  std::string& Email();

  const StatusLog& LstCDDB(int list) const { return lstCDDB_[list == 1 ? 1 : 0]; }
  int LstCDDBIndex(int list) const { return lstCDDBIndex_[list == 1 ? 1 : 0]; }
  // The last CDDB answer, or the record of the MusicBrainz release chosen.
  const CddbResponse& Response() const { return response_; }
  // The last MusicBrainz lookup: its status, its line for the answer box,
  // and the releases the match list shows.
  const MbLookup& MusicBrainzAnswer() const { return lookup_; }
  int RipCounter() const { return ripCounter_; }
  // The WAV files the last rip completed, and its folder.
  const std::vector<std::string>& RippedFiles() const { return rippedFiles_; }
  const std::string& RipFolder() const { return ripFolder_; }

 private:
  void Refresh();
  void Query();
  void Read();
  void Rip();
  void Stop();
  void QueryMusicBrainz(const std::string& drive);
  void ChooseRelease(std::size_t index);
  // A record (a CDDB read's answer, or a release) in the record list.
  void ShowRecord(CddbResponse record);
  CddbClient Client() const;
  bool UsesMusicBrainz() const;
  void AddListLine(int list, const std::string& text);
  void ClearList(int list);
  void Changed(CddbControl what);
  bool RipProgress(int track, const std::string& drive, float percent);

  UserInterface& ui_;
  FormCDDBHost host_;
  Settings ownSettings_;
  std::vector<CdDrive> drives_;
  std::vector<std::string> driveBox_;
  int driveIndex_ = -1;
  std::vector<std::string> trackLines_;
  std::vector<bool> trackSelected_;
  int firstTrack_ = 1;
  std::array<StatusLog, 2> lstCDDB_;
  std::array<int, 2> lstCDDBIndex_{-1, -1};
  CddbResponse response_;
  // One client for the window's life keeps to the service's pace.
  MusicBrainzClient musicBrainz_;
  MbLookup lookup_;
  bool lookupRunning_ = false;
  bool lookupStopped_ = false;
  int ripCounter_ = 0;
  std::vector<std::string> rippedFiles_;
  std::string ripFolder_;
};

// "AudioTrack01 [ 00:03:45 ]" for track line k (1-based) of toc; the type
// word is " DataTrack" for a data track.
std::string TrackListLine(const std::vector<TocEntry>& toc, int k, int trackNumber);
// The query command for the disc in drive; empty when its TOC cannot be read.
std::string CddbQueryCommand(const std::string& drive);
// ripNames: entry 0 the rip folder's name, entry k the file of track line k,
// from the track lines or the CDDB record. Every name stays inside the
// folder it is joined to.
std::vector<std::string> BuildRipNames(const std::vector<std::string>& trackLines,
                                       const CddbResponse& record, const std::tm& now);
// "[ /dev/sr0 ] [ Track01 ] [  33.33333 % ]".
std::string RipProgressText(const std::string& drive, int track, float percent);

}  // namespace velotag
