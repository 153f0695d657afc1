#include "support/numtext.h"

#include <gtest/gtest.h>

namespace velotag {
namespace {

TEST(Numbers, LeadingNumberReadsLikeTheOldConversion) {
  struct Case {
    const char* text;
    std::int32_t value;
  } const cases[] = {
      {"2005", 2005}, {"0099", 99},     {" 1 9 9 9", 1999}, {"12abc", 12},  {"-7", -7},
      {"+8", 8},      {"x12", 0},       {"", 0},            {"2.5", 2},     {"3.5", 4},
      {"-2.5", -2},   {"1.2.3", 1},     {"2147483648", 2147483647},         {".5", 0},
      {"7/12", 7},    {"--1", 0},       {"1e3", 1000},      {"1.5E1x", 15}, {"12e", 12},
      {"&H1F", 31},   {"&o17", 15},     {"&H", 0},          {"1 2", 12},    {"\t3\n0", 30},
  };
  for (const auto& c : cases) EXPECT_EQ(LeadingInteger(c.text), c.value) << c.text;
}

TEST(Numbers, WholeTextNumbers) {
  EXPECT_EQ(ParseNumber("17"), 17.0);
  EXPECT_EQ(ParseNumber(" 200 "), 200.0);
  EXPECT_EQ(ParseNumber("-1"), -1.0);
  EXPECT_EQ(ParseNumber("1e2"), 100.0);
  EXPECT_EQ(ParseNumber("12.5"), 12.5);
  EXPECT_FALSE(ParseNumber("(17)"));
  EXPECT_FALSE(ParseNumber("17a"));
  EXPECT_FALSE(ParseNumber(""));
  EXPECT_FALSE(ParseNumber("."));
  EXPECT_FALSE(ParseNumber("1e"));
}

}  // namespace
}  // namespace velotag
