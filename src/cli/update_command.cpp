// `update check|upgrade|erase`: the window's three self-update buttons. An
// upgrade that was prepared starts its script as the command ends, as the
// window starts it when it closes.
#include <array>

#include "commands.h"
#include "console_ui.h"
#include "library/form1.h"
#include "support/paths.h"
#include "update/upgrade.h"

namespace velotag::cli {

namespace {

// By CmdUpdate index.
constexpr std::array<const char*, kUpdateCommandCount> kActions = {"upgrade", "check", "erase"};

int Usage(CommandContext& context, const std::string& message) {
  context.console.PrintError("velotag-cli: " + message +
                             "\nTry 'velotag-cli --help' for more information.\n");
  return kExitUsage;
}

}  // namespace

int RunUpdate(CommandContext& context) {
  int index = -1;
  for (int i = 0; i < kUpdateCommandCount; ++i)
    if (context.arguments.at(0) == kActions[static_cast<std::size_t>(i)]) index = i;
  if (index < 0) return Usage(context, "update takes check, upgrade or erase");
  if (!context.paths.empty()) return Usage(context, "update takes no PATH");
  const std::string& server = context.options.updateServer;
  if (!server.empty() && UpdateHomeUrl(server).empty())
    return Usage(context, "--update-server takes an https:// or http:// address");

  // The settings' names are the window's; the files an upgrade replaces
  // are where this executable lies.
  AppPaths paths = AppPaths::ForThisProcess();
  paths.ExeName = "velotag";
  if (!context.options.home.empty()) paths.ProgramFolder = WithTrailingSlash(context.options.home);
  ConsoleUI ui(context.console, context.options.yes);
  Form1 form(ui, paths, nullptr);
  ui.SetStop([&form] { form.CmdSTOP_Click(); });
  form.Options().Servers.Update = server;
  form.SetUpgradeProgram("velotag-cli", {"--version"});
  bool failed = !form.RunUpdate(index) || ui.Refused() || ui.Failed();
  if (index == kCmdAutoUpgrade) {
    const std::string script = form.DownloadFolder() + kUpgradeScriptName;
    if (form.UpgradeMarker().empty()) {
      failed = true;
    } else if (form.StartPreparedUpgrade()) {
      context.console.Print(script + "\n");
    } else {
      context.console.FileFailed("Can't start " + script);
      failed = true;
    }
  }
  if (failed) return kExitFailed;
  return context.console.OutputFailed() ? kExitFailed : kExitDone;
}

}  // namespace velotag::cli
