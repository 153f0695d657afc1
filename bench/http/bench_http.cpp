// Downloads a 100 MB file from a loopback server with HttpDownload and with
// curl, alternating, and prints the median times and their ratio. The server
// runs in this process on 127.0.0.1 and answers plain (Content-Length) or
// chunked bodies.
//
// Usage: bench_http [size in MB (100)] [rounds (5)]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "online/http.h"

extern char** environ;

namespace {

std::vector<std::uint8_t> gBody;
std::string gBodyFile;

bool SendAllBytes(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void Serve(int conn) {
  std::string request;
  char buf[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    ssize_t n = ::recv(conn, buf, sizeof buf, 0);
    if (n <= 0) return;
    request.append(buf, static_cast<std::size_t>(n));
  }
  bool chunked = request.rfind("GET /chunked", 0) == 0;
  if (!chunked) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(gBody.size()) +
                       "\r\nConnection: close\r\n\r\n";
    if (!SendAllBytes(conn, head.data(), head.size())) return;
    int fd = ::open(gBodyFile.c_str(), O_RDONLY);
    off_t offset = 0;
    while (offset < static_cast<off_t>(gBody.size())) {
      ssize_t n = ::sendfile(conn, fd, &offset, gBody.size() - static_cast<std::size_t>(offset));
      if (n <= 0) break;
    }
    ::close(fd);
    return;
  }
  std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  if (!SendAllBytes(conn, head.data(), head.size())) return;
  const std::size_t piece = 65536;
  for (std::size_t at = 0; at < gBody.size(); at += piece) {
    std::size_t n = std::min(piece, gBody.size() - at);
    char line[32];
    int len = std::snprintf(line, sizeof line, "%zx\r\n", n);
    iovec iov[3] = {{line, static_cast<std::size_t>(len)},
                    {gBody.data() + at, n},
                    {const_cast<char*>("\r\n"), 2}};
    std::size_t total = static_cast<std::size_t>(len) + n + 2;
    while (total > 0) {
      ssize_t w = ::writev(conn, iov, 3);
      if (w <= 0) return;
      total -= static_cast<std::size_t>(w);
      // Advance the vector past what went out.
      std::size_t done = static_cast<std::size_t>(w);
      for (iovec& v : iov) {
        std::size_t k = std::min(done, v.iov_len);
        v.iov_base = static_cast<char*>(v.iov_base) + k;
        v.iov_len -= k;
        done -= k;
      }
    }
  }
  SendAllBytes(conn, "0\r\n\r\n", 5);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double RunCurl(const std::string& url, const std::string& out) {
  std::vector<std::string> argv = {"curl", "-s", "-o", out, url};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "curl", nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  double s = Seconds(std::chrono::steady_clock::now() - start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

double RunOurs(const std::string& url, const std::string& out) {
  std::string u = url, local = out, cookies;
  bool keepGoing = true;
  auto start = std::chrono::steady_clock::now();
  bool ok = velotag::HttpDownload(u, local, 30000, 5, keepGoing, true, -1, "", cookies, "");
  double s = Seconds(std::chrono::steady_clock::now() - start);
  return ok ? s : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velotag-bench-XXXXXX";
  if (!::mkdtemp(pattern.data())) return 1;
  std::string dir = pattern + "/";

  gBody.resize(megabytes << 20);
  std::uint32_t x = 2463534242u;
  for (std::uint8_t& b : gBody) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  gBodyFile = dir + "body.bin";
  int fd = ::open(gBodyFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, gBody.data(), gBody.size()) != static_cast<ssize_t>(gBody.size()))
    return 1;
  ::close(fd);

  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return 1;
  std::thread server([listener] {
    for (;;) {
      int conn = ::accept(listener, nullptr, nullptr);
      if (conn < 0) return;
      std::thread([conn] {
        Serve(conn);
        ::shutdown(conn, SHUT_WR);
        char sink[256];
        while (::recv(conn, sink, sizeof sink, 0) > 0) {
        }
        ::close(conn);
      }).detach();
    }
  });
  server.detach();

  std::string base = "http://127.0.0.1:" + std::to_string(ntohs(sa.sin_port));
  std::printf("HttpDownload vs curl, %zu MB from 127.0.0.1, median of %d rounds\n", megabytes,
              rounds);
  int failures = 0;
  for (const char* kind : {"plain", "chunked"}) {
    std::string url = base + "/" + kind;
    std::vector<double> ours, curl;
    for (int r = 0; r < rounds; ++r) {
      std::string a = dir + "ours.bin", b = dir + "curl.bin";
      double t1 = RunOurs(url, a);
      bool okA = t1 > 0 && SizeOf(a) == static_cast<off_t>(gBody.size());
      double t2 = RunCurl(url, b);
      bool okB = t2 > 0 && SizeOf(b) == static_cast<off_t>(gBody.size());
      ::unlink(a.c_str());
      ::unlink(b.c_str());
      if (!okA || !okB) {
        std::printf("  %s round %d failed (ours %s, curl %s)\n", kind, r, okA ? "ok" : "FAILED",
                    okB ? "ok" : "FAILED");
        ++failures;
        continue;
      }
      ours.push_back(t1);
      curl.push_back(t2);
    }
    if (ours.empty()) continue;
    double mo = Median(ours), mc = Median(curl);
    double mb = static_cast<double>(megabytes);
    std::printf("  %-8s HttpDownload %7.3f s (%6.0f MB/s)   curl %7.3f s (%6.0f MB/s)   ratio %.2f\n",
                kind, mo, mb / mo, mc, mb / mc, mo / mc);
  }
  ::unlink(gBodyFile.c_str());
  ::rmdir(pattern.c_str());
  return failures == 0 ? 0 : 1;
}
