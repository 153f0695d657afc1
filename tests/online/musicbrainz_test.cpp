#include "online/musicbrainz.h"

#include <gtest/gtest.h>

#include <discid/discid.h>

#include <cstdlib>

#include "mb_answer.h"
#include "script_server.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

const std::string kDiscId = "49HHV7Eb8UKF3aQiNmu1GR8vKTY-";

struct Toc {
  int first, last;
  std::int32_t leadOut;
  std::vector<std::int32_t> offsets;
};

// libdiscid's ID of the same table.
std::string LibdiscidId(const Toc& toc) {
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
  const std::pair<Toc, bool> cases[] = {
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
  std::vector<TocEntry> toc;
  for (int f : {150, 15363, 32314, 46592, 63414, 80489, -(95462 + 11400), 130000})
    toc.push_back({std::uint8_t(f < 0 ? kTocDataBit : 0), std::uint8_t(std::abs(f) / 4500),
                   std::uint8_t(std::abs(f) / 75 % 60), std::uint8_t(std::abs(f) % 75)});
  EXPECT_EQ(MusicBrainzTocDiscId(toc, 1), kDiscId);
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
