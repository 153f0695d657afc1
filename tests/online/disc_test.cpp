// The disc services' clients: CDDB and MusicBrainz disc IDs against known
// tables and libdiscid, the CDDB answer parser, and MusicBrainz lookups on a
// scripted service (the CD window's tests and the CLI's ask a scripted CDDB
// server).
#include <discid/discid.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "mb_answer.h"
#include "online/cddb.h"
#include "online/musicbrainz.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

// A TOC from addresses in frames as a drive reports them, the last the
// lead-out; a negative address is a data track's.
std::vector<TocEntry> Toc(const std::vector<int>& frames) {
  std::vector<TocEntry> toc;
  for (int f : frames) {
    const int a = std::abs(f);
    toc.push_back({std::uint8_t(f < 0 ? kTocDataBit : 0), std::uint8_t(a / 4500), std::uint8_t(a / 75 % 60),
                   std::uint8_t(a % 75)});
  }
  return toc;
}

TEST(CddbId, KnownTablesAndLibdiscid) {
  EXPECT_EQ(CddbQueryText(Toc({150, 15000, 31500})), "cddb query 0401a202 2 150 15000 420");
  EXPECT_EQ(CddbQueryText(Toc({150, 31538})), "cddb query 0201a201 1 150 421");  // rounded
  EXPECT_EQ(CddbDiscId(Toc({150})), "");
  // libdiscid computes the same ID from random tables (digit sums beyond 255
  // among them) and an 80-minute track.
  std::vector<std::vector<int>> tables = {{150, 4500 * 80 + 74}};
  std::mt19937 random(12);
  for (int n = 0; n < 60; ++n) {
    std::vector<int> t = {150 + static_cast<int>(random() % 20000)};
    for (int i = 1 + static_cast<int>(random() % 99); i > 0; --i)
      t.push_back(t.back() + 300 + static_cast<int>(random() % 6000));
    if (t.back() < 400000) tables.push_back(t);  // libdiscid takes up to 90 minutes
  }
  DiscId* disc = discid_new();
  for (const std::vector<int>& t : tables) {
    std::vector<int> offsets = {t.back()};
    offsets.insert(offsets.end(), t.begin(), t.end() - 1);
    ASSERT_TRUE(discid_put(disc, 1, static_cast<int>(t.size()) - 1, offsets.data()));
    EXPECT_EQ(CddbDiscId(Toc(t)), discid_get_freedb_id(disc));
  }
  discid_free(disc);
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
    std::string lines;
  } cases[] = {
      {"211 Found\r\nrock 1 A / B\r\n jazz 2 C \r\n# note\r\n\r\n.\r\nrock 4 late\r\n", 211,
       "|rock 1 A / B\n|jazz 2 C\n"},
      // A value over several lines of one key, in any case; a key that is no
      // xmcd key is a line of its own; an empty value is still a line.
      {"210 r\r\nTTITLE0=Part one\r\nFOO=bar\r\nttitle0= and two\r\nEXTD=\r\n.", 210,
       "TTITLE0|TTITLE0=Part one and two\n|FOO=bar\nEXTD|EXTD=\n"},
      // UTF-8 in following lines too, and Latin-1 from an old server.
      {"210 r\r\nTTITLE0=\xd0\x9f\xd1\x80\r\nTTITLE0=\xd0\xb5\r\nDTITLE=Caf\xe9\r\n.", 210,
       "TTITLE0|TTITLE0=\xd0\x9f\xd1\x80\xd0\xb5\nDTITLE|DTITLE=Caf\xc3\xa9\n"},
      {"211 m\nrock 1 A\n.\n", 211, "|rock 1 A\n"},  // line feeds alone
      {"401 not found.\r\nDTITLE=x\r\n", 401, ""},
      {"<html>busy</html>", 0, ""},
  };
  for (const Case& c : cases) {
    CddbResponse r = ParseCddbResponse(c.text);
    EXPECT_EQ(r.code, c.code) << c.text;
    EXPECT_EQ(r.message, c.code ? c.text.substr(0, c.text.find_first_of("\r\n")) : kCddbInternalError);
    EXPECT_EQ(Lines(r), c.lines) << c.text;
  }
}


const std::string kDiscId = "49HHV7Eb8UKF3aQiNmu1GR8vKTY-";

struct TocTable {
  int first, last;
  std::int32_t leadOut;
  std::vector<std::int32_t> offsets;
};

// libdiscid's ID of the same table.
std::string LibdiscidId(const TocTable& toc) {
  std::vector<int> offsets(100, 0);
  offsets[0] = toc.leadOut;
  for (std::size_t i = 0; i < toc.offsets.size(); ++i) offsets[static_cast<std::size_t>(toc.first) + i] = toc.offsets[i];
  DiscId* disc = discid_new();
  std::string id = discid_put(disc, toc.first, toc.last, offsets.data()) ? discid_get_id(disc) : "";
  discid_free(disc);
  return id;
}

// libdiscid's own example, and libdiscid's ID of other tables; no ID for a
// table no CD has.
TEST(MusicBrainzDiscId, FromTablesOfContents) {
  EXPECT_EQ(MusicBrainzDiscId(1, 6, 95462, {150, 15363, 32314, 46592, 63414, 80489}), kDiscId);
  std::vector<std::int32_t> full;
  for (int i = 0; i < 99; ++i) full.push_back(150 + i * 4000);
  const std::pair<TocTable, bool> cases[] = {
      {{1, 1, 20000, {150}}, true},          {{3, 5, 60000, {150, 20000, 40000}}, true},
      {{1, 99, 400000, full}, true},         {{0, 2, 30000, {150, 15000, 20000}}, false},
      {{2, 1, 30000, {}}, false},            {{1, 3, 30000, {150, 15000}}, false},
      {{1, 2, 30000, {15000, 15000}}, false},
  };
  for (const auto& [toc, valid] : cases) {
    const std::string id = MusicBrainzDiscId(toc.first, toc.last, toc.leadOut, toc.offsets);
    EXPECT_EQ(id, valid ? LibdiscidId(toc) : "") << toc.first << "-" << toc.last;
    EXPECT_EQ(id.empty(), !valid);
  }
}

// An enhanced CD's data session stays out of its ID (its table as a drive
// reports it, in MSF frames; a negative number is the data track).
TEST(MusicBrainzDiscId, OfAnEnhancedCd) {
  EXPECT_EQ(MusicBrainzTocDiscId(Toc({150, 15363, 32314, 46592, 63414, 80489, -(95462 + 11400), 130000}), 1),
            kDiscId);
}

TEST(MusicBrainz, LookupsAgainstAScriptedService) {
  test::TempDir dir;
  const std::string root = dir.path() + "root/";
  test::ScriptServer server{dir.file("requests.jsonl"), "", "", root};
  ASSERT_TRUE(server.ok());
  for (const auto& [prefix, xml] : std::vector<std::pair<std::string, std::string>>{
           {"found", test::MusicBrainzFoundAnswer(kDiscId)},
           {"empty", R"(<metadata><disc id="x"><release-list count="0"></release-list></disc></metadata>)"},
           {"garbage", "this is no XML at all"}}) {
    ASSERT_TRUE(CreatePath(root + prefix + "/ws/2/discid"));
    test::WriteFileText(root + prefix + "/ws/2/discid/" + kDiscId, xml);
  }
  int pumps = 0;
  auto client = [&](const std::string& prefix, int timeoutMs) {
    return MusicBrainzClient({server.url("/" + prefix), MusicBrainzUserAgent("0.1.0", "test@example"),
                              timeoutMs, [&pumps] { ++pumps; }});
  };
  const struct {
    std::string prefix;
    int timeoutMs;
    MbStatus status;
    int httpStatus;
    std::string message;
  } cases[] = {
      {"found", 5000, MbStatus::Found, 200, "2 release(s)"},
      {"empty", 5000, MbStatus::NotFound, 200, "Not found"},
      {"garbage", 5000, MbStatus::Unreadable, 200, "XML parse error"},
      {"slow/found", 500, MbStatus::ConnectionError, 0, "Connection error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefix + " in " + std::to_string(c.timeoutMs) + " ms");
    MbLookup found = client(c.prefix, c.timeoutMs).LookupDisc(kDiscId);
    EXPECT_EQ(found.status, c.status);
    EXPECT_EQ(found.httpStatus, c.httpStatus);
    EXPECT_EQ(found.message, c.message);
    EXPECT_EQ(found.releases.size(), c.status == MbStatus::Found ? 2u : 0u);
  }
  EXPECT_GT(pumps, 0);
  const std::string raw = server.Requests()[0]["raw"].string;
  EXPECT_EQ(raw.rfind("GET /found/ws/2/discid/" + kDiscId + "?inc=recordings+artist-credits HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(raw.find("\r\nUser-Agent: Velotag/0.1.0 ( test@example )\r\n"), std::string::npos);
  // An ID that is no disc ID never reaches the URL.
  std::size_t asked = server.Requests().size();
  EXPECT_EQ(client("found", 5000).LookupDisc("../../x?y").status, MbStatus::NotFound);
  EXPECT_EQ(server.Requests().size(), asked);
}

}  // namespace
}  // namespace velotag
