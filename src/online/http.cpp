#include "online/http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/strutil.h"
#include "online/tls.h"
#include "support/ini.h"
#include "support/largefile.h"
#include "support/numtext.h"
#include "support/paths.h"
#include "support/textenc.h"

namespace velotag {


namespace {

// Non-chunked bodies go to disk in batches of at least this size; a chunk
// that is still arriving is passed on in pieces of this size too, so that a
// huge or endless chunk never piles up in memory.
constexpr std::size_t kWriteBatch = 262144;
// A response header or chunk-size line longer than these is not HTTP.
constexpr std::size_t kMaxHeaderBytes = 1 << 20;
constexpr std::size_t kMaxSizeLine = 4096;
// More hex digits than this can never be a size that arrives.
constexpr std::size_t kMaxSizeDigits = 15;

std::string LinesOfCookies(const std::vector<NameValue>& cookies) {
  std::string lines;
  for (const auto& [name, value] : cookies) {
    lines += "Cookie: " + name;
    if (!value.empty()) lines += "=" + value;
    lines += "\r\n";
  }
  return lines;
}

std::int64_t ClampToInt64(double v) {
  if (!(v > -9.0e18)) return v != v ? 0 : static_cast<std::int64_t>(-9.0e18);
  if (v > 9.0e18) return static_cast<std::int64_t>(9.0e18);
  return static_cast<std::int64_t>(v);
}

// The bytes received and not yet consumed, without moving memory on every
// consume.
class ReceiveBuffer {
 public:
  void Append(const Bytes& more) {
    if (start_ > 0 && start_ >= data_.size() / 2) {
      data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(start_));
      start_ = 0;
    }
    data_.insert(data_.end(), more.begin(), more.end());
  }
  const std::uint8_t* begin() const { return data_.data() + start_; }
  std::size_t size() const { return data_.size() - start_; }
  void Consume(std::size_t n) {
    start_ += std::min(n, size());
    if (start_ == data_.size()) {
      data_.clear();
      start_ = 0;
    }
  }
  // Offset of the first occurrence of needle at or after from; npos if none.
  std::size_t Find(const char* needle, std::size_t from) const {
    std::size_t len = std::strlen(needle);
    if (size() < len || from > size() - len) return std::string::npos;
    const void* hit = ::memmem(begin() + from, size() - from, needle, len);
    return hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - begin())
               : std::string::npos;
  }

 private:
  Bytes data_;
  std::size_t start_ = 0;
};

// Writes the body to the local file within maxBytes; reports whether the
// transfer may go on.
class BodyWriter {
 public:
  BodyWriter(int fd, std::int64_t maxBytes) : fd_(fd), maxBytes_(maxBytes) {}
  bool Write(const std::uint8_t* p, std::size_t n) {
    bool limitHit = false;
    if (maxBytes_ != -1) {
      std::int64_t allowed = std::max<std::int64_t>(0, maxBytes_ - written_);
      if (static_cast<std::int64_t>(n) > allowed) {
        n = static_cast<std::size_t>(allowed);
        limitHit = true;
      }
    }
    std::size_t done = n > 0 ? LargeFileWrite(fd_, p, n) : 0;
    written_ += static_cast<std::int64_t>(done);
    if (done < n) {
      writeFailed_ = true;
      return false;
    }
    if (limitHit) limitReached_ = true;
    return !limitHit;
  }
  std::int64_t written() const { return written_; }
  bool writeFailed() const { return writeFailed_; }
  bool limitReached() const { return limitReached_; }

 private:
  int fd_;
  std::int64_t maxBytes_;
  std::int64_t written_ = 0;
  bool writeFailed_ = false;
  bool limitReached_ = false;
};

// Chunked transfer coding. Sizes come from the network, so they only ever
// decide how much of what already arrived is taken, never what is allocated.
class ChunkDecoder {
 public:
  enum class State { SizeLine, Data, Done, Broken };

  // Moves the decoded data of buf into out and consumes what it used.
  void Decode(ReceiveBuffer& buf, Bytes& out) {
    for (;;) {
      if (state_ == State::SizeLine) {
        std::size_t eol = buf.Find("\r\n", 0);
        if (eol == std::string::npos) {
          if (buf.size() > kMaxSizeLine) state_ = State::Broken;
          return;
        }
        std::string line(reinterpret_cast<const char*>(buf.begin()), eol);
        buf.Consume(eol + 2);
        if (!ParseSize(line)) {
          state_ = State::Broken;
          return;
        }
        if (remaining_ == 0) {
          state_ = State::Done;
          return;
        }
        state_ = State::Data;
      }
      if (state_ != State::Data) return;
      std::size_t avail = buf.size();
      if (avail >= remaining_ + 2) {
        const std::uint8_t* p = buf.begin();
        if (p[remaining_] != '\r' || p[remaining_ + 1] != '\n') {
          state_ = State::Broken;
          return;
        }
        out.insert(out.end(), p, p + remaining_);
        buf.Consume(remaining_ + 2);
        remaining_ = 0;
        state_ = State::SizeLine;
        continue;
      }
      if (remaining_ > 0 && avail >= kWriteBatch) {
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(avail, remaining_));
        out.insert(out.end(), buf.begin(), buf.begin() + take);
        buf.Consume(take);
        remaining_ -= take;
      }
      return;
    }
  }
  State state() const { return state_; }

 private:
  // Hex digits with an optional "&H" prefix; a chunk extension after ";" is
  // ignored, as HTTP/1.1 requires of a recipient.
  bool ParseSize(const std::string& rawLine) {
    std::string line = rawLine.substr(0, rawLine.find(';'));
    line = TrimSpaces(line);
    if (StartsWithNoCase(line, "&H")) line.erase(0, 2);
    if (line.empty()) return false;
    std::size_t first = line.find_first_not_of('0');
    std::size_t digits = first == std::string::npos ? 0 : line.size() - first;
    if (digits > kMaxSizeDigits) return false;
    std::uint64_t size = 0;
    for (char c : line) {
      int v;
      if (c >= '0' && c <= '9') {
        v = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
      } else {
        return false;
      }
      size = size * 16 + static_cast<std::uint64_t>(v);
    }
    remaining_ = size;
    return true;
  }

  State state_ = State::SizeLine;
  std::uint64_t remaining_ = 0;
};

bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b < 32 || b == 127;
  });
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

void ParseSetCookie(const std::string& value, std::vector<NameValue>& cookies) {
  std::size_t pos = 0;
  while (pos <= value.size()) {
    std::size_t semi = value.find(';', pos);
    if (semi == std::string::npos) semi = value.size();
    std::string part = TrimSpaces(value.substr(pos, semi - pos));
    pos = semi + 1;
    if (part.empty()) continue;
    std::size_t eq = part.find('=');
    if (eq == std::string::npos) {
      cookies.emplace_back(part, "");
    } else {
      cookies.emplace_back(TrimSpaces(part.substr(0, eq)), TrimSpaces(part.substr(eq + 1)));
    }
  }
}

HttpResult ParseResponseHeaders(const std::string& headerBlock) {
  HttpResult r;
  std::string block = headerBlock.substr(0, headerBlock.find("\r\n\r\n"));
  std::size_t pos = 0;
  while (pos <= block.size()) {
    std::size_t eol = block.find("\r\n", pos);
    if (eol == std::string::npos) eol = block.size();
    std::string line = TrimSpaces(block.substr(pos, eol - pos));
    pos = eol + 2;
    if (line.empty()) continue;
    if (StartsWithNoCase(line, "http/")) {
      std::string lower = AsciiLower(line);
      std::size_t blank = lower.find(' ');
      r.protocol = lower.substr(0, blank);
      std::int32_t status =
          blank == std::string::npos ? 0 : LeadingInteger(TrimSpaces(lower.substr(blank + 1)));
      r.status = (status >= 0 && status <= 32767) ? static_cast<std::int16_t>(status) : 0;
      continue;
    }
    std::size_t colon = line.find(':');
    std::string name = AsciiLower(line.substr(0, colon));
    std::string value = colon == std::string::npos ? "" : TrimSpaces(line.substr(colon + 1));
    r.headers.emplace_back(name, value);
    if (name == "transfer-encoding") {
      // The last coding of the list frames the body ("gzip, chunked").
      std::string codings = AsciiLower(value);
      std::size_t comma = codings.rfind(',');
      std::string last = comma == std::string::npos ? codings : codings.substr(comma + 1);
      std::size_t b = last.find_first_not_of(" \t"), e = last.find_last_not_of(" \t");
      r.chunked = b != std::string::npos && last.substr(b, e - b + 1) == "chunked";
    } else if (name == "content-length") {
      r.contentLength = ClampToInt64(LeadingNumber(value));
    } else if (name == "content-type") {
      r.contentType = AsciiLower(value);
    } else if (name == "content-range") {
      r.contentRange = value;
    } else if (name == "location") {
      r.location = value;
    } else if (name == "set-cookie") {
      ParseSetCookie(value, r.cookies);
    }
  }
  r.headerCount = static_cast<std::int32_t>(r.headers.size());
  return r;
}

HttpResult HttpRequestOnce(const std::string& urlIn, const std::string& localPath, int timeoutMs,
                           bool& keepGoing, std::int64_t maxBytes, const std::string& postBody,
                           std::string& cookieLines, const std::string& userAgent,
                           const PumpFn& pump) {
  HttpResult result;

  std::string url = TrimSpaces(urlIn);
  url = ReplaceAll(url, "&amp;", "&");
  url = ReplaceAll(url, "&#63;", "?");
  if (url.find('?') == std::string::npos) url = ReplaceAllNoCase(url, "%3F", "?");
  if (url.find('=') == std::string::npos) url = ReplaceAllNoCase(url, "%3D", "=");
  if (url.find('&') == std::string::npos) url = ReplaceAllNoCase(url, "%26", "&");
  url = ReplaceAll(url, "\\", "/");
  // A line break in a URL would let it write request headers of its own.
  if (HasControlCharacter(url)) return result;

  std::size_t sep = url.find("://");
  std::string scheme = sep == std::string::npos ? "http" : AsciiLower(url.substr(0, sep));
  std::string rest = sep == std::string::npos ? url : url.substr(sep + 3);
  bool https = scheme == "https";
  if ((!https && scheme != "http") || rest.empty()) return result;
  std::size_t slash = rest.find('/');
  std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
  std::string authority = rest.substr(0, slash);
  result.urlFileName = UrlFileName(path);

  std::string credentials, hostPart = authority;
  if (std::size_t at = authority.rfind('@'); at != std::string::npos) {
    credentials = authority.substr(0, at);
    hostPart = authority.substr(at + 1);
  }
  int port = https ? 443 : 80;
  std::string hostName = hostPart;
  if (std::size_t colon = hostPart.find(':'); colon != std::string::npos) {
    double number = LeadingNumber(hostPart.substr(colon + 1));
    if (number > 0 && number < 65536) port = static_cast<int>(number);
    hostName = hostPart.substr(0, colon);
  }
  if (hostName.empty()) return result;

  std::string file = localPath;
  if (!file.empty() && file.back() == '/') {
    if (!CreatePath(file)) return result;
    file = result.urlFileName.empty() ? GetUniqueFileName(file + "temp.html")
                                      : file + SafeFileNameComponent(result.urlFileName);
  }
  FileHandle out(LargeFileOpen(file, false, true, true, false, kCreateAlways));
  if (!out.valid()) return result;
  result.localFile = file;

  std::string address = PickHostAddress(hostName);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (address == kNoAddress || ::inet_aton(address.c_str(), &sa.sin_addr) == 0) return result;
  SocketHandle sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!sock.valid()) return result;
  SetKeepAlive(sock.get());
  if (!ConnectWithTimeout(sock.get(), sa, timeoutMs)) return result;
  SetSendTimeout(sock.get(), timeoutMs);
  online::TlsConnection tls;
  if (https && !tls.Open(sock.get(), hostName, timeoutMs)) return result;

  std::string ua = TrimSpaces(ReplaceAll(userAgent, "\r\n", " "));
  if (ua.empty()) ua = kDefaultUserAgent;
  bool post = !postBody.empty();
  std::string request = (post ? "POST " : "GET ") + path + " HTTP/1.1\r\n";
  request += "Pragma: no-cache\r\n";
  request += "Accept: */*\r\n";
  request += "Host: " + hostPart + "\r\n";
  request += "User-Agent: " + ua + "\r\n";
  if (!credentials.empty()) request += "Authorization: Basic " + Base64Encode(credentials) + "\r\n";
  if (!cookieLines.empty()) {
    request += cookieLines;
    if (cookieLines.size() < 2 || cookieLines.compare(cookieLines.size() - 2, 2, "\r\n") != 0)
      request += "\r\n";
  }
  request += "Connection: Close\r\n";
  if (!post) {
    request += "\r\n";
  } else {
    request += "Content-type: application/x-www-form-urlencoded\r\n";
    request += "Content-length: " + std::to_string(Utf8Length(postBody)) + "\r\n\r\n";
    request += postBody;
  }
  Bytes wire = StringToAnsi(request);
  std::int64_t sent = https ? tls.SendAll(wire.data(), wire.size(), timeoutMs)
                            : SendAll(sock.get(), wire.data(), wire.size());
  if (sent < static_cast<std::int64_t>(wire.size())) return result;

  ReceiveBuffer buf;
  Bytes received, decoded;
  BodyWriter writer(out.get(), maxBytes);
  ChunkDecoder chunks;
  bool headerDone = false, abandoned = false, ended = false;
  std::size_t headerScanFrom = 0;
  result = HttpResult{};
  result.localFile = file;

  // Passes buffered body bytes on; false when the transfer is to end.
  auto processBody = [&](bool final) {
    if (!result.chunked) {
      if (!final && buf.size() < kWriteBatch) return true;
      bool more = writer.Write(buf.begin(), buf.size());
      buf.Consume(buf.size());
      return more;
    }
    decoded.clear();
    chunks.Decode(buf, decoded);
    bool more = writer.Write(decoded.data(), decoded.size());
    return more && chunks.state() != ChunkDecoder::State::Done &&
           chunks.state() != ChunkDecoder::State::Broken;
  };

  bool peerClosed = false;
  while (keepGoing && !ended) {
    int n = https ? tls.ReceiveAvailable(received, timeoutMs)
                  : ReceiveAvailable(sock.get(), received, timeoutMs);
    if (n < 1) {
      peerClosed = n == 0;
      break;
    }
    buf.Append(received);
    while (!headerDone) {
      std::size_t end = buf.Find("\r\n\r\n", headerScanFrom);
      if (end == std::string::npos) {
        headerScanFrom = buf.size() > 3 ? buf.size() - 3 : 0;
        if (buf.size() > kMaxHeaderBytes) {
          result.bodyIncomplete = true;
          ended = true;
        }
        break;
      }
      std::string block = AnsiToString(buf.begin(), end);
      buf.Consume(end + 4);
      headerScanFrom = 0;
      HttpResult parsed = ParseResponseHeaders(block);
      if (!parsed.cookies.empty()) cookieLines = LinesOfCookies(parsed.cookies);
      if (parsed.status == 100) continue;
      parsed.localFile = result.localFile;
      result = std::move(parsed);
      headerDone = true;
      if (maxBytes != -1 && result.contentLength > maxBytes) {
        abandoned = true;
        ended = true;
      }
    }
    if (headerDone && !abandoned && !processBody(false)) ended = true;
    if (pump) pump();
  }
  if (keepGoing && headerDone && !abandoned && !ended) processBody(true);

  if (result.chunked && chunks.state() != ChunkDecoder::State::Done && !writer.limitReached() &&
      !abandoned)
    result.bodyIncomplete = true;
  if (writer.writeFailed()) result.bodyIncomplete = true;
  // Without a length or chunks only the server's close ends the body: one
  // that fell silent or broke off sent part of it.
  if (headerDone && !abandoned && !result.chunked && result.contentLength < 0 && !peerClosed &&
      !writer.limitReached())
    result.bodyIncomplete = true;
  result.bytesWritten = writer.written();
  result.urlFileName = UrlFileName(path);
  return result;
}

bool HttpDownload(std::string& url, std::string& localPath, int timeoutMs, int maxHops,
                  bool& keepGoing, bool deleteOnFail, std::int64_t maxBytes,
                  const std::string& postBody, std::string& cookieLines,
                  const std::string& userAgent, const PumpFn& pump) {
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
                                   pump);
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
    if (!r.location.empty()) {
      if (r.location.find("://") != std::string::npos) {
        url = r.location;
      } else {
        std::string origin = UrlOrigin(url);
        std::string target = r.location[0] == '/' ? r.location.substr(1) : r.location;
        url = origin + (!origin.empty() && origin.back() == '/' ? "" : "/") + target;
      }
    }
    // The answer of a hop that is followed elsewhere is not the download.
    if (deleteOnFail && !lastFile.empty() && hop < maxHops) FileDelete(lastFile);
  }
  if (!requested.empty()) url = requested.back();
  if (!ok && deleteOnFail && !lastFile.empty()) FileDelete(lastFile);
  return ok;
}

}  // namespace velotag
