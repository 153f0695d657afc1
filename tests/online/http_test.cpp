#include "online/http.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>

#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::ReadFileBytes;
using test::ScriptServer;
using test::TempDir;

std::string ReadText(const std::string& path) {
  if (GetPathType(path) != kPathFile) return "<missing>";
  Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

struct Download {
  bool ok = false;
  std::string url, file, cookies;
  double seconds = 0;
};

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ok()) << "scripted server did not start"; }

  Download Get(const std::string& url, const std::string& local, int timeoutMs = 5000,
               bool deleteOnFail = true, std::int64_t maxBytes = -1,
               const std::string& body = "", const std::string& cookies = "",
               const std::string& agent = "", const PumpFn& pump = {}, int hops = 5) {
    Download d;
    d.url = url;
    d.file = local;
    d.cookies = cookies;
    bool keepGoing = true;
    auto start = std::chrono::steady_clock::now();
    d.ok = HttpDownload(d.url, d.file, timeoutMs, hops, keepGoing, deleteOnFail, maxBytes, body,
                        d.cookies, agent, pump);
    d.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return d;
  }

  TempDir dir;
  ScriptServer server{dir.file("requests.jsonl")};
};

TEST_F(HttpTest, SendsTheRequestBytesExactly) {
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  const std::string ua = std::string("User-Agent: ") + kDefaultUserAgent + "\r\n";
  struct Case {
    std::string url, body, cookies, agent, expected;
  } const cases[] = {
      {server.url("/echo"), "", "", "",
       "GET /echo HTTP/1.1\r\nPragma: no-cache\r\nAccept: */*\r\nHost: " + host + "\r\n" + ua +
           "Connection: Close\r\n\r\n"},
      {server.url("/post"), "a=1&b=%20x", "", "libofa_example",
       "POST /post HTTP/1.1\r\nPragma: no-cache\r\nAccept: */*\r\nHost: " + host +
           "\r\nUser-Agent: libofa_example\r\nConnection: Close\r\n"
           "Content-type: application/x-www-form-urlencoded\r\nContent-length: 10\r\n\r\n"
           "a=1&b=%20x"},
      // Credentials stay out of the Host header; cookie lines get their
      // missing CR LF; a line break in the user agent becomes a blank.
      {"http://user:pw@" + host + "/echo", "", "Cookie: a=b", " two\r\nlines ",
       "GET /echo HTTP/1.1\r\nPragma: no-cache\r\nAccept: */*\r\nHost: " + host +
           "\r\nUser-Agent: two lines\r\nAuthorization: Basic dXNlcjpwdw==\r\nCookie: a=b\r\n"
           "Connection: Close\r\n\r\n"},
      // Entities, encoded separators and backslashes are normalised first.
      {"  http:\\\\" + host + "\\echo&#63;a%3d1&amp;b=2  ", "", "Cookie: x=1\r\n", "",
       "GET /echo?a%3d1&b=2 HTTP/1.1\r\nPragma: no-cache\r\nAccept: */*\r\nHost: " + host +
           "\r\n" + ua + "Cookie: x=1\r\nConnection: Close\r\n\r\n"},
  };
  for (const Case& c : cases) {
    Download d = Get(c.url, dir.file("echo.txt"), 5000, true, -1, c.body, c.cookies, c.agent);
    EXPECT_TRUE(d.ok) << c.url;
    EXPECT_EQ(ReadText(d.file), c.expected) << c.url;
  }
}

TEST_F(HttpTest, BasicAuthorisationFromTheUrl) {
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  Download in = Get("http://user:pa ss@" + host + "/auth", dir.file("auth.txt"));
  EXPECT_TRUE(in.ok);
  EXPECT_EQ(ReadText(in.file), "welcome");
  Download out = Get(server.url("/auth"), dir.file("noauth.txt"));
  EXPECT_FALSE(out.ok);  // 401
  EXPECT_EQ(GetPathType(out.file), kPathMissing);
}

TEST_F(HttpTest, ChunkedBodies) {
  std::string big;
  for (int i = 0; i < 4096; ++i)
    for (int b = 0; b < 256; ++b) big.push_back(static_cast<char>(b));
  struct Case {
    std::string path;
    bool ok;
    std::string body;  // kept with deleteOnFail off
  } const cases[] = {
      {"/chunked-split", true, "hello world"},
      {"/chunk-ext", true, "hello world"},  // extensions after ";" are ignored
      {"/chunk-hexprefix", true, "hello"},
      {"/chunk-big", true, big + "end"},
      // Broken framing, or a body that never reaches its last chunk, is not
      // a download, whatever the status line said.
      {"/chunk-bad", false, "hello"},
      {"/chunk-badend", false, ""},
      {"/chunk-huge", false, ""},
      {"/chunk-overflow", false, ""},
      {"/chunk-noend", false, "hello"},
  };
  for (const Case& c : cases) {
    Download d = Get(server.url(c.path), dir.file("chunk.bin"), 5000, false);
    EXPECT_EQ(d.ok, c.ok) << c.path;
    EXPECT_EQ(ReadText(d.file), c.body) << c.path;
    if (!c.ok) {
      Download gone = Get(server.url(c.path), dir.file("deleted.bin"), 5000, true);
      EXPECT_EQ(GetPathType(gone.file), kPathMissing) << c.path;
    }
  }
}

TEST_F(HttpTest, AChunkSplitAcrossReceivesIsWrittenOnlyWhole) {
  std::set<std::int64_t> sizesSeen;
  int pumps = 0;
  std::string file = dir.file("split.txt");
  Download d = Get(server.url("/chunked-split"), file, 5000, true, -1, "", "", "", [&] {
    ++pumps;
    sizesSeen.insert(GetLargeFileSize(file));
  });
  EXPECT_TRUE(d.ok);
  EXPECT_GE(pumps, 3);  // after every receive
  for (std::int64_t s : sizesSeen) EXPECT_TRUE(s == 0 || s == 5 || s == 11) << s;
  EXPECT_EQ(ReadText(file), "hello world");
}

TEST_F(HttpTest, Status100IsFollowedByTheRealHeader) {
  bool keepGoing = true;
  std::string cookies;
  HttpResult r = HttpRequestOnce(server.url("/continue"), dir.file("c.txt"), 5000, keepGoing, -1,
                                 "", cookies, "");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.protocol, "http/1.1");
  ASSERT_GE(r.headerCount, 1);
  EXPECT_EQ(r.headers[0], NameValue("x-second", "yes"));
  EXPECT_EQ(r.contentLength, 14);
  EXPECT_EQ(r.bytesWritten, 14);
  EXPECT_EQ(ReadText(dir.file("c.txt")), "after continue");
}

TEST_F(HttpTest, Redirects) {
  struct Case {
    std::string path;
    bool ok;
    std::string finalPath, body;
  } const cases[] = {
      {"/redir-rel", true, "/target", "target body"},
      {"/a/redir-rel", true, "/target", "target body"},
      {"/a/redir-noslash", true, "/target", "target body"},  // relative to the origin
      {"/redir-abs", true, "/target", "target body"},
      {"/redir-empty", true, "/redir-empty", "second time"},  // no location: asked again
      {"/loop-a", false, "/loop-a", ""},  // back to a URL already asked for
      {"/redir-404", false, "/missing", ""},
      {"/retry-503", false, "/retry-503", ""},  // the repeated answer is still an error
      {"/status/500", false, "/status/500", ""},
  };
  for (const Case& c : cases) {
    Download d = Get(server.url(c.path), dir.file("r.txt"));
    EXPECT_EQ(d.ok, c.ok) << c.path;
    EXPECT_EQ(d.url, server.url(c.finalPath)) << c.path;
    if (c.ok) {
      EXPECT_EQ(ReadText(d.file), c.body) << c.path;
    } else {
      EXPECT_EQ(GetPathType(d.file), kPathMissing) << c.path;
    }
  }
  // One hop is not enough for a redirect.
  EXPECT_FALSE(Get(server.url("/redir-rel"), dir.file("r1.txt"), 5000, true, -1, "", "", "", {}, 1).ok);
}

TEST_F(HttpTest, RedirectIntoAFolderLeavesOnlyTheFinalFile) {
  std::string folder = dir.path() + "downloads/";
  Download d = Get(server.url("/redir-rel"), folder);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.file, folder + "target");
  std::vector<FolderEntry> entries;
  EXPECT_EQ(ListFolder(folder, entries), 1);
}

TEST_F(HttpTest, FileNamesInAFolderComeFromTheUrl) {
  std::string folder = dir.path() + "dl/";
  struct Case {
    std::string path, name;
  } const cases[] = {
      {"/", "temp.html"},
      {"/", "temp(001).html"},  // made unique
      {"/dir/song.txt?x=1#top", "song.txt"},
      {"/dir/..", "__"},  // never leaves the folder
  };
  for (const Case& c : cases) {
    Download d = Get(server.url(c.path), folder);
    EXPECT_TRUE(d.ok) << c.path;
    EXPECT_EQ(d.file, folder + c.name) << c.path;
  }
}

TEST_F(HttpTest, CookiesComeBackAsCookieLines) {
  Download d = Get(server.url("/cookie"), dir.file("cookie.txt"));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.cookies, "Cookie: sid=abc123\r\nCookie: Path=/\r\nCookie: HttpOnly\r\n");
  Download echo = Get(server.url("/echo"), dir.file("echo.txt"), 5000, true, -1, "", d.cookies);
  EXPECT_NE(ReadText(echo.file).find("\r\nCookie: sid=abc123\r\nCookie: Path=/\r\n"), std::string::npos);
}

TEST_F(HttpTest, ALengthThatDiffersFromContentLengthFails) {
  Download kept = Get(server.url("/short"), dir.file("short.txt"), 5000, false);
  EXPECT_FALSE(kept.ok);
  EXPECT_EQ(ReadText(kept.file), std::string(50, 'y'));
  Download gone = Get(server.url("/short"), dir.file("short2.txt"));
  EXPECT_FALSE(gone.ok);
  EXPECT_EQ(GetPathType(gone.file), kPathMissing);
}

TEST_F(HttpTest, SilenceEndsTheBodyAfterTheTimeOut) {
  Download body = Get(server.url("/silent-body"), dir.file("s.txt"), 300);
  EXPECT_TRUE(body.ok);  // judged by its content length
  EXPECT_EQ(ReadText(body.file), "hello");
  EXPECT_LT(body.seconds, 3.0);
  Download none = Get(server.url("/silent"), dir.file("n.txt"), 300);
  EXPECT_FALSE(none.ok);
  EXPECT_LT(none.seconds, 3.0);
}

TEST_F(HttpTest, AClosedPortFailsAtConnect) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(s);  // the port is free and nobody listens
  Download d = Get("http://127.0.0.1:" + std::to_string(ntohs(sa.sin_port)) + "/", dir.file("x"));
  EXPECT_FALSE(d.ok);
  EXPECT_LT(d.seconds, 3.0);
}

TEST_F(HttpTest, EndlessAnswersAreBounded) {
  // By maxBytes: exactly that much is kept; with no length announced that
  // is the caller's chosen download.
  Download limited = Get(server.url("/endless"), dir.file("e1"), 5000, true, 1000000);
  EXPECT_TRUE(limited.ok);
  EXPECT_EQ(GetLargeFileSize(limited.file), 1000000);
  // By keepGoing, cleared from the pump.
  int pumps = 0;
  bool keepGoing = true;
  std::string url = server.url("/endless"), file = dir.file("e2"), cookies;
  bool ok = HttpDownload(url, file, 5000, 5, keepGoing, true, -1, "", cookies, "",
                         [&] { keepGoing = ++pumps < 20; });
  EXPECT_FALSE(ok);
  EXPECT_EQ(pumps, 20);
  EXPECT_EQ(GetPathType(file), kPathMissing);
  // A header that never ends.
  EXPECT_FALSE(Get(server.url("/endless-header"), dir.file("e3")).ok);
  // A content length above maxBytes abandons the transfer at the header.
  Download over = Get(server.url("/echo"), dir.file("e4"), 5000, false, 10);
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(GetLargeFileSize(over.file), 0);
}

TEST_F(HttpTest, UrlsThatAreRefusedBeforeAnythingIsSent) {
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  const std::string cases[] = {
      "ftp://" + host + "/echo",
      "http://",
      "http://:80/echo",
      "http://user@/echo",
      "http://" + host + "/echo\r\nX-Injected: 1",
  };
  for (const std::string& url : cases) {
    Download d = Get(url, dir.file("refused.txt"));
    EXPECT_FALSE(d.ok) << url;
  }
  EXPECT_TRUE(server.Requests().empty());
  // A local file that cannot be opened: nothing is sent either.
  EXPECT_FALSE(Get(server.url("/echo"), dir.path() + "no/such/folder/file").ok);
  EXPECT_TRUE(server.Requests().empty());
}

// A self-signed certificate for 127.0.0.1 made with the openssl command.
bool MakeCertificate(const std::string& cert, const std::string& key, const std::string& san) {
  test::ProcessResult r = test::RunProcess(
      {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=velotag test",
       "-addext", "subjectAltName=" + san});
  return r.exitCode == 0;
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(Https, VerifiesTheServerCertificate) {
  TempDir dir;
  ASSERT_TRUE(MakeCertificate(dir.file("cert.pem"), dir.file("key.pem"), "IP:127.0.0.1"));
  ASSERT_TRUE(MakeCertificate(dir.file("other.pem"), dir.file("otherkey.pem"), "IP:127.0.0.1"));
  ASSERT_TRUE(MakeCertificate(dir.file("named.pem"), dir.file("namedkey.pem"), "DNS:example.test"));
  struct Case {
    std::string serverCert, serverKey, trusted;
    bool ok;
  } const cases[] = {
      {"cert.pem", "key.pem", "cert.pem", true},
      {"cert.pem", "key.pem", "other.pem", false},     // signed by nobody we trust
      {"named.pem", "namedkey.pem", "named.pem", false},  // trusted, but for another name
  };
  for (const Case& c : cases) {
    TempDir logDir;
    ScriptServer server(logDir.file("log"), dir.file(c.serverCert), dir.file(c.serverKey));
    ASSERT_TRUE(server.ok());
    ScopedEnv trust("SSL_CERT_FILE", dir.file(c.trusted));
    std::string url = server.url("/echo"), file = logDir.file("body"), cookies;
    bool keepGoing = true;
    bool ok = HttpDownload(url, file, 5000, 5, keepGoing, true, -1, "", cookies, "");
    EXPECT_EQ(ok, c.ok) << c.serverCert << " trusting " << c.trusted;
    if (c.ok) {
      EXPECT_EQ(ReadText(file).rfind("GET /echo HTTP/1.1\r\n", 0), 0u);
    } else {
      EXPECT_TRUE(server.Requests().empty()) << "a request went out before verification";
    }
  }
}

}  // namespace
}  // namespace velotag
