#include "online/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "script_server.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::ReadFileText;
using test::ScriptServer;
using test::TempDir;

struct Options {
  int timeoutMs = 5000;
  std::int64_t maxBytes = -1;
  std::string body{}, cookies{}, agent{};
  HttpLimits limits{};
};

struct Download {
  std::string url, file, cookies;
  bool ok = false;
  double seconds = 0;
};

Download Get(const std::string& url, const std::string& local, const Options& o = {}) {
  Download d{url, local, o.cookies};
  bool keepGoing = true;
  auto start = std::chrono::steady_clock::now();
  d.ok = HttpDownload(d.url, d.file, o.timeoutMs, 5, keepGoing, true, o.maxBytes, o.body, d.cookies,
                      o.agent, {}, o.limits);
  d.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return d;
}

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ok()) << "scripted server did not start"; }

  TempDir dir;
  ScriptServer server{dir.file("requests.jsonl")};
  const std::string host = server.hostPort();
};

TEST_F(HttpTest, SendsTheRequestBytesExactly) {
  const std::string start = "Pragma: no-cache\r\nAccept: */*\r\nHost: " + host + "\r\n";
  const std::string ua = std::string("User-Agent: ") + kDefaultUserAgent + "\r\n";
  struct Case {
    std::string url;
    Options options;
    std::string expected;
  } const cases[] = {
      {"/post", {.body = "a=1&b=%20x", .agent = "libofa_example"},
       "POST /post HTTP/1.1\r\n" + start + "User-Agent: libofa_example\r\nConnection: Close\r\n"
           "Content-type: application/x-www-form-urlencoded\r\nContent-length: 10\r\n\r\n"
           "a=1&b=%20x"},
      // Credentials become basic authorisation, not part of the Host header;
      // cookie lines get their missing CR LF; a line break in the user agent
      // becomes a blank.
      {"http://user:pa ss@" + host + "/echo", {.cookies = "Cookie: a=b", .agent = " two\r\nlines "},
       "GET /echo HTTP/1.1\r\n" + start + "User-Agent: two lines\r\n"
           "Authorization: Basic dXNlcjpwYSBzcw==\r\nCookie: a=b\r\nConnection: Close\r\n\r\n"},
      // No caller text adds a header line: control characters in the user
      // agent become blanks; only "Cookie:" lines without one go out (a
      // second length was found by fuzzing). A body that is no UTF-8 goes
      // out byte for byte, and its length counts those bytes.
      {"/post", {.body = "a=\x80\xFF",
                 .cookies = "Cookie: a=b\nX-Injected: 1\r\n\r\nContent-length: 0\r\nCookie: c=d",
                 .agent = "a\nb\rc\x1B"},
       "POST /post HTTP/1.1\r\n" + start + "User-Agent: a b c\r\nCookie: c=d\r\n"
           "Connection: Close\r\nContent-type: application/x-www-form-urlencoded\r\n"
           "Content-length: 4\r\n\r\na=\x80\xFF"},
      // Nor does a server's cookie on the next hop.
      {"/cookie-lf", {}, "GET /echo HTTP/1.1\r\n" + start + ua + "Cookie: b=2\r\nConnection: Close\r\n\r\n"},
      // Entities, encoded separators and backslashes are normalised first.
      {"  http:\\\\" + host + "\\echo&#63;a%3d1&amp;b=2  ", {.cookies = "Cookie: x=1\r\n"},
       "GET /echo?a%3d1&b=2 HTTP/1.1\r\n" + start + ua +
           "Cookie: x=1\r\nConnection: Close\r\n\r\n"},
  };
  for (const Case& c : cases) {
    std::string url = c.url[0] == '/' ? server.url(c.url) : c.url;
    Download d = Get(url, dir.file("echo.txt"), c.options);
    EXPECT_TRUE(d.ok) << c.url;
    EXPECT_EQ(ReadFileText(d.file, "<missing>"), c.expected) << c.url;
  }
}

// Every kind of answer: chunk framing, interim headers, redirects, lengths
// and silences. A failed download never leaves its file behind.
TEST_F(HttpTest, AnswersAndRedirects) {
  std::string big;
  for (int i = 0; i < 4096; ++i)
    for (int b = 0; b < 256; ++b) big.push_back(static_cast<char>(b));
  struct Case {
    std::string path;
    bool ok;
    std::string body{}, finalPath{};  // finalPath: empty when it is path
    Options options{};
    std::string cookies{};  // Set-Cookie parts as the lines to send back
    double within = 0;      // seconds it may take; 0: the silence and a margin
  } const cases[] = {
      {"/cookie", true, "", "", {},
       "Cookie: a=1\r\nCookie: Path=/\r\nCookie: Secure\r\nCookie: b=x=y\r\n"},
      {"/chunked-split", true, "hello world"},  // split inside sizes and data
      {"/chunk-ext", true, "hello world"},      // extensions after ";" are ignored
      {"/chunk-hexprefix", true, "hello"},
      {"/chunk-big", true, big + "end"},  // passed on before the chunk is whole
      // Broken framing, or a body that never reaches its last chunk, is not a
      // download, whatever the status line said; no size is ever allocated.
      {"/chunk-bad", false},
      {"/chunk-badend", false},
      {"/chunk-huge", false},
      {"/chunk-overflow", false},
      {"/chunk-noend", false},
      {"/endless-header", false},
      {"/continue", true, "after continue"},  // status 100, then the real header
      // Interim answers are bounded in number, the header in time and the
      // body in pace: a server that drips or continues forever fails soon.
      {"/continue-3", false, "", "", {.limits = {.maxInterimAnswers = 2}}},
      {"/continue-forever", false, "", "", {}, "", 1},
      {"/drip-header", false, "", "", {.limits = {.headerDeadlineMs = 300}}, "", 1},
      {"/drip-body", false, "", "", {.limits = {.rateWindowMs = 300, .minBodyBytesPerSecond = 100}},
       "", 1},
      {"/paced-body", true, std::string(2000, 'p'), "", {.timeoutMs = 400}},
      {"/short", false},                      // 50 bytes of a content length of 100
      {"/silent-body", true, "hello", "", {.timeoutMs = 400}},  // judged by its length
      {"/silent", false, "", "", {.timeoutMs = 400}},
      // Without a length only the server's close ends the body; a server that
      // falls silent sent part of it.
      {"/nolength-closed", true, "hello"},
      {"/nolength-silent", false, "", "", {.timeoutMs = 400}},
      // With no length announced, maxBytes is the download the caller chose; a
      // length above it abandons the transfer at the header.
      {"/endless", true, std::string(1000000, 'z'), "", {.maxBytes = 1000000}},
      {"/echo", false, "", "", {.maxBytes = 10}},
      {"/a/redir-rel", true, "target body", "/target"},
      {"/redir-abs", true, "target body", "/target"},
      {"/redir-empty", true, "second time"},  // no location: asked again
      {"/loop-a", false},                     // back to a URL already asked for
      {"/redir-404", false, "", "/status/404"},
      {"/status/503", false},  // asked again; the repeated answer is still an error
  };
  for (const Case& c : cases) {
    Download d = Get(server.url(c.path), dir.file("answer.bin"), c.options);
    EXPECT_EQ(d.ok, c.ok) << c.path;
    EXPECT_EQ(d.cookies, c.cookies) << c.path;
    EXPECT_EQ(ReadFileText(d.file, "<missing>"), c.ok ? c.body : "<missing>") << c.path;
    EXPECT_EQ(d.url, server.url(c.finalPath.empty() ? c.path : c.finalPath)) << c.path;
    EXPECT_LT(d.seconds, c.within > 0 ? c.within : c.options.timeoutMs / 1000.0 + 2.5) << c.path;
  }
}

// Names in a folder come from the final URL and never leave the folder; a
// redirect leaves only the final file behind.
TEST_F(HttpTest, FileNamesInAFolder) {
  const std::string folder = dir.path() + "dl/";
  const std::pair<std::string, std::string> cases[] = {
      {"/", "temp.html"},
      {"/", "temp(001).html"},  // made unique
      {"/dir/..", "__"},
      {"/a/redir-rel", "target"},
  };
  for (const auto& [path, name] : cases) {
    Download d = Get(server.url(path), folder);
    EXPECT_TRUE(d.ok) << path;
    EXPECT_EQ(d.file, folder + name) << path;
  }
  EXPECT_EQ(test::FolderNames(folder).size(), 4u);
}


TEST_F(HttpTest, RefusedUrlsSendNothing) {
  const std::string cases[] = {"ftp://" + host + "/echo", "http://", "http://:80/echo",
                               "http://user@/echo", "http://" + host + "/echo\r\nX-Injected: 1"};
  for (const std::string& url : cases) EXPECT_FALSE(Get(url, dir.file("x")).ok) << url;
  // Nor does a local file that cannot be made.
  EXPECT_FALSE(Get(server.url("/echo"), dir.path() + "no/such/folder/x").ok);
  EXPECT_TRUE(server.Requests().empty());
}

TEST(Https, VerifiesTheServerCertificate) {
  TempDir dir;
  for (std::string name : {"cert", "other"}) ASSERT_TRUE(test::MakeCertificate(dir.path(), name));
  ScriptServer server(dir.file("log"), dir.file("cert.pem"), dir.file("cert.key"));
  ASSERT_TRUE(server.ok());
  const std::string port = std::to_string(server.port());
  // Signed by nobody we trust, or trusted but for another name: refused
  // before anything is sent.
  for (const auto& [trusted, host, ok] :
       {std::tuple{"cert", "127.0.0.1", true}, {"other", "127.0.0.1", false},
        {"cert", "localhost", false}}) {
    test::ScopedEnv trust("SSL_CERT_FILE", dir.file(trusted + std::string(".pem")));
    std::size_t before = server.Requests().size();
    Download d = Get("https://" + std::string(host) + ":" + port + "/echo", dir.file("body"));
    EXPECT_EQ(d.ok, ok) << host << " trusting " << trusted;
    EXPECT_EQ(ReadFileText(d.file, "<missing>").rfind("GET /echo HTTP/1.1\r\n", 0) == 0, ok);
    EXPECT_EQ(server.Requests().size(), before + (ok ? 1 : 0));
  }
}

}  // namespace
}  // namespace velotag
