#include "library/statuslog.h"

#include <gtest/gtest.h>

#include <regex>

#include "library/ui.h"

namespace velotag {
namespace {

// Lines split, trimmed and stamped; the oldest go past the cap; addresses
// only from the "* Webpage:" lines.
TEST(StatusLog, LinesCapAndAddresses) {
  StatusLog log;
  auto added = log.Add("a\r\n\r\n  b  ");
  ASSERT_EQ(added.size(), 3u);
  EXPECT_TRUE(std::regex_match(added[0].substr(0, 11), std::regex(R"(\[\d\d:\d\d:\d\d\] )")));
  EXPECT_EQ(added[0].substr(11), "a");
  EXPECT_EQ(added[1], added[0].substr(0, 11));  // the blank line: its stamp alone
  EXPECT_EQ(added[2].substr(11), "b");
  EXPECT_TRUE(log.Add("").empty());
  EXPECT_EQ(log.Add("plain", 10, false), std::vector<std::string>{"plain"});
  EXPECT_EQ(log.Lines().size(), 4u);
  for (int i = 0; i < kStatusMaxLines; ++i) log.Add(std::to_string(i), kStatusMaxLines, false);
  log.Add("x\r\ny", kStatusMaxLines, false);
  ASSERT_EQ(log.Lines().size(), static_cast<std::size_t>(kStatusMaxLines));
  EXPECT_EQ(log.Lines().front(), "2");
  EXPECT_EQ(log.Lines().back(), "y");
  EXPECT_EQ(StatusLineAddress("[10:00:00] * Webpage: HTTP://example.org/x  "), "HTTP://example.org/x");
  EXPECT_EQ(StatusLineAddress("[10:00:00] Changed 3 MP3(s)"), "");
  EXPECT_EQ(StatusLineAddress("https://secure.example"), "");
}

}  // namespace
}  // namespace velotag
