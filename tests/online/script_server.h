// Starts tests/tools/http_script_server.py on 127.0.0.1 for one test and
// stops it at the end; the requests it saw are read back from its log.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "testutil.h"

namespace velotag::test {

class ScriptServer {
 public:
  // With a certificate and key the server speaks TLS; with a root folder,
  // paths naming files below it answer with those files.
  explicit ScriptServer(const std::string& logFile, const std::string& cert = "",
                        const std::string& key = "", const std::string& root = "");
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  // "127.0.0.1:port", as a HOST[:PORT] setting names it.
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  // "http://127.0.0.1:port" (or https).
  std::string base() const;
  std::string url(const std::string& path) const { return base() + path; }
  // The requests logged so far, oldest first: path, body and raw bytes.
  std::vector<Json> Requests() const;

 private:
  std::string log_;
  bool tls_ = false;
  int pid_ = -1;
  int channel_ = -1;
  int port_ = 0;
};

// A self-signed certificate for 127.0.0.1, made by openssl: folder + name + ".pem" and ".key".
bool MakeCertificate(const std::string& folder, const std::string& name);

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace velotag::test
