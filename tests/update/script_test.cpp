#include "update/script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/paths.h"
#include "support/textenc.h"
#include "testutil.h"
#include "update/upgrade.h"

namespace velotag {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileText;

TEST(QuoteIfNeeded, AddsTheMissingQuotes) {
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"  a b ", "\"a b\""}, {"\"a b\"", "\"a b\""}, {"\"a b", "\"a b\""},
           {"a b\"", "\"a b\""},   {"ab", "ab"},             {"\"ab", "\"ab\""},
           {"ab\"", "\"ab\""},     {"a\"b", "a\"b"},         {"", ""}}) {
    EXPECT_EQ(QuoteIfNeeded(in), out) << in;
  }
}

BatchScriptInput WinrarInput() {
  BatchScriptInput in;
  in.archivePath = "C:\\Program Files\\Velotag\\Velotag\\Velotag.zip";
  in.programFolder = "C:\\Program Files\\Velotag";
  in.newExeName = "Velotag.exe";
  in.runningName = "Velotag";
  in.archiverFolder = "C:\\Program Files\\WinRAR\\";
  in.shortExePath = "C:\\PROGRA~1\\Velotag\\Velotag.exe";
  return in;
}

TEST(BatchScript, WinrarText) {
  EXPECT_EQ(BuildUpgradeScript(WinrarInput()),
            "@setlocal\r\n@echo off\r\ncd /d %~dp0\r\n"
            "set path=\"C:\\Program Files\\WinRAR\\\";%path%\r\nmkDir extracted\r\n"
            "winrar.exe e -o+ \"C:\\Program Files\\Velotag\\Velotag\\Velotag.zip\" extracted\r\n"
            "taskkill /F /IM Velotag.exe\r\necho wscript.sleep 3000 > wait.vbs\r\n"
            "echo waiting 3 sec\r\nwscript.exe wait.vbs\r\ndel Wait.vbs\r\n"
            "copy extracted\\*.* \"C:\\Program Files\\Velotag\\\"\r\nrmdir /S /Q extracted\r\n"
            "start C:\\PROGRA~1\\Velotag\\Velotag.exe\r\n");
}

TEST(BatchScript, RenameLinesOnlyWhenTheNamesDiffer) {
  const std::string del = "del /Q \"C:\\Program Files\\Velotag\\Velotag.exe\"\r\n";
  const std::string rename =
      "rename \"C:\\Program Files\\Velotag\\VelotagNew.exe\" Velotag.exe\r\n";
  for (const auto& [newExe, renamed] : std::vector<std::pair<std::string, bool>>{
           {"Velotag.exe", false}, {"vELOTAG.EXE", false}, {"", false},
           {" VelotagNew.exe ", true}}) {
    BatchScriptInput in = WinrarInput();
    in.newExeName = newExe;
    in.archiverFolder.clear();
    in.systemExtracted = true;
    std::string text = BuildUpgradeScript(in);
    EXPECT_EQ(text.rfind("@echo off\r\ncd /d %~dp0\r\ntaskkill", 0), 0u) << text;
    EXPECT_EQ(text.find(del + rename) != std::string::npos, renamed) << newExe;
    EXPECT_EQ(text.find("rename") != std::string::npos, renamed) << newExe;
  }
  BatchScriptInput none = WinrarInput();
  none.archiverFolder.clear();
  EXPECT_EQ(BuildUpgradeScript(none), "");  // nothing can unpack the archive
}

TEST(BatchScript, TextIsCodePage852) {
  BatchScriptInput in = WinrarInput();
  in.programFolder = "C:\\Zenék\\Új mappa";
  Bytes bytes = StringToAnsi(BuildUpgradeScript(in));
  std::string raw(bytes.begin(), bytes.end());
  EXPECT_NE(raw.find("copy extracted\\*.* \"C:\\Zen\x82k\\\xE9j mappa\\\"\r\n"), std::string::npos);
}

// The script run for real by /bin/sh on a program folder whose name needs
// every kind of quoting.
class ShellScript : public ::testing::Test {
 protected:
  void Prepare(const std::string& tag) {
    program = dir.path() + tag + "it's a \"q\" $HOME `id` \\/";
    extracted = dir.path() + tag + "dl/extracted/";
    backup = dir.path() + tag + "dl/old/";
    ASSERT_TRUE(test::RunProcess({"mkdir", "-p", program + "lib", extracted + "lib"}).exitCode == 0);
    WriteFileText(program + "lib/x", "old lib");
    WriteFileText(program + "keep.txt", "not in the archive");
    WriteFileText(extracted + "lib/x", "new lib");
    Program(extracted + "velotag", "new");
  }
  // An executable that notes it was started, and with what.
  static void Program(const std::string& path, const std::string& which) {
    WriteFileText(path, "#!/bin/sh\necho \"" + which + " $*\" > \"$(dirname \"$0\")/started\"\n");
    ::chmod(path.c_str(), 0755);
  }
  ShellUpgradePlan Plan(const std::string& running) {
    ShellUpgradePlan p;
    p.programFolder = program;
    p.extractedFolder = extracted;
    p.backupFolder = backup;
    p.logFile = dir.path() + "upgrade.log";
    p.names = {"velotag", "lib"};
    p.newExeName = "velotag";
    p.runningExeName = running;
    p.restartArguments = {"--a b"};
    // This process, but started at another time: its id was reused.
    p.pid = ::getpid();
    p.startTime = "1";
    p.settleSeconds = 0;
    return p;
  }
  int Run(const ShellUpgradePlan& plan) {
    WriteFileText(dir.path() + "upgrade.sh", BuildUpgradeShellScript(plan));
    return test::RunProcess({"/bin/sh", dir.path() + "upgrade.sh"}).exitCode;
  }
  std::string Text(const std::string& name) {
    Bytes b = ReadFileBytes(program + name);
    return std::string(b.begin(), b.end());
  }
  std::string Started() {
    for (int i = 0; i < 100 && GetPathType(program + "started") != kPathFile; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return GetPathType(program + "started") == kPathFile ? Text("started") : "";
  }
  std::string Log() {
    Bytes b = ReadFileBytes(dir.path() + "upgrade.log");
    return std::string(b.begin(), b.end());
  }
  TempDir dir;
  std::string program, extracted, backup;
};

TEST_F(ShellScript, ReplacesRenamesAndRestarts) {
  for (const std::string running : {"velotag", "velotag 2"}) {
    SCOPED_TRACE(running);
    Prepare(running);
    Program(program + running, "old");
    std::string script = BuildUpgradeShellScript(Plan(running));
    EXPECT_EQ(script.find("mv -f") != std::string::npos, running != "velotag");
    ASSERT_EQ(Run(Plan(running)), 0) << Log();
    EXPECT_EQ(Started(), "new --a b\n");
    EXPECT_EQ(Text("lib/x"), "new lib");
    EXPECT_EQ(Text("keep.txt"), "not in the archive");
    EXPECT_NE(Text(running).find("new"), std::string::npos);
    // The new executable took the running one's name.
    EXPECT_EQ(GetPathType(program + "velotag"), running == "velotag" ? kPathFile : kPathMissing);
    EXPECT_EQ(GetPathType(extracted), kPathMissing);
    EXPECT_EQ(GetPathType(backup), kPathMissing);
  }
}

TEST_F(ShellScript, AFailedCopyPutsTheOldProgramBack) {
  Prepare("");
  Program(program + "velotag", "old");
  ShellUpgradePlan plan = Plan("velotag");
  plan.names = {"velotag", "lib", "missing"};  // the last copy fails
  EXPECT_EQ(Run(plan), 1);
  EXPECT_NE(Log().find("cannot copy missing: the old program stays"), std::string::npos) << Log();
  EXPECT_NE(Text("velotag").find("old"), std::string::npos);
  EXPECT_EQ(Text("lib/x"), "old lib");
  EXPECT_EQ(GetPathType(program + "missing"), kPathMissing);
  EXPECT_EQ(GetPathType(program + "started"), kPathMissing);
}

TEST_F(ShellScript, ChangesNothingWhileTheProgramRuns) {
  Prepare("");
  Program(program + "velotag", "old");
  ShellUpgradePlan plan = Plan("velotag");
  plan.startTime = ProcessStartTime(::getpid());
  plan.maxWaitSeconds = 1;
  EXPECT_EQ(Run(plan), 1);
  EXPECT_NE(Log().find("the program did not end; nothing was replaced"), std::string::npos);
  EXPECT_NE(Text("velotag").find("old"), std::string::npos);
  EXPECT_EQ(Text("lib/x"), "old lib");
}

}  // namespace
}  // namespace velotag
