// The HTTP/1.1 client: one URL into one local file, over plain sockets or
// TLS, with redirects, chunked coding, cookies and basic authorisation. It runs
// on the caller's thread and pumps the caller's events after every receive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "online/socket.h"
#include "online/url.h"

namespace velotag {

inline constexpr const char* kDefaultUserAgent =
    "Mozilla/5.0 (Windows; U; Hollowcrag; hu; rv:1.9.2.13) Gecko/20101203 Firefox/3.6.13 "
    "(.NET CLR 3.5.30729)";

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
  // that never ended, or a short write to the local file. Such an answer is
  // never a successful download.
  bool bodyIncomplete = false;
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
                  const std::string& userAgent, const PumpFn& pump = {});

// One request, no redirects.
HttpResult HttpRequestOnce(const std::string& url, const std::string& localPath, int timeoutMs,
                           bool& keepGoing, std::int64_t maxBytes, const std::string& postBody,
                           std::string& cookieLines, const std::string& userAgent,
                           const PumpFn& pump = {});

HttpResult ParseResponseHeaders(const std::string& headerBlock);
void ParseSetCookie(const std::string& value, std::vector<NameValue>& cookies);

}  // namespace velotag
