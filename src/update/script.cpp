#include "update/script.h"

#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

std::string WithBackslash(const std::string& folder) {
  return folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
}

}  // namespace

std::string QuoteIfNeeded(const std::string& text) {
  std::string t = TrimSpaces(text);
  if (t.empty()) return t;
  bool front = t.front() == '"', back = t.back() == '"';
  if (front && back) return t;
  if (t.find(' ') != std::string::npos || front != back) {
    if (!front) t.insert(0, "\"");
    if (!back) t.push_back('"');
  }
  return t;
}

std::string BuildUpgradeScript(const BatchScriptInput& in) {
  const std::string folder = WithBackslash(in.programFolder);
  const std::string runningExe = in.runningName + ".exe";
  std::vector<std::string> lines;
  if (!in.archiverFolder.empty()) {
    lines = {"@setlocal", "@echo off", "cd /d %~dp0",
             "set path=" + QuoteIfNeeded(WithBackslash(in.archiverFolder)) + ";%path%",
             "mkDir extracted", "winrar.exe e -o+ " + QuoteIfNeeded(in.archivePath) + " extracted"};
  } else if (in.systemExtracted) {
    lines = {"@echo off", "cd /d %~dp0"};
  } else {
    return {};
  }
  lines.insert(lines.end(), {"taskkill /F /IM " + runningExe,
                             "echo wscript.sleep 3000 > wait.vbs", "echo waiting 3 sec",
                             "wscript.exe wait.vbs", "del Wait.vbs",
                             "copy extracted\\*.* " + QuoteIfNeeded(folder),
                             "rmdir /S /Q extracted"});
  std::string newExe = TrimSpaces(in.newExeName);
  if (!newExe.empty() && !TextEquals(newExe, runningExe)) {
    lines.push_back("del /Q " + QuoteIfNeeded(folder + runningExe));
    lines.push_back("rename " + QuoteIfNeeded(folder + newExe) + " " + QuoteIfNeeded(runningExe));
  }
  lines.push_back("start " + (in.shortExePath.empty() ? folder + runningExe : in.shortExePath));
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return ToOemCentralEuropean(text);
}

std::string ShellQuote(const std::string& text) {
  return "'" + ReplaceAll(text, "'", "'\\''") + "'";
}

std::string BuildUpgradeShellScript(const ShellUpgradePlan& p) {
  // A name that is not one entry of the folder would make "$program$1" the
  // folder itself or something outside it.
  auto usable = [](const std::string& n) {
    return !n.empty() && n != "." && n != ".." && n.find('/') == std::string::npos;
  };
  std::vector<std::string> names;
  for (const std::string& n : p.names)
    if (usable(n)) names.push_back(n);
  const std::vector<std::string> copied = names;
  if (!usable(p.runningExeName)) return {};
  const bool rename = usable(p.newExeName) && p.newExeName != p.runningExeName;
  // The running executable is replaced too when the new one takes its name.
  bool listed = false;
  for (const std::string& n : names) listed = listed || n == p.runningExeName;
  if (rename && !listed) names.push_back(p.runningExeName);

  std::string s =
      "#!/bin/sh\n"
      "# Velotag upgrade, written by the program: replaces its files once it\n"
      "# has ended, and keeps the old ones when anything fails.\n"
      "pid=" + std::to_string(p.pid) + "\n"
      "started=" + ShellQuote(p.startTime) + "\n"
      "program=" + ShellQuote(p.programFolder) + "\n"
      "extracted=" + ShellQuote(p.extractedFolder) + "\n"
      "old=" + ShellQuote(p.backupFolder) + "\n"
      "exec >>" + ShellQuote(p.logFile) + " 2>&1 </dev/null\n"
      "echo \"$(date): upgrade\"\n"
      "\n"
      "# The process with this id and start time, not yet ended (a zombie has).\n"
      "running() {\n"
      "  stat=$(cat \"/proc/$pid/stat\" 2>/dev/null) || return 1\n"
      "  [ -n \"$started\" ] || return 0\n"
      "  set -- ${stat##*) }\n"
      "  [ \"$1\" != Z ] || return 1\n"
      "  shift 19\n"
      "  [ \"$1\" = \"$started\" ]\n"
      "}\n"
      "waited=0\n"
      "while running; do\n"
      "  if [ \"$waited\" -ge " + std::to_string(p.maxWaitSeconds) + " ]; then\n"
      "    echo \"the program did not end; nothing was replaced\"\n"
      "    exit 1\n"
      "  fi\n"
      "  sleep 1\n"
      "  waited=$((waited + 1))\n"
      "done\n"
      "sleep " + std::to_string(p.settleSeconds) + "\n"
      "\n"
      "present() { [ -e \"$1\" ] || [ -L \"$1\" ]; }\n"
      "keep() { ! present \"$program$1\" || cp -pPR -- \"$program$1\" \"$old$1\"; }\n"
      "put() { rm -rf -- \"$program$1\" && cp -pPR -- \"$extracted$1\" \"$program$1\"; }\n"
      "back() {\n"
      "  rm -rf -- \"$program$1\"\n"
      "  ! present \"$old$1\" || cp -pPR -- \"$old$1\" \"$program$1\"\n"
      "}\n"
      "restore() {\n"
      "  echo \"$1: the old program stays\"\n";
  for (const std::string& n : names) s += "  back " + ShellQuote(n) + "\n";
  s += "  rm -rf -- \"$old\"\n"
       "  exit 1\n"
       "}\n"
       "rm -rf -- \"$old\" && mkdir -p -- \"$old\" || { echo \"cannot make $old\"; exit 1; }\n";
  for (const std::string& n : names)
    s += "keep " + ShellQuote(n) + " || { echo \"cannot keep \"" + ShellQuote(n) +
         "; rm -rf -- \"$old\"; exit 1; }\n";
  for (const std::string& n : copied)
    s += "put " + ShellQuote(n) + " || restore \"cannot copy \"" + ShellQuote(n) + "\n";
  if (rename)
    s += "mv -f -- \"$program\"" + ShellQuote(p.newExeName) + " \"$program\"" +
         ShellQuote(p.runningExeName) + " || restore \"cannot rename \"" +
         ShellQuote(p.newExeName) + "\n";
  s += "rm -rf -- \"$extracted\" \"$old\"\n"
       "echo \"$(date): upgraded\"\n"
       "cd -- \"$program\" || exit 1\n"
       "\"$program\"" + ShellQuote(p.runningExeName);
  for (const std::string& a : p.restartArguments) s += " " + ShellQuote(a);
  s += " &\n";
  return s;
}

}  // namespace velotag
