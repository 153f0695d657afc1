#include "online/url.h"

#include <arpa/inet.h>
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
      {"a b&c", true, false, true, "a%20b%26c"},
      {"a b&c", false, false, false, "a b&c"},
      {"$&+,/:;=?@", true, false, false, "%24%26%2B%2C%2F%3A%3B%3D%3F%40"},
      {"!$'()*+,-._", false, true, false, "%21%24%27%28%29%2A%2B%2C%2D%2E%5F"},
      {" \"#%<>[\\]^`{|}~", false, false, true, "%20%22%23%25%3C%3E%5B%5C%5D%5E%60%7B%7C%7D%7E"},
      {"tab\there\x7f", false, false, false, "tab%09here%7F"},  // always encoded
      {"\xc3\xa9", false, false, false, "%E9"},  // é by its single-byte code
      {"\xe2\x82\xac", true, false, true, "%3F"},  // € has none: "?"
      {"AZaz09", true, true, true, "AZaz09"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UrlEncode(c.text, c.reserved, c.marks, c.unsafe), c.out) << c.text;
}

TEST(BuildQueryString, JoinsTrimmedNamedPairs) {
  std::vector<NameValue> pairs = {{" cmd ", "cddb query"}, {"", "skipped"}, {"hello", ""},
                                  {"a&b", "x=y"}};
  EXPECT_EQ(BuildQueryString(pairs, true), "cmd=cddb%20query&hello=&a%26b=x%3Dy");
  EXPECT_EQ(BuildQueryString(pairs, false), "cmd=cddb query&hello=&a&b=x=y");
  EXPECT_EQ(BuildQueryString({}, true), "");
}

TEST(UrlParts, FileNameAndOrigin) {
  struct Case {
    std::string url, fileName, origin;
  } const cases[] = {
      {"http://host/a/b.mp3", "b.mp3", "http://host"},
      {"http://host:81/a/b.mp3?x=1#f", "b.mp3", "http://host:81"},
      {"http://host/a/b.mp3%3Fx=1", "b.mp3", "http://host"},
      {"http://host/a/b.mp3&#63;x", "b.mp3", "http://host"},
      {"http://host/a/b%23frag", "b", "http://host"},
      {"http://host/a/b&#35;frag", "b", "http://host"},
      {"http://host", "", "http://host"},
      {"http://host/", "", "http://host"},
      {"http://host/dir/", "", "http://host"},
      {"http://host?q=/x", "", "http://host"},
      {"host/x/y.z", "y.z", "host"},
      {"/path/only.txt", "only.txt", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UrlFileName(c.url), c.fileName) << c.url;
    EXPECT_EQ(UrlOrigin(c.url), c.origin) << c.url;
  }
}

TEST(Base64Encode, PadsTheLastGroup) {
  struct Case {
    std::string in, out;
  } const cases[] = {
      {"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},
      {"foo", "Zm9v"},   {"foob", "Zm9vYg=="},  {"user:pw", "dXNlcjpwdw=="},
      {"\xc3\xbf\xc3\xbe", "//4="},  // ÿþ as the bytes FF FE
  };
  for (const Case& c : cases) EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
}

TEST(ResponseHeaders, StatusLineAndKnownHeaders) {
  HttpResult r = ParseResponseHeaders(
      "HTTP/1.1 301 Moved Permanently\r\n"
      "Content-Length: 1234\r\n"
      "Content-Type: Text/XML; Charset=UTF-8\r\n"
      "Transfer-Encoding: CHUNKED\r\n"
      "Location:   /new  \r\n"
      "Content-Range: bytes 0-9/10\r\n"
      "Content-Length : 5\r\n"  // a blank before the colon defeats the match
      "NoColonHere\r\n"
      "\r\n"
      "X-After-The-End: ignored");
  EXPECT_EQ(r.protocol, "http/1.1");
  EXPECT_EQ(r.status, 301);
  EXPECT_EQ(r.contentLength, 1234);
  EXPECT_EQ(r.contentType, "text/xml; charset=utf-8");
  EXPECT_TRUE(r.chunked);
  EXPECT_EQ(r.location, "/new");
  EXPECT_EQ(r.contentRange, "bytes 0-9/10");
  ASSERT_EQ(r.headerCount, 7);
  EXPECT_EQ(r.headers[5], NameValue("content-length ", "5"));
  EXPECT_EQ(r.headers[6], NameValue("nocolonhere", ""));

  HttpResult empty = ParseResponseHeaders("garbage");
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.contentLength, -1);
  EXPECT_EQ(empty.contentType, "text/html");
  EXPECT_FALSE(empty.chunked);
  EXPECT_EQ(ParseResponseHeaders("HTTP/1.0 99999 Huge\r\n").status, 0);
  EXPECT_EQ(ParseResponseHeaders("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n")
                .contentLength,
            9000000000000000000LL);
  EXPECT_FALSE(ParseResponseHeaders("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n").chunked);
}

TEST(ResponseHeaders, SetCookieAttributesBecomeCookiesOfTheirOwn) {
  HttpResult r = ParseResponseHeaders(
      "HTTP/1.1 200 OK\r\nSet-Cookie: a = 1 ; Path=/; Secure\r\nSet-Cookie: b=x=y;;\r\n");
  std::vector<NameValue> want = {{"a", "1"}, {"Path", "/"}, {"Secure", ""}, {"b", "x=y"}};
  EXPECT_EQ(r.cookies, want);
}

TEST(Resolve, AddressesStayAndNamesResolve) {
  EXPECT_EQ(ResolveHost("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ResolveHost("127.1"), "127.1");  // what inet_addr accepts stays as written
  EXPECT_EQ(ResolveHost("localhost"), "127.0.0.1");
  EXPECT_EQ(PickHostAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(ResolveHost(""), kNoAddress);
  EXPECT_EQ(PickHostAddress(""), kNoAddress);
  EXPECT_EQ(FormatIPv4(htonl(0x7f000001)), "127.0.0.1");
}

TEST(SocketLayer, StartsOncePerProcess) {
  std::string description;
  SocketCleanup();
  EXPECT_TRUE(SocketStartup(description));
  EXPECT_FALSE(description.empty());
  EXPECT_FALSE(SocketStartup(description));
  SocketCleanup();
  EXPECT_FALSE(SocketStarted());
}

}  // namespace
}  // namespace velotag
