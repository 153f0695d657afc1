#include "online/url.h"

#include <gtest/gtest.h>

#include "online/http.h"
#include "online/socket.h"

namespace velotag {
namespace {

TEST(UrlEncode, FlagsChooseWhatIsEncoded) {
  struct Case {
    std::string text;
    bool reserved, marks, unsafe;
    std::string out;
  } const cases[] = {
      {"a b&c", false, false, false, "a b&c"},
      {"$&+,/:;=?@", true, false, false, "%24%26%2B%2C%2F%3A%3B%3D%3F%40"},
      {"!$'()*+,-._", false, true, false, "%21%24%27%28%29%2A%2B%2C%2D%2E%5F"},
      {" \"#%<>[\\]^`{|}~", false, false, true, "%20%22%23%25%3C%3E%5B%5C%5D%5E%60%7B%7C%7D%7E"},
      {"tab\there\x7f", false, false, false, "tab%09here%7F"},  // always encoded
      {"\xc3\xa9", false, false, false, "%E9"},                 // é by its single-byte code
      {"\xe2\x82\xac", true, false, true, "%3F"},               // € has none: "?"
      {"AZaz09", true, true, true, "AZaz09"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UrlEncode(c.text, c.reserved, c.marks, c.unsafe), c.out) << c.text;
  const std::vector<NameValue> pairs = {{" cmd ", "cddb query"}, {"", "skipped"}, {"a&b", "x=y"}};
  EXPECT_EQ(BuildQueryString(pairs, true), "cmd=cddb%20query&a%26b=x%3Dy");
  EXPECT_EQ(BuildQueryString(pairs, false), "cmd=cddb query&a&b=x=y");
  // Base64 pads the last group and works on single-byte codes (ÿþ is FF FE).
  EXPECT_EQ(Base64Encode("f") + Base64Encode("foo") + Base64Encode("\xc3\xbf\xc3\xbe"),
            "Zg==Zm9v//4=");
}

TEST(UrlParts, FileNameAndOrigin) {
  struct Case {
    std::string url, fileName, origin;
  } const cases[] = {
      {"http://host:81/a/b.mp3?x=1#f", "b.mp3", "http://host:81"},
      {"http://host/a/b.mp3%3Fx=1", "b.mp3", "http://host"},
      {"http://host/a/b.mp3&#63;x", "b.mp3", "http://host"},
      {"http://host/a/b%23frag", "b", "http://host"},
      {"http://host?q=/x", "", "http://host"},
      {"/path/only.txt", "only.txt", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UrlFileName(c.url), c.fileName) << c.url;
    EXPECT_EQ(UrlOrigin(c.url), c.origin) << c.url;
  }
}

TEST(ResponseHeaders, StatusLineKnownHeadersAndHostNames) {
  HttpResult r = ParseResponseHeaders(
      "HTTP/1.1 301 Moved Permanently\r\nContent-Length: 1234\r\nContent-Type: Text/XML\r\n"
      "Location:   /new  \r\nContent-Length : 5\r\nNoColonHere\r\n\r\nX-After-The-End: ignored");
  EXPECT_EQ(r.status, 301);
  EXPECT_EQ(r.contentLength, 1234);  // a blank before the colon defeats the match
  EXPECT_EQ(r.contentType, "text/xml");
  EXPECT_EQ(r.location, "/new");
  EXPECT_EQ(r.headers.back(), NameValue("nocolonhere", ""));
  // Numbers from the network are bounded, never overflowed.
  EXPECT_EQ(ParseResponseHeaders("garbage").status, 0);
  EXPECT_EQ(ParseResponseHeaders("HTTP/1.0 99999 Huge\r\n").status, 0);
  EXPECT_EQ(ParseResponseHeaders("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n")
                .contentLength,
            9000000000000000000LL);
  EXPECT_EQ(ResolveHost("127.1"), "127.1");  // what inet_addr accepts stays as written
  EXPECT_EQ(ResolveHost("localhost"), "127.0.0.1");
  EXPECT_EQ(PickHostAddress(""), kNoAddress);
}

}  // namespace
}  // namespace velotag
