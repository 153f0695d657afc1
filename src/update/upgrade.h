// The self-update commands' work: the version check against the home page
// and the preparation of an upgrade (verified download, unpacking, script).
// The caller owns the busy counter, the dialogs and the closing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "update/mirror.h"

namespace velotag {

// The home web host when none is configured. https, so that the checksum
// the home page publishes cannot be changed on the way.
inline constexpr const char* kDefaultUpdateHost = "https://velotag.hollowcrag.example";
inline constexpr const char* kHomePagePath = "/id3";
inline constexpr const char* kUpgradeScriptName = "upgrade.sh";
inline constexpr int kNetworkTimeoutMs = 8000;
// The home page is a few hundred bytes; a server sending without end must
// not fill the disk.
inline constexpr std::int64_t kMaxHomePageBytes = std::int64_t{1} << 20;

// "https://HOST[:PORT]" from the setting: empty gives the default, a bare
// HOST[:PORT] gets https, a trailing "/" is dropped. "" for another scheme.
std::string UpdateHomeUrl(const std::string& setting);
// The archive addresses on the home host, in the order they are tried.
std::vector<std::string> ArchiveUrls(const std::string& home);

struct UpdateSite {
  std::string home;            // as UpdateHomeUrl gives it
  std::string downloadFolder;  // exists, ending in "/"
  int timeoutMs = kNetworkTimeoutMs;
  DownloadFn download;
  std::function<void(const std::string&)> log;
};

// The home page's text; false when it could not be had, with the caption
// and " UNSUCCESSFUL..." or "File read error: " and the path logged.
bool FetchHomePage(const UpdateSite& site, const std::string& caption, std::string& page);

// "Check last version": reads the home page and logs what it says about
// localVersion; false when the page or its title could not be had, or the
// title's version would not compare.
bool CheckLastVersion(const UpdateSite& site, const std::string& caption,
                      const std::string& localVersion);

struct UpgradeTarget {
  std::string programFolder;   // where the executable lives, ending in "/"
  std::string runningExeName;  // its file name
  std::string newExeName = "velotag";  // the executable the archive holds
  std::vector<std::string> restartArguments;
  std::string logFile;         // where the script tells what it did
  long pid = 0;                // the process the script waits for
  int settleSeconds = 3;
};

enum class UpgradeOutcome {
  Failed,     // logged; nothing to do
  OfferFile,  // the file came but no script could be written: offer it to the user
  Prepared,   // the script is written; start it once the program has ended
};

struct UpgradeResult {
  UpgradeOutcome outcome = UpgradeOutcome::Failed;
  std::string archive;  // the downloaded file
  std::string script;   // the script written
};

// "AUTO Upgrade" up to the written script: the home page's checksum, the
// first mirror whose archive matches it, the archive unpacked into
// "extracted" in the download folder, and upgrade.sh beside it.
UpgradeResult PrepareUpgrade(const UpdateSite& site, const std::string& caption,
                             const UpgradeTarget& target);

// Starts the script with /bin/sh in its own session, without waiting;
// false when it could not be started.
bool StartUpgradeScript(const std::string& script);

// Field 22 of /proc/PID/stat, the start time that tells the process from a
// later one with the same id; "" when it cannot be read.
std::string ProcessStartTime(long pid);

// The program may replace its own files there: not a folder of the
// package manager's, and writable.
bool CanReplaceProgram(const std::string& folder);

}  // namespace velotag
