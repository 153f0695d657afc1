// The version check: the published title of the home page, its version and
// checksum, and how two version texts compare.
#pragma once

#include <string>
#include <vector>

namespace velotag {

// Results of CompareVersions.
inline constexpr int kVersionsEqual = 0;
inline constexpr int kLocalNewer = 1;
inline constexpr int kRemoteNewer = 2;
inline constexpr int kVersionError = -1;

// Compares part by part ("." separated) by numeric value, the shorter list
// padded with empty parts (0): "2.0" equals "2.0.0", "1.10" is above "1.9".
// kVersionError when either text is empty.
int CompareVersions(const std::string& local, const std::string& remote);

// The text after "<title>" (any case) up to "</title>", or its 14
// characters ("Velotag vX.X.X") when the end tag is missing; false when the
// page has no "<title>".
bool FindPageTitle(const std::string& page, std::string& title);

// The text after the title's last "v" (any case); false without one.
bool VersionOfTitle(const std::string& title, std::string& version);

// The SHA-256 the page publishes for the archive in
// <meta name="sha256" content="64 hex digits">, in lower case; "" when the
// page has none that is well formed.
std::string PublishedSha256(const std::string& page);

// The status lines "Check last version" adds for a page it has read;
// *answered is false when the page has no title, or its title's version
// would not compare.
std::vector<std::string> VersionCheckLines(const std::string& caption, const std::string& page,
                                           const std::string& localVersion,
                                           bool* answered = nullptr);

}  // namespace velotag
