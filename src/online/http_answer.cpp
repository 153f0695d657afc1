#include "online/http_answer.h"

#include <algorithm>
#include <cstring>

#include "support/numtext.h"
#include "support/strutil.h"
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

std::int64_t ClampToInt64(double v) {
  if (!(v > -9.0e18)) return v != v ? 0 : static_cast<std::int64_t>(-9.0e18);
  if (v > 9.0e18) return static_cast<std::int64_t>(9.0e18);
  return static_cast<std::int64_t>(v);
}

bool HasLineControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return (b < 32 && b != '\t') || b == 127;
  });
}

// The bytes received and not yet consumed, without moving memory on every
// consume.
class ReceiveBuffer {
 public:
  void Append(const std::uint8_t* more, std::size_t n) {
    if (start_ > 0 && start_ >= data_.size() / 2) {
      data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(start_));
      start_ = 0;
    }
    data_.insert(data_.end(), more, more + n);
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

}  // namespace

void ParseSetCookie(const std::string& value, std::vector<NameValue>& cookies) {
  std::size_t pos = 0;
  while (pos <= value.size()) {
    std::size_t semi = value.find(';', pos);
    if (semi == std::string::npos) semi = value.size();
    std::string part = TrimSpaces(value.substr(pos, semi - pos));
    pos = semi + 1;
    if (part.empty() || HasLineControl(part)) continue;
    std::size_t eq = part.find('=');
    if (eq == std::string::npos) {
      cookies.emplace_back(part, "");
    } else {
      cookies.emplace_back(TrimSpaces(part.substr(0, eq)), TrimSpaces(part.substr(eq + 1)));
    }
  }
}

std::string CookieLines(const std::vector<NameValue>& cookies) {
  std::string lines;
  for (const auto& [name, value] : cookies) {
    lines += "Cookie: " + name;
    if (!value.empty()) lines += "=" + value;
    lines += "\r\n";
  }
  return lines;
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

struct HttpAnswerReader::State {
  State(Sink s, std::int64_t max, std::string* cookies, int interimLimit)
      : sink(std::move(s)), maxBytes(max), cookieLines(cookies), maxInterim(interimLimit) {}

  Sink sink;
  std::int64_t maxBytes;
  std::string* cookieLines;
  int maxInterim;

  HttpResult result;
  ReceiveBuffer buf;
  ChunkDecoder chunks;
  Bytes decoded;
  std::size_t headerScanFrom = 0;
  int interim = 0;
  bool headerDone = false, abandoned = false, ended = false;
  std::int64_t bodyReceived = 0, written = 0;
  bool writeFailed = false, limitReached = false;

  // Passes body bytes to the sink within maxBytes; false when the transfer
  // is to end.
  bool Write(const std::uint8_t* p, std::size_t n) {
    bool limitHit = false;
    if (maxBytes != -1) {
      std::int64_t allowed = std::max<std::int64_t>(0, maxBytes - written);
      if (static_cast<std::int64_t>(n) > allowed) {
        n = static_cast<std::size_t>(allowed);
        limitHit = true;
      }
    }
    std::size_t done = n > 0 ? sink(p, n) : 0;
    written += static_cast<std::int64_t>(done);
    if (done < n) {
      writeFailed = true;
      return false;
    }
    if (limitHit) limitReached = true;
    return !limitHit;
  }

  // Passes buffered body bytes on; false when the transfer is to end.
  bool ProcessBody(bool final) {
    if (!result.chunked) {
      if (!final && buf.size() < kWriteBatch) return true;
      bool more = Write(buf.begin(), buf.size());
      buf.Consume(buf.size());
      return more;
    }
    decoded.clear();
    chunks.Decode(buf, decoded);
    bool more = Write(decoded.data(), decoded.size());
    return more && chunks.state() != ChunkDecoder::State::Done &&
           chunks.state() != ChunkDecoder::State::Broken;
  }

  void ReadHeaders() {
    while (!headerDone && !ended) {
      std::size_t end = buf.Find("\r\n\r\n", headerScanFrom);
      if (end == std::string::npos) {
        headerScanFrom = buf.size() > 3 ? buf.size() - 3 : 0;
        if (buf.size() > kMaxHeaderBytes) {
          result.bodyIncomplete = true;
          ended = true;
        }
        return;
      }
      std::string block = AnsiToString(buf.begin(), end);
      buf.Consume(end + 4);
      headerScanFrom = 0;
      HttpResult parsed = ParseResponseHeaders(block);
      if (cookieLines && !parsed.cookies.empty()) *cookieLines = CookieLines(parsed.cookies);
      if (parsed.status == 100) {
        // A server that answers "continue" without end is not answering.
        if (++interim > maxInterim) {
          result.bodyIncomplete = true;
          ended = true;
        }
        continue;
      }
      result = std::move(parsed);
      headerDone = true;
      bodyReceived = static_cast<std::int64_t>(buf.size());
      if (maxBytes != -1 && result.contentLength > maxBytes) {
        abandoned = true;
        ended = true;
      }
    }
  }
};

HttpAnswerReader::HttpAnswerReader(Sink sink, std::int64_t maxBytes, std::string* cookieLines,
                                   int maxInterimAnswers)
    : state_(std::make_unique<State>(std::move(sink), maxBytes, cookieLines, maxInterimAnswers)) {}

HttpAnswerReader::~HttpAnswerReader() = default;

bool HttpAnswerReader::Feed(const std::uint8_t* data, std::size_t size) {
  State& s = *state_;
  if (s.ended) return false;
  s.buf.Append(data, size);
  if (s.headerDone) {
    s.bodyReceived += static_cast<std::int64_t>(size);
  } else {
    s.ReadHeaders();
  }
  if (s.headerDone && !s.abandoned && !s.ended && !s.ProcessBody(false)) s.ended = true;
  return !s.ended;
}

void HttpAnswerReader::Abort() {
  state_->result.bodyIncomplete = true;
  state_->ended = true;
}

void HttpAnswerReader::Finish(bool peerClosed, bool flush) {
  State& s = *state_;
  HttpResult& r = s.result;
  if (flush && s.headerDone && !s.abandoned && !s.ended) s.ProcessBody(true);
  if (r.chunked && s.chunks.state() != ChunkDecoder::State::Done && !s.limitReached &&
      !s.abandoned)
    r.bodyIncomplete = true;
  if (s.writeFailed) r.bodyIncomplete = true;
  // Without a length or chunks only the server's close ends the body: one
  // that fell silent or broke off sent part of it.
  if (s.headerDone && !s.abandoned && !r.chunked && r.contentLength < 0 && !peerClosed &&
      !s.limitReached)
    r.bodyIncomplete = true;
  r.bytesWritten = s.written;
  s.ended = true;
}

bool HttpAnswerReader::HeaderDone() const { return state_->headerDone; }

std::int64_t HttpAnswerReader::BodyBytesReceived() const { return state_->bodyReceived; }

bool HttpAnswerReader::BodyOutstanding() const {
  const State& s = *state_;
  if (!s.headerDone || s.ended) return !s.ended;
  if (s.result.chunked) return s.chunks.state() != ChunkDecoder::State::Done;
  return s.result.contentLength < 0 || s.bodyReceived < s.result.contentLength;
}

const HttpResult& HttpAnswerReader::Result() const { return state_->result; }


}  // namespace velotag
