// The answer side of the HTTP client without sockets or clocks: header
// blocks, cookies, interim answers, chunked coding and the body handed to a
// sink, fed with the bytes as they arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "online/url.h"

namespace velotag {

struct HttpResult {
  std::string protocol;            // "http/1.1", lower case
  std::int16_t status = 0;         // 0: no status line seen
  std::int64_t bytesWritten = 0;   // bytes written to localFile
  std::int32_t headerCount = 0;    // headers.size()
  std::vector<NameValue> headers;  // name lower-cased, value trimmed
  std::vector<NameValue> cookies;  // every ";" part of every set-cookie
  bool chunked = false;
  std::int64_t contentLength = -1;
  std::string contentType = "text/html";
  std::string contentRange;
  std::string location;
  std::string localFile;
  std::string urlFileName;
  // The body did not arrive whole as far as the transfer can tell: a chunked
  // body whose framing broke or that ended before its last chunk, a header
  // that never ended, a body slower than the client accepts, or a short
  // write to the local file. Such an answer is never a successful download.
  bool bodyIncomplete = false;
};

HttpResult ParseResponseHeaders(const std::string& headerBlock);
// Parts holding a control character (a bare line break would become a
// header line of the next request) are dropped.
void ParseSetCookie(const std::string& value, std::vector<NameValue>& cookies);
// The request's "Cookie: name=value" lines for these cookies.
std::string CookieLines(const std::vector<NameValue>& cookies);

// "100 Continue" answers taken before the real one by default.
inline constexpr int kMaxInterimAnswers = 8;

class HttpAnswerReader {
 public:
  // Takes body bytes and returns how many it kept; fewer ends the transfer.
  using Sink = std::function<std::size_t(const std::uint8_t*, std::size_t)>;

  // maxBytes -1: no limit. cookieLines, when given, is replaced by the
  // cookies of every header block that sets any.
  HttpAnswerReader(Sink sink, std::int64_t maxBytes, std::string* cookieLines = nullptr,
                   int maxInterimAnswers = kMaxInterimAnswers);
  ~HttpAnswerReader();
  HttpAnswerReader(const HttpAnswerReader&) = delete;
  HttpAnswerReader& operator=(const HttpAnswerReader&) = delete;

  // The next bytes received; false once the transfer is to end.
  bool Feed(const std::uint8_t* data, std::size_t size);
  // The client gave up on the answer (too slow): it is not a download.
  void Abort();
  // The connection ended, by the server's close (peerClosed) or otherwise.
  // With flush the bytes still buffered are passed on first (not after a
  // stop). Judges whether the body arrived whole.
  void Finish(bool peerClosed, bool flush);

  bool HeaderDone() const;
  // Raw bytes received after the final header, framing included.
  std::int64_t BodyBytesReceived() const;
  // Whether the answer still owes body bytes: false once its length or last
  // chunk arrived.
  bool BodyOutstanding() const;
  const HttpResult& Result() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velotag
