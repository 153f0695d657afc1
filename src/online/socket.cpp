#include "online/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>
#include <sstream>

namespace velotag {

namespace {

// The one piece of process state the socket layer has.
bool gSocketsStarted = false;

// One recv call takes at most this much; ReceiveAvailable goes on while the
// calls come back full, up to kReceiveLimit, so the pump is never starved.
constexpr std::size_t kReceiveBlock = 65536;
constexpr std::size_t kReceiveLimit = 1 << 20;
constexpr int kMaxAddresses = 11;

int WaitFor(int socket, short events, int timeoutMs) {
  if (socket < 0) return -1;
  pollfd p{socket, events, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, std::max(timeoutMs, 0));
  } while (rc < 0 && errno == EINTR);
  return rc;
}

}  // namespace

bool SocketStartup(std::string& description) {
  if (gSocketsStarted) return false;
  gSocketsStarted = true;
  description = "BSD sockets (IPv4, TCP)";
  return true;
}

void SocketCleanup() { gSocketsStarted = false; }

bool SocketStarted() { return gSocketsStarted; }

int WaitWritable(int socket, int timeoutMs) { return WaitFor(socket, POLLOUT, timeoutMs); }

int WaitReadable(int socket, int timeoutMs) { return WaitFor(socket, POLLIN, timeoutMs); }

bool SetBlocking(int socket, bool blocking) {
  int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(socket, F_SETFL, flags) == 0;
}

bool SetKeepAlive(int socket) {
  int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
}

std::int64_t SendAll(int socket, const std::uint8_t* data, std::size_t size, int timeLimitMs) {
  if (socket < 0) return -1;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeLimitMs, 0));
  std::size_t sent = 0;
  while (sent < size) {
    int flags = MSG_NOSIGNAL;  // a peer that went away is an error result, not SIGPIPE
    if (timeLimitMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || WaitWritable(socket, static_cast<int>(left.count())) < 1) break;
      flags |= MSG_DONTWAIT;
    }
    ssize_t n = ::send(socket, data + sent, size - sent, flags);
    // Without a time limit the socket's own send time-out ends a stalled send.
    if (n < 0 && (errno == EINTR ||
                  (timeLimitMs >= 0 && (errno == EAGAIN || errno == EWOULDBLOCK))))
      continue;
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(sent);
}

int ReceiveAvailable(int socket, Bytes& bytes, int timeoutMs) {
  bytes.clear();
  if (int ready = WaitReadable(socket, timeoutMs); ready < 1)
    return ready == 0 ? kReceiveTimedOut : -1;
  int flags = 0;
  while (bytes.size() < kReceiveLimit) {
    std::size_t old = bytes.size();
    bytes.resize(old + kReceiveBlock);
    ssize_t n;
    do {
      n = ::recv(socket, bytes.data() + old, kReceiveBlock, flags);
    } while (n < 0 && errno == EINTR);
    bytes.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      if (bytes.empty()) return -1;
      break;
    }
    if (static_cast<std::size_t>(n) < kReceiveBlock) break;
    // Later calls must not wait: a peer that falls silent right after a full
    // block would otherwise hold the transfer with no time-out at all.
    flags = MSG_DONTWAIT;
  }
  return static_cast<int>(bytes.size());
}

void CloseSocket(int socket) {
  if (socket < 0) return;
  ::shutdown(socket, SHUT_RDWR);
  ::close(socket);
}

std::string FormatIPv4(std::uint32_t address) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = address;
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

std::string ResolveHost(const std::string& host) {
  in_addr literal{};
  if (!host.empty() && ::inet_aton(host.c_str(), &literal) != 0) return host;
  if (host.empty()) return kNoAddress;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
    return kNoAddress;
  std::vector<std::string> found;
  for (addrinfo* ai = list; ai != nullptr && static_cast<int>(found.size()) < kMaxAddresses;
       ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
    std::string dotted =
        FormatIPv4(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
    if (std::find(found.begin(), found.end(), dotted) == found.end()) found.push_back(dotted);
  }
  ::freeaddrinfo(list);
  if (found.empty()) return kNoAddress;
  std::string out;
  for (const std::string& a : found) out += (out.empty() ? "" : " ") + a;
  return out;
}

std::string PickHostAddress(const std::string& host) {
  std::istringstream in(ResolveHost(host));
  std::vector<std::string> addresses;
  for (std::string a; in >> a;) addresses.push_back(a);
  if (addresses.empty()) return kNoAddress;
  if (addresses.size() == 1) return addresses[0];
  std::random_device rd;
  std::uniform_int_distribution<std::size_t> pick(0, addresses.size() - 1);
  return addresses[pick(rd)];
}

}  // namespace velotag
