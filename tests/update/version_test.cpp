#include "update/version.h"

#include <gtest/gtest.h>

#include "update/upgrade.h"

namespace velotag {
namespace {

TEST(CompareVersions, ComparesPartsByNumberPaddingTheShorter) {
  struct Case {
    const char *local, *remote;
    int expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"1.9.5", "1.10.0", kRemoteNewer},  // numbers, not text
           {"2.0.0", "2.0", kVersionsEqual},
           {"2.0", "2.0.0", kVersionsEqual},
           {"1.2", "1.2.1", kRemoteNewer},
           {"1.3", "1.2.9", kLocalNewer},
           {"1..3", "1.0.3", kVersionsEqual},  // an empty part is 0
           {"0.1.0", "", kVersionError},
           {"", "1.0", kVersionError}}) {
    EXPECT_EQ(CompareVersions(c.local, c.remote), c.expected) << c.local << " / " << c.remote;
  }
}

TEST(HomePage, TitleVersionAndChecksum) {
  const std::string sha(64, 'a');
  const std::string upper(64, 'B');
  struct Case {
    std::string page;
    bool hasTitle;
    std::string title, sha256;
  };
  for (const Case& c : std::vector<Case>{
           {"<html><TITLE>Velotag v1.2.3</Title><meta name=\"sha256\" content=\"" + sha + "\">",
            true, "Velotag v1.2.3", sha},
           // No end tag: as long as "Velotag vX.X.X".
           {"<title>Velotag v1.2.3 is out", true, "Velotag v1.2.3", ""},
           {"<h1>no title</h1><meta content='" + upper + "' NAME=sha256 >", false, "",
            std::string(64, 'b')},
           // Only a well-formed checksum under that very name counts.
           {"<title></title><meta name=\"sha256\" content=\"" + sha.substr(1) + "\">", true, "", ""},
           {"<title>x</title><meta name=\"sha256\" content=\"" + std::string(64, 'g') + "\">", true,
            "x", ""},
           {"<title>x</title><meta data-name=\"sha256\" content=\"" + sha + "\">", true, "x", ""}}) {
    std::string title;
    EXPECT_EQ(FindPageTitle(c.page, title), c.hasTitle) << c.page;
    EXPECT_EQ(title, c.title) << c.page;
    EXPECT_EQ(PublishedSha256(c.page), c.sha256) << c.page;
  }
}

TEST(HomePage, UpdateHostDefaultsToHttps) {
  for (const auto& [setting, url] : std::vector<std::pair<std::string, std::string>>{
           {"", kDefaultUpdateHost},
           {"127.0.0.1:8443", "https://127.0.0.1:8443"},
           {" HTTP://example.org/ ", "http://example.org"},
           {"https://example.org:444", "https://example.org:444"},
           {"ftp://example.org", ""}}) {
    EXPECT_EQ(UpdateHomeUrl(setting), url) << setting;
  }
  EXPECT_EQ(std::string(kDefaultUpdateHost).rfind("https://", 0), 0u);
}

}  // namespace
}  // namespace velotag
