// WSKSOCK: the socket layer under the HTTP client. Blocking IPv4 TCP sockets
// with timed waits; every call reports failure as a result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velotag {

using Bytes = std::vector<std::uint8_t>;

// The user interface's event pump, called after every receive so that the
// window stays responsive during a transfer. May be empty.
using PumpFn = std::function<void()>;

// Marks the socket layer started for the process; false when it already was.
// Nothing needs initialising on Linux, so it cannot otherwise fail; the
// description names the socket implementation.
bool SocketStartup(std::string& description);
void SocketCleanup();
bool SocketStarted();

// poll on one socket; the result is poll's (1 ready, 0 timed out, -1 error).
int WaitWritable(int socket, int timeoutMs);
int WaitReadable(int socket, int timeoutMs);
bool SetBlocking(int socket, bool blocking);
bool SetKeepAlive(int socket);
// Sends until everything is gone, an error, or (timeLimitMs >= 0) the time
// for the whole send is up, so that a peer that takes our bytes one at a
// time cannot hold it; the count sent, -1 for no socket.
std::int64_t SendAll(int socket, const std::uint8_t* data, std::size_t size,
                     int timeLimitMs = -1);
// Waits up to timeoutMs for data, then takes what is there without waiting
// again. 0 when the peer closed, kReceiveTimedOut when nothing came in
// time, -1 on an error (a reset connection): a body that ends with the
// connection is whole only after a close.
inline constexpr int kReceiveTimedOut = -2;
int ReceiveAvailable(int socket, Bytes& bytes, int timeoutMs);
void CloseSocket(int socket);

// The IPv4 addresses of a host in dotted form separated by blanks (at most
// 11); a text that already is an address comes back unchanged;
// "255.255.255.255" when there is none.
std::string ResolveHost(const std::string& host);
// One of ResolveHost's addresses, chosen at random.
std::string PickHostAddress(const std::string& host);
// An address in network byte order, as dotted decimal.
std::string FormatIPv4(std::uint32_t address);

inline constexpr const char* kNoAddress = "255.255.255.255";

// Owns a socket; shuts it down and closes it when it goes out of scope.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(int fd) : fd_(fd) {}
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  ~SocketHandle() { reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) CloseSocket(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace velotag
