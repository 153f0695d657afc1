// The CDDB client: disc IDs against known tables and libdiscid, and the
// answer parser (the CD window's tests and the CLI's ask a scripted server).
#include "online/cddb.h"

#include <discid/discid.h>
#include <gtest/gtest.h>

#include <random>

#include "testutil.h"

namespace velotag {
namespace {

// A TOC from addresses in frames as a drive reports them; the last is the lead-out.
std::vector<TocEntry> Toc(const std::vector<int>& frames) {
  std::vector<TocEntry> toc;
  for (int f : frames)
    toc.push_back({0x10, static_cast<std::uint8_t>(f / 4500), static_cast<std::uint8_t>(f / 75 % 60),
                   static_cast<std::uint8_t>(f % 75)});
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

}  // namespace
}  // namespace velotag
