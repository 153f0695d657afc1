#include "online/http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "online/tls.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kDefaultMinBodyBytesPerSecond = 512;

bool IsControl(char c) {
  auto b = static_cast<unsigned char>(c);
  return b < 32 || b == 127;
}

// The caller's cookie lines as they go out: only "Cookie:" lines, and none
// holding a control character; any other line would be a header of the
// caller's own (an empty one would end the header).
std::string CleanCookieLines(const std::string& lines) {
  std::string out;
  std::size_t pos = 0;
  while (pos < lines.size()) {
    std::size_t eol = lines.find("\r\n", pos);
    if (eol == std::string::npos) eol = lines.size();
    std::string line = lines.substr(pos, eol - pos);
    pos = eol + 2;
    if (StartsWithNoCase(line, "Cookie:") && std::none_of(line.begin(), line.end(), IsControl))
      out += line + "\r\n";
  }
  return out;
}

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Connects with a time-out; the socket is blocking again afterwards.
bool ConnectWithTimeout(int fd, const sockaddr_in& address, int timeoutMs) {
  bool nonBlocking = SetBlocking(fd, false);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR && !nonBlocking);
  if (!nonBlocking) return rc == 0;
  if (rc != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return false;
    if (WaitWritable(fd, timeoutMs) < 1) return false;
    // Writable also means "failed": ask which.
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return false;
  }
  return SetBlocking(fd, true);
}

void SetSendTimeout(int fd, int timeoutMs) {
  timeval tv{};
  tv.tv_sec = std::max(timeoutMs, 0) / 1000;
  tv.tv_usec = (std::max(timeoutMs, 0) % 1000) * 1000;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

Bytes BuildHttpRequest(const RequestTarget& target, const std::string& postBody,
                       const std::string& cookieLines, const std::string& userAgent) {
  std::string ua = ReplaceAll(userAgent, "\r\n", " ");
  std::replace_if(ua.begin(), ua.end(), IsControl, ' ');
  ua = TrimSpaces(ua);
  if (ua.empty()) ua = kDefaultUserAgent;
  bool post = !postBody.empty();
  std::string request = (post ? "POST " : "GET ") + target.path + " HTTP/1.1\r\n";
  request += "Pragma: no-cache\r\n";
  request += "Accept: */*\r\n";
  request += "Host: " + target.hostPart + "\r\n";
  request += "User-Agent: " + ua + "\r\n";
  if (!target.credentials.empty())
    request += "Authorization: Basic " + Base64Encode(target.credentials) + "\r\n";
  request += CleanCookieLines(cookieLines);
  request += "Connection: Close\r\n";
  Bytes body = StringToAnsi(postBody);
  if (post) {
    request += "Content-type: application/x-www-form-urlencoded\r\n";
    request += "Content-length: " + std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n";
  Bytes wire = StringToAnsi(request);
  wire.insert(wire.end(), body.begin(), body.end());
  return wire;
}

namespace {

// Where the answer goes: the caller's file, or in the caller's folder (a
// path ending in "/", made when missing) the URL's file name, "temp.html"
// made unique when it has none. "" when the folder cannot be made.
std::string AnswerFile(const std::string& localPath, const RequestTarget& target) {
  if (localPath.empty() || localPath.back() != '/') return localPath;
  if (!CreatePath(localPath)) return {};
  return target.urlFileName.empty() ? GetUniqueFileName(localPath + "temp.html")
                                    : localPath + SafeFileNameComponent(target.urlFileName);
}

// A connection to the URL's host, plain or through TLS, sending and
// receiving alike either way.
class Connection {
 public:
  bool Open(const RequestTarget& target, int timeoutMs) {
    https_ = target.https;
    const std::string address = PickHostAddress(target.hostName);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(target.port));
    if (address == kNoAddress || ::inet_aton(address.c_str(), &sa.sin_addr) == 0) return false;
    sock_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!sock_.valid()) return false;
    SetKeepAlive(sock_.get());
    if (!ConnectWithTimeout(sock_.get(), sa, timeoutMs)) return false;
    SetSendTimeout(sock_.get(), timeoutMs);
    return !https_ || tls_.Open(sock_.get(), target.hostName, timeoutMs);
  }
  bool Send(const Bytes& wire, int timeoutMs) {
    const std::int64_t sent = https_ ? tls_.SendAll(wire.data(), wire.size(), timeoutMs)
                                     : SendAll(sock_.get(), wire.data(), wire.size(), timeoutMs);
    return sent >= static_cast<std::int64_t>(wire.size());
  }
  int Receive(Bytes& received, int waitMs) {
    return https_ ? tls_.ReceiveAvailable(received, waitMs)
                  : ReceiveAvailable(sock_.get(), received, waitMs);
  }

 private:
  SocketHandle sock_;
  online::TlsConnection tls_;
  bool https_ = false;
};

// Feeds the answer to the reader until it is whole, the caller stops, the
// server closes (true) or a bound is broken: a silence of timeoutMs, a
// header not ended by its deadline, a body slower than the least rate.
bool ReceiveAnswer(Connection& connection, HttpAnswerReader& reader, int timeoutMs,
                   const HttpLimits& limits, bool& keepGoing, const PumpFn& pump) {
  const int silenceMs = std::max(timeoutMs, 0);
  const long headerDeadline =
      limits.headerDeadlineMs > 0 ? limits.headerDeadlineMs : 2L * silenceMs;
  const long window = limits.rateWindowMs > 0 ? limits.rateWindowMs : std::max(silenceMs, 1);
  const std::int64_t minRate = limits.minBodyBytesPerSecond > 0
                                   ? limits.minBodyBytesPerSecond
                                   : kDefaultMinBodyBytesPerSecond;
  const std::int64_t minPerWindow = std::max<std::int64_t>(1, minRate * window / 1000);
  const Clock::time_point sentAt = Clock::now();
  Clock::time_point windowStart;
  std::int64_t windowFirstByte = 0;
  bool windowOpen = false;
  Bytes received;
  while (keepGoing) {
    int wait = silenceMs;
    if (!reader.HeaderDone()) {
      long left = headerDeadline - MsSince(sentAt);
      if (left <= 0) return false;  // no header in time: not an answer
      wait = static_cast<int>(std::min<long>(wait, left));
    }
    const int n = connection.Receive(received, wait);
    if (n < 1) return n == 0;
    bool more = reader.Feed(received.data(), received.size());
    if (more && reader.HeaderDone()) {
      // The body's pace is judged window by window, from the header on.
      if (!windowOpen) {
        windowOpen = true;
        windowStart = Clock::now();
        windowFirstByte = reader.BodyBytesReceived();
      } else if (MsSince(windowStart) >= window) {
        if (reader.BodyOutstanding() &&
            reader.BodyBytesReceived() - windowFirstByte < minPerWindow) {
          reader.Abort();
          more = false;
        }
        windowStart = Clock::now();
        windowFirstByte = reader.BodyBytesReceived();
      }
    }
    if (pump) pump();
    if (!more) break;
  }
  return false;
}

}  // namespace

HttpResult HttpRequestOnce(const std::string& url, const std::string& localPath, int timeoutMs,
                           bool& keepGoing, std::int64_t maxBytes, const std::string& postBody,
                           std::string& cookieLines, const std::string& userAgent,
                           const PumpFn& pump, const HttpLimits& limits) {
  HttpResult result;
  RequestTarget target;
  if (!ParseRequestUrl(url, target)) return result;
  result.urlFileName = target.urlFileName;
  const std::string file = AnswerFile(localPath, target);
  FileHandle out = OpenWrite(file);
  if (!out.valid()) return result;
  result.localFile = file;

  Connection connection;
  if (!connection.Open(target, timeoutMs) ||
      !connection.Send(BuildHttpRequest(target, postBody, cookieLines, userAgent), timeoutMs))
    return result;
  HttpAnswerReader reader(
      [&out](const std::uint8_t* p, std::size_t n) { return LargeFileWrite(out.get(), p, n); },
      maxBytes, &cookieLines, limits.maxInterimAnswers);
  const bool peerClosed = ReceiveAnswer(connection, reader, timeoutMs, limits, keepGoing, pump);
  reader.Finish(peerClosed, keepGoing);
  result = reader.Result();
  result.localFile = file;
  result.urlFileName = target.urlFileName;
  return result;
}

bool HttpDownload(std::string& url, std::string& localPath, int timeoutMs, int maxHops,
                  bool& keepGoing, bool deleteOnFail, std::int64_t maxBytes,
                  const std::string& postBody, std::string& cookieLines,
                  const std::string& userAgent, const PumpFn& pump,
                  const HttpLimits& limits) {
  std::replace(url.begin(), url.end(), '\\', '/');
  const std::string requestedPath = localPath;
  std::vector<std::string> requested;
  std::string lastFile;
  bool ok = false;
  for (int hop = 1; hop <= maxHops; ++hop) {
    bool repeated = std::find(requested.begin(), requested.end(), url) != requested.end();
    requested.push_back(url);
    HttpResult r = HttpRequestOnce(url, requestedPath, timeoutMs, keepGoing, maxBytes,
                                   hop == 1 ? postBody : std::string(), cookieLines, userAgent,
                                   pump, limits);
    if (!r.localFile.empty()) {
      localPath = r.localFile;
      lastFile = r.localFile;
    }
    if (!keepGoing) break;
    int statusClass = r.status / 100;
    // A URL asked for again (a redirect loop, or a retry of an answer without
    // a location) is judged by its own answer; only a 2xx is a success.
    if (statusClass == 0 || statusClass == 4 || (repeated && statusClass != 2)) break;
    if (statusClass == 2) {
      ok = !r.bodyIncomplete &&
           !(r.contentLength >= 0 && GetLargeFileSize(r.localFile) != r.contentLength);
      break;
    }
    if (!r.location.empty()) url = RedirectUrl(url, r.location);
    // The answer of a hop that is followed elsewhere is not the download.
    if (deleteOnFail && !lastFile.empty() && hop < maxHops) FileDelete(lastFile);
  }
  if (!requested.empty()) url = requested.back();
  if (!ok && deleteOnFail && !lastFile.empty()) FileDelete(lastFile);
  return ok;
}

}  // namespace velotag
