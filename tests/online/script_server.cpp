#include "script_server.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

extern char** environ;

namespace velotag::test {

ScriptServer::ScriptServer(const std::string& logFile, const std::string& cert,
                           const std::string& key, const std::string& root)
    : log_(logFile), tls_(!cert.empty()) {
  // One socket is the server's input and output: it says where it listens
  // on it, and leaves when our end closes.
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
  channel_ = ends[0];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  std::vector<std::string> argv = {PythonPath(), ToolPath("http_script_server.py"), "--log", log_};
  if (tls_) argv.insert(argv.end(), {"--tls", cert, key});
  if (!root.empty()) argv.insert(argv.end(), {"--root", root});
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  // None comes if it failed to start.
  std::string line;
  for (char c; pid_ > 0 && line.size() < 64 && ::read(channel_, &c, 1) == 1 && c != '\n';) line += c;
  if (line.starts_with("PORT ")) port_ = std::atoi(line.c_str() + 5);
}

ScriptServer::~ScriptServer() {
  if (channel_ >= 0) ::close(channel_);
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string ScriptServer::base() const {
  return std::string(tls_ ? "https://" : "http://") + hostPort();
}

std::vector<Json> ScriptServer::Requests() const {
  std::vector<Json> out;
  std::ifstream f(log_);
  for (std::string line; std::getline(f, line);)
    if (!line.empty()) out.push_back(ParseJson(line));
  return out;
}

bool MakeCertificate(const std::string& folder, const std::string& name) {
  return RunProcess({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-days", "2", "-keyout", folder + name + ".key", "-out", folder + name + ".pem",
                     "-subj", "/CN=velotag test", "-addext", "subjectAltName=IP:127.0.0.1"})
             .exitCode == 0;
}

}  // namespace velotag::test
