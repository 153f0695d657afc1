// The CDDB client: disc IDs from known tables, the command texts, the
// answer parser, and requests to a scripted CDDB server on 127.0.0.1.
#include "online/cddb.h"

#include <discid/discid.h>
#include <gtest/gtest.h>

#include <random>

#include "script_server.h"
#include "testutil.h"

namespace velotag {
namespace {

// A TOC from start addresses in frames as a drive reports them (00:02:00
// is 150); the last is the lead-out.
std::vector<TocEntry> Toc(const std::vector<int>& frames) {
  std::vector<TocEntry> toc;
  for (int f : frames)
    toc.push_back({0x10, static_cast<std::uint8_t>(f / 4500),
                   static_cast<std::uint8_t>(f / 75 % 60), static_cast<std::uint8_t>(f % 75)});
  return toc;
}

TEST(CddbId, KnownTables) {
  // Thirty tracks at one hour: digit sums of 26 add up to 780, beyond 255.
  std::vector<int> many(30, 3599 * 75);
  many.push_back(3700 * 75);
  struct Case {
    std::vector<int> frames;
    const char* id;
    const char* query;
  } cases[] = {
      {{150, 15000, 31500}, "0401a202", "cddb query 0401a202 2 150 15000 420"},
      {many, "0f00651e", nullptr},
      // The lead-out rounded to the nearest second.
      {{150, 31538}, "0201a201", "cddb query 0201a201 1 150 421"},
      {{150}, "", ""},
      {{}, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CddbDiscId(Toc(c.frames)), c.id);
    if (c.query) {
      EXPECT_EQ(CddbQueryText(Toc(c.frames)), c.query);
    }
  }
}

// libdiscid computes the same FreeDB ID from the same table; it is the
// second opinion on tables of every shape.
TEST(CddbId, AgreesWithLibdiscid) {
  std::vector<std::vector<int>> tables = {
      {150,    9700,   25887,  39297,  53795,  63735,  77517,  94877,
       107270, 123552, 135522, 148422, 161197, 174790, 192022, 205545,
       218010, 228700, 239172, 255202, 265747, 281562, 303602},
      {150, 15000, 31500},
      {150, 4500 * 80 + 74},  // one long track
  };
  std::mt19937 random(12);
  for (int n = 0; n < 60; ++n) {
    std::vector<int> t = {150 + static_cast<int>(random() % 20000)};
    const int tracks = 1 + static_cast<int>(random() % 99);
    for (int i = 0; i < tracks; ++i) t.push_back(t.back() + 300 + static_cast<int>(random() % 6000));
    if (t.back() < 400000) tables.push_back(t);  // libdiscid takes up to 90 minutes
  }
  DiscId* disc = discid_new();
  for (const std::vector<int>& t : tables) {
    std::vector<int> offsets = {t.back()};
    offsets.insert(offsets.end(), t.begin(), t.end() - 1);
    ASSERT_TRUE(discid_put(disc, 1, static_cast<int>(t.size()) - 1, offsets.data()))
        << t.size() << " " << t.back() << " " << discid_get_error_msg(disc);
    EXPECT_EQ(CddbDiscId(Toc(t)), discid_get_freedb_id(disc)) << t.size();
  }
  discid_free(disc);
}

TEST(CddbCommands, ReadCommandCategoriesAndKeys) {
  EXPECT_EQ(CddbReadCommand("0401a202", "rock"), "cddb read rock 0401a202");
  EXPECT_EQ(CddbReadCommand("0401a202", "  "), "cddb read misc 0401a202");
  EXPECT_EQ(CddbReadCommand("", "rock"), "");
  const std::pair<int, const char*> names[] = {{0, "data"}, {3, "misc"}, {4, "rock"},
                                                {10, "soundtrack"}, {11, "misc"}, {-1, "misc"}};
  for (auto [index, name] : names) EXPECT_EQ(CddbCategoryName(index), name) << index;
  const std::pair<const char*, bool> keys[] = {
      {"DTITLE", true}, {"dtitle", true}, {"TTITLE12", true}, {"EXTT3", true},
      {"PLAYORDER", true}, {"DISCID", true}, {"TITLE", false}, {"", false}, {"XDTITLE", false}};
  for (auto [key, known] : keys) EXPECT_EQ(IsXmcdKey(key), known) << key;
}

TEST(CddbCommands, GreetingAndServerAddress) {
  struct Hello {
    const char* email;
    int proto;
    const char* hello;
  } hellos[] = {
      {"me@example.org", 6, "me example.org \"Velotag\" 0.1"},
      {" first.last@mail.example.com ", 6, "first.last mail.example.com \"Velotag\" 0.1"},
      {"", 6, "Hollowcrag velotag.hollowcrag.example \"Velotag\" 0.1"},
      {"no-address", 6, "Hollowcrag velotag.hollowcrag.example \"Velotag\" 0.1"},
      {"@example.org", 6, "Hollowcrag velotag.hollowcrag.example \"Velotag\" 0.1"},
      {"a b@example.org", 6, "Hollowcrag velotag.hollowcrag.example \"Velotag\" 0.1"},
      {"me@example.org", 1, "me example.org Velotag 0.1"},
  };
  for (const Hello& h : hellos) EXPECT_EQ(CddbHello(h.email, h.proto, "0.1"), h.hello) << h.email;
  const std::pair<const char*, const char*> urls[] = {
      {"", "http://gnudb.gnudb.org/~cddb/cddb.cgi"},
      {"cddb.example:8880", "http://cddb.example:8880/~cddb/cddb.cgi"},
      {"http://127.0.0.1:81", "http://127.0.0.1:81/~cddb/cddb.cgi"},
      {"http://127.0.0.1:81/other.cgi", "http://127.0.0.1:81/other.cgi"}};
  for (auto [server, url] : urls) EXPECT_EQ(CddbServerUrl(server), url);
}

std::string Lines(const CddbResponse& r) {
  std::string out;
  for (const auto& [key, value] : r.lines) out += key + "|" + value + "\n";
  return out;
}

TEST(CddbParse, Answers) {
  struct Case {
    std::string text;
    int code;
    std::string message, lines;
  } cases[] = {
      {"200 rock 0401a202 A / B\r\n", 200, "200 rock 0401a202 A / B", ""},
      {"211 Found inexact matches\r\nrock 1 A / B\r\n jazz 2 C / D \r\nmisc 3 E\r\n.\r\nrock 4 late\r\n",
       211, "211 Found inexact matches", "|rock 1 A / B\n|jazz 2 C / D\n|misc 3 E\n"},
      // Comments and blank lines are skipped; a key that is no xmcd key
      // is a line of its own.
      {"210 rock x follows\r\n# xmcd\r\n\r\nDISCID=x\r\nFOO=bar\r\n.\r\n", 210,
       "210 rock x follows", "DISCID|DISCID=x\n|FOO=bar\n"},
      // A value over several lines of one key, in any case.
      {"210 r\r\nTTITLE0=Part one\r\nDTITLE=D\r\nttitle0= and two\r\n.", 210, "210 r",
       "TTITLE0|TTITLE0=Part one and two\nDTITLE|DTITLE=D\n"},
      {"210 r\r\nEXTD=\r\nEXTD=\r\n.", 210, "210 r", "EXTD|EXTD=\n"},
      // UTF-8 in first and following lines alike, and Latin-1 from an old server.
      {"210 r\r\nTTITLE0=\xd0\x9f\xd1\x80\xd0\xb5\r\nTTITLE0=\xd0\xbb\xd1\x8e\xd0\xb4\r\n"
       "DTITLE=Caf\xe9\r\n.",
       210, "210 r", "TTITLE0|TTITLE0=\xd0\x9f\xd1\x80\xd0\xb5\xd0\xbb\xd1\x8e\xd0\xb4\nDTITLE|DTITLE=Caf\xc3\xa9\n"},
      // Line feeds alone end lines too.
      {"211 m\nrock 1 A\nrock 2 B\n.\n", 211, "211 m", "|rock 1 A\n|rock 2 B\n"},
      {"202 No match for disc ID 0401a202.\r\n", 202, "202 No match for disc ID 0401a202.", ""},
      {"401 cddb read: entry not found.\r\nDTITLE=x\r\n", 401, "401 cddb read: entry not found.", ""},
      {"<html>busy</html>", 0, kCddbInternalError, ""},
      {"", 0, kCddbInternalError, ""},
  };
  for (const Case& c : cases) {
    CddbResponse r = ParseCddbResponse(c.text);
    EXPECT_EQ(r.code, c.code) << c.text;
    EXPECT_EQ(r.message, c.message) << c.text;
    EXPECT_EQ(Lines(r), c.lines) << c.text;
    EXPECT_EQ(r.lineCount, static_cast<int>(r.lines.size()));
  }
}

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(s[i] == '+' ? ' ' : s[i]);
    }
  }
  return out;
}

class CddbServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.ok()) << "scripted server did not start";
    client.servers = {"127.0.0.1:" + std::to_string(server.port()), "127.0.0.1:1"};
  }
  test::TempDir dir;
  test::ScriptServer server{dir.file("requests.jsonl")};
  CddbClient client;
};

TEST_F(CddbServerTest, AnswerCodes) {
  struct Case {
    std::string command;
    int server;
    int code;
    std::size_t lines;
    std::string firstValue;
  } cases[] = {
      {"cddb query 0401a202 2 150 15000 420", 0, 200, 0, ""},
      {"cddb query 11111111 1 150 60", 0, 210, 2, "rock 11111111 First / One"},
      {"cddb query 22222222 1 150 60", 0, 211, 3,
       "rock 22222222 T\xc3\xabst \xc3\x81rtist / \xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc"},
      {"cddb query 20202020 1 150 60", 0, 202, 0, ""},
      {"cddb query 40340340 1 150 60", 0, 403, 0, ""},
      {"cddb query 40940940 1 150 60", 0, 409, 0, ""},
      {"cddb query 50050050 1 150 60", 0, 500, 0, ""},
      {"cddb read rock 0401a202", 0, 210, 10, "DISCID=0401a202"},
      {"cddb read rock 40140140", 0, 401, 0, ""},
      // The second entry is configured elsewhere (nothing listens there).
      {"cddb read rock 0401a202", 1, 0, 0, ""},
  };
  for (const Case& c : cases) {
    CddbResponse r = CddbRequest(c.command, kCddbProtoLevel, c.server, client);
    EXPECT_EQ(r.code, c.code) << c.command;
    EXPECT_EQ(r.lines.size(), c.lines) << c.command;
    if (!c.firstValue.empty() && !r.lines.empty()) {
      EXPECT_EQ(r.lines[0].second, c.firstValue);
    }
    if (c.code == 0) {
      EXPECT_EQ(r.message, kCddbConnectionError);
    }
  }
  CddbResponse read = CddbRequest("cddb read rock 0401a202", kCddbProtoLevel, 0, client);
  ASSERT_EQ(read.lines.size(), 10u);
  EXPECT_EQ(read.lines[3].second, "TTITLE1=AC/DC: Back In Black");
  EXPECT_EQ(read.lines[4].second, "TTITLE2=../../x");
  // Nothing to send: no request at all.
  const std::size_t sent = server.Requests().size();
  EXPECT_EQ(CddbRequest("", kCddbProtoLevel, 0, client).message, kCddbNoAnswer);
  EXPECT_EQ(CddbRequest("cddb read rock 1", kCddbProtoLevel, 2, client).message, kCddbNoAnswer);
  EXPECT_EQ(server.Requests().size(), sent);
}

TEST_F(CddbServerTest, GreetsWithTheAddressAtLevelSix) {
  client.email = "ripper@example.org";
  client.clientVersion = "2.7";
  CddbRequest("cddb query 0401a202 2 150 15000 420", kCddbProtoLevel, 0, client);
  client.email.clear();
  CddbRequest("cddb query 0401a202 2 150 15000 420", kCddbProtoLevel, 0, client);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string expected[] = {
      "/~cddb/cddb.cgi?cmd=cddb query 0401a202 2 150 15000 420&hello=ripper example.org "
      "\"Velotag\" 2.7&proto=6",
      "/~cddb/cddb.cgi?cmd=cddb query 0401a202 2 150 15000 420&hello=Hollowcrag "
      "velotag.hollowcrag.example \"Velotag\" 2.7&proto=6"};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(PercentDecode(requests[i]["path"].string), expected[i]);
    // The same pairs go as the body.
    EXPECT_EQ(requests[i]["path"].string.substr(16), requests[i]["body"].string);
  }
}

}  // namespace
}  // namespace velotag
