// libFuzzer target: URLs as the HTTP client takes them apart, redirects,
// the URL helpers, and the request bytes built from foreign text. The input
// is a URL, a redirect location, a POST body, cookie lines and a user agent,
// separated by zero bytes.
//
// Promises: a URL the client accepts has a port in 1..65535, a path that
// starts with "/" and no control character; the request is one header of
// lines without a line break of their own, ended by one empty line, and its
// Content-length is the number of bytes after it; Base64 and percent
// encoding stay in their alphabets.
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "online/http.h"
#include "online/url.h"

using namespace velotag;
using velotag::fuzz::Check;

namespace {

bool HasControl(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 32 || c == 127) return true;
  return false;
}

void CheckRequest(const Bytes& wire, const std::string& body) {
  const std::string text(wire.begin(), wire.end());
  const std::size_t end = text.find("\r\n\r\n");
  Check(end != std::string::npos, "the header ends");
  const std::string head = text.substr(0, end + 2);
  std::size_t length = std::string::npos;
  for (std::size_t pos = 0; pos < head.size();) {
    std::size_t eol = head.find("\r\n", pos);
    const std::string line = head.substr(pos, eol - pos);
    Check(!line.empty() && !HasControl(line), "a header line is one line");
    if (line.rfind("Content-length: ", 0) == 0) length = std::stoul(line.substr(16));
    pos = eol + 2;
  }
  const std::size_t sent = text.size() - end - 4;
  Check(body.empty() ? sent == 0 && length == std::string::npos : length == sent,
        "Content-length counts the bytes sent");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 5) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  parts.resize(5);
  const std::string &url = parts[0], &location = parts[1], &body = parts[2], &cookies = parts[3],
                    &agent = parts[4];

  RequestTarget target;
  if (ParseRequestUrl(url, target)) {
    Check(target.port >= 1 && target.port <= 65535, "a port in range");
    Check(!target.path.empty() && target.path[0] == '/', "a path from /");
    Check(!HasControl(target.path) && !HasControl(target.hostPart) &&
              !HasControl(target.credentials) && !target.hostName.empty(),
          "no control character in a request");
    CheckRequest(BuildHttpRequest(target, body, cookies, agent), body);
  }
  (void)ParseRequestUrl(RedirectUrl(url, location), target);
  const std::string name = UrlFileName(url);
  Check(name.find('/') == std::string::npos, "a URL's file name is one name");
  (void)UrlOrigin(url);

  const std::string encoded = UrlEncode(url, true, true, true);
  Check(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789%") ==
            std::string::npos,
        "everything but letters and digits encoded");
  const std::string b64 = Base64Encode(body);
  Check(b64.size() % 4 == 0 && b64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") ==
                                   std::string::npos,
        "Base64 in its alphabet");
  (void)BuildQueryString({{url, location}, {body, cookies}}, true);
  return 0;
}
