// The upgrade scripts, as pure text: the Windows batch file the program was
// first written for, and the /bin/sh script that does the same on Linux.
#pragma once

#include <string>
#include <vector>

namespace velotag {

// Trimmed; a text with a blank gets the double quotes it lacks at either
// end, one without a blank that has a quote at one end only gets the other.
std::string QuoteIfNeeded(const std::string& text);

struct BatchScriptInput {
  std::string archivePath;
  std::string programFolder;
  std::string newExeName;      // the executable the archive holds, "Velotag.exe"
  std::string runningName;     // the running executable's name without ".exe"
  std::string archiverFolder;  // the folder holding winrar.exe; "" when there is none
  bool systemExtracted = false;  // unpacked into "extracted" beside the archive already
  std::string shortExePath;    // the 8.3 form of the running executable's path
};

// "upgrade.bat" in code page 852 (each byte carried as its ISO-8859-1
// character), lines ending in CR LF; "" when the archive cannot be unpacked
// (no archiver, nothing extracted).
std::string BuildUpgradeScript(const BatchScriptInput& input);

// The text as one /bin/sh word, whatever it holds.
std::string ShellQuote(const std::string& text);

struct ShellUpgradePlan {
  std::string programFolder;    // where the program's files are replaced, ending in "/"
  std::string extractedFolder;  // the unpacked archive, ending in "/"
  std::string backupFolder;     // the old files while copying, ending in "/"
  std::string logFile;          // what the script did
  std::vector<std::string> names;  // the entries at the top of extractedFolder
  std::string newExeName;       // the executable in the archive
  std::string runningExeName;   // the running executable's file name
  std::vector<std::string> restartArguments;
  long pid = 0;                 // the process to wait for
  std::string startTime;        // its start time (/proc/PID/stat field 22); "" unknown
  int settleSeconds = 3;
  int maxWaitSeconds = 300;     // then the script gives up and changes nothing
};

// "upgrade.sh": waits until the process has ended (by its id and start time,
// so that a reused id or another user's instance is never waited on or
// touched), lets it settle, copies the old files aside, copies the new ones
// over the program folder, renames the new executable when its name
// differs, puts the old files back when any step fails, and starts the
// program again.
std::string BuildUpgradeShellScript(const ShellUpgradePlan& plan);

}  // namespace velotag
