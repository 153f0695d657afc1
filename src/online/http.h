// The HTTP/1.1 client: one URL into one local file, over plain sockets or
// TLS, with redirects, chunked coding, cookies and basic authorisation. It runs
// on the caller's thread and pumps the caller's events after every receive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "online/http_answer.h"
#include "online/socket.h"
#include "online/url.h"

namespace velotag {

inline constexpr const char* kDefaultUserAgent =
    "Mozilla/5.0 (Windows; U; Hollowcrag; hu; rv:1.9.2.13) Gecko/20101203 Firefox/3.6.13 "
    "(.NET CLR 3.5.30729)";

// Bounds on one request beyond the silence time-out of each read, so that a
// server that drips bytes, or answers "100 Continue" without end, still
// ends the request in bounded time (as a failure). A field of 0 takes the
// default named beside it.
struct HttpLimits {
  // From sending the request to the end of the final header, interim
  // answers included. 0: twice the time-out.
  int headerDeadlineMs = 0;
  // While the body still owes bytes, each window of rateWindowMs (0: the
  // time-out) must bring minBodyBytesPerSecond (0: 512) on average.
  int rateWindowMs = 0;
  std::int64_t minBodyBytesPerSecond = 0;
  int maxInterimAnswers = kMaxInterimAnswers;
};

// Follows redirects for up to maxHops requests. localPath is a file, or a
// folder ending in "/" (the name then comes from the URL, "temp.html" made
// unique when it has none). On return url is the last URL requested and
// localPath the file written. The transfer goes on only while keepGoing stays
// true (the pump may clear it). maxBytes -1 means no limit. An empty postBody
// sends GET. cookieLines carries "Cookie: ..." lines in and out. An empty
// userAgent sends kDefaultUserAgent. With deleteOnFail the file of a failed
// download, and of every hop that was redirected away from, is removed.
bool HttpDownload(std::string& url, std::string& localPath, int timeoutMs, int maxHops,
                  bool& keepGoing, bool deleteOnFail, std::int64_t maxBytes,
                  const std::string& postBody, std::string& cookieLines,
                  const std::string& userAgent, const PumpFn& pump = {},
                  const HttpLimits& limits = {});

// One request, no redirects.
HttpResult HttpRequestOnce(const std::string& url, const std::string& localPath, int timeoutMs,
                           bool& keepGoing, std::int64_t maxBytes, const std::string& postBody,
                           std::string& cookieLines, const std::string& userAgent,
                           const PumpFn& pump = {}, const HttpLimits& limits = {});

// The request's bytes as they go out. A control character in the user agent
// becomes a blank, and of the caller's cookie lines only "Cookie:" lines
// without one go out, so that no text of theirs adds a header line; the
// body goes out in the single-byte code page and Content-length counts
// exactly the bytes sent.
Bytes BuildHttpRequest(const RequestTarget& target, const std::string& postBody,
                       const std::string& cookieLines, const std::string& userAgent);

}  // namespace velotag
