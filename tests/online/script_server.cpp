#include "script_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace velotag::test {

ScriptServer::ScriptServer(const std::string& logFile, const std::string& cert,
                           const std::string& key, const std::string& root)
    : log_(logFile), tls_(!cert.empty()) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
  stdinFd_ = in[1];  // the server leaves when this closes
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<std::string> argv = {PythonPath(), ToolPath("http_script_server.py"), "--log", log_};
  if (tls_) argv.insert(argv.end(), {"--tls", cert, key});
  if (!root.empty()) argv.insert(argv.end(), {"--root", root});
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  // The first line says where it listens; none comes if it failed to start.
  FILE* reader = ::fdopen(out[0], "r");
  char line[64] = "";
  if (pid_ > 0 && std::fgets(line, sizeof line, reader) && std::strncmp(line, "PORT ", 5) == 0)
    port_ = std::atoi(line + 5);
  std::fclose(reader);
}

ScriptServer::~ScriptServer() {
  if (stdinFd_ >= 0) ::close(stdinFd_);
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string ScriptServer::base() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
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
