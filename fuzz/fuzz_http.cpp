// libFuzzer target: the HTTP answer as it arrives from the network (status
// lines, headers, interim answers, cookies, chunked coding, body limits) and
// where its redirect leads. The input's first four bytes set the limit,
// the number of interim answers taken, how the bytes are cut into receives,
// and how the connection ends; the rest is what the server sent.
//
// Promises: the answer does not depend on how its bytes were cut into
// receives; the body written stays within the limit and, without chunks,
// is the bytes after the header; cookie lines never carry a line break of
// their own; a redirect leads to a URL without control characters.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "online/http.h"
#include "online/url.h"

using namespace velotag;
using velotag::fuzz::Check;

namespace {

struct Outcome {
  HttpResult result;
  Bytes body;
  std::string cookies;
};

Outcome Receive(const std::uint8_t* data, std::size_t size, std::int64_t maxBytes, int interim,
                unsigned cut, bool peerClosed, bool flush) {
  Outcome o;
  // A sink that takes what it is given, or that is full after 5000 bytes.
  const bool shortSink = cut % 11 == 0;
  HttpAnswerReader reader(
      [&](const std::uint8_t* p, std::size_t n) {
        std::size_t take = shortSink ? std::min<std::size_t>(n, 5000 - std::min<std::size_t>(5000, o.body.size())) : n;
        o.body.insert(o.body.end(), p, p + take);
        return take;
      },
      maxBytes, &o.cookies, interim);
  std::size_t pos = 0;
  unsigned state = cut;
  while (pos < size) {
    std::size_t piece = cut == 0 ? size : 1 + (state % 97);
    state = state * 1103515245u + 12345u;
    piece = std::min(piece, size - pos);
    bool more = reader.Feed(data + pos, piece);
    pos += piece;
    if (!more) break;
  }
  reader.Finish(peerClosed, flush);
  o.result = reader.Result();
  Check(o.result.bytesWritten == static_cast<std::int64_t>(o.body.size()), "bytes written counted");
  return o;
}

bool SameAnswer(const Outcome& a, const Outcome& b) {
  const HttpResult &x = a.result, &y = b.result;
  return x.protocol == y.protocol && x.status == y.status && x.headers == y.headers &&
         x.cookies == y.cookies && x.chunked == y.chunked && x.contentLength == y.contentLength &&
         x.contentType == y.contentType && x.location == y.location &&
         x.bodyIncomplete == y.bodyIncomplete && a.body == b.body && a.cookies == b.cookies;
}

bool HasControl(const std::string& s, bool tabAllowed = false) {
  return std::any_of(s.begin(), s.end(), [&](char c) {
    auto b = static_cast<unsigned char>(c);
    return (b < 32 && !(tabAllowed && b == '\t')) || b == 127;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::int64_t maxBytes = data[0] == 0 ? -1 : data[0] * 37;
  const int interim = data[1] % 10;
  const unsigned cut = data[2];
  const bool peerClosed = data[3] & 1, flush = data[3] & 2;
  data += 4;
  size -= 4;

  const Outcome whole = Receive(data, size, maxBytes, interim, 0, peerClosed, flush);
  const Outcome pieces = Receive(data, size, maxBytes, interim, cut | 1, peerClosed, flush);
  if (cut % 11 != 0) Check(SameAnswer(whole, pieces), "the answer does not depend on the receives");

  const HttpResult& r = whole.result;
  Check(maxBytes == -1 || r.bytesWritten <= maxBytes, "the body stays within the limit");
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (r.status != 0 && !r.chunked && r.status != 100) {
    // The body is the bytes right after the last header block.
    const std::string body(whole.body.begin(), whole.body.end());
    Check(text.find(body, text.find("\r\n\r\n")) != std::string::npos, "the body is the bytes sent");
  }
  std::size_t pos = 0;
  while (pos < whole.cookies.size()) {
    std::size_t end = whole.cookies.find("\r\n", pos);
    Check(end != std::string::npos &&
              !HasControl(whole.cookies.substr(pos, end - pos), true),
          "a cookie line holds no line break");
    pos = end + 2;
  }

  (void)ParseResponseHeaders(text);
  for (const char* base : {"http://host:81/a/b?q=1", "https://u:p@h/x", "h"}) {
    const std::string next = RedirectUrl(base, r.location);
    RequestTarget target;
    if (ParseRequestUrl(next, target))
      Check(!HasControl(target.path) && !HasControl(target.hostPart), "no control character in a request");
  }
  return 0;
}
