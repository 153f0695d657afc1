#include "update/version.h"

#include <algorithm>
#include <cctype>

#include "support/numtext.h"
#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

constexpr std::size_t kTitleGuess = 14;  // "Velotag vX.X.X"

std::vector<std::string> SplitDots(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) return parts;
    start = dot + 1;
  }
}

std::size_t FindNoCase(const std::string& text, const std::string& what, std::size_t from = 0) {
  return AsciiLower(text).find(AsciiLower(what), from);
}

// The value of attribute `name` inside one tag's text, quotes removed.
bool AttributeValue(const std::string& tag, const std::string& name, std::string& value) {
  std::string lower = AsciiLower(tag);
  for (std::size_t at = lower.find(name); at != std::string::npos; at = lower.find(name, at + 1)) {
    // Only a whole attribute name counts ("data-name" is not "name").
    if (at == 0 || !std::isspace(static_cast<unsigned char>(lower[at - 1]))) continue;
    std::size_t p = at + name.size();
    while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
    if (p >= tag.size() || tag[p] != '=') continue;
    ++p;
    while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
    if (p >= tag.size()) return false;
    char quote = tag[p];
    std::size_t end;
    if (quote == '"' || quote == '\'') {
      end = tag.find(quote, ++p);
      if (end == std::string::npos) return false;
    } else {
      end = p;
      while (end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[end]))) ++end;
    }
    value = tag.substr(p, end - p);
    return true;
  }
  return false;
}

}  // namespace

int CompareVersions(const std::string& local, const std::string& remote) {
  if (local.empty() || remote.empty()) return kVersionError;
  std::vector<std::string> a = SplitDots(local), b = SplitDots(remote);
  std::size_t n = std::max(a.size(), b.size());
  a.resize(n);
  b.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    double l = LeadingNumber(a[i]), r = LeadingNumber(b[i]);
    if (r > l) return kRemoteNewer;
    if (l > r) return kLocalNewer;
  }
  return kVersionsEqual;
}

bool FindPageTitle(const std::string& page, std::string& title) {
  title.clear();
  std::size_t open = FindNoCase(page, "<title>");
  if (open == std::string::npos) return false;
  std::size_t start = open + 7;
  std::size_t close = FindNoCase(page, "</title>", start);
  title = close == std::string::npos ? Utf8Left(std::string_view(page).substr(start), kTitleGuess)
                                     : page.substr(start, close - start);
  return true;
}

bool VersionOfTitle(const std::string& title, std::string& version) {
  std::size_t v = title.find_last_of("vV");
  if (v == std::string::npos) {
    version.clear();
    return false;
  }
  version = title.substr(v + 1);
  return true;
}

std::string PublishedSha256(const std::string& page) {
  std::string lower = AsciiLower(page);
  for (std::size_t at = lower.find("<meta"); at != std::string::npos;
       at = lower.find("<meta", at + 5)) {
    std::size_t end = lower.find('>', at);
    if (end == std::string::npos) break;
    std::string tag = page.substr(at + 5, end - at - 5);
    std::string name, content;
    if (!AttributeValue(" " + tag, "name", name) || AsciiLower(TrimBlanks(name)) != "sha256")
      continue;
    if (!AttributeValue(" " + tag, "content", content)) continue;
    content = AsciiLower(TrimBlanks(content));
    if (content.size() == 64 &&
        std::all_of(content.begin(), content.end(),
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
      return content;
  }
  return {};
}

std::vector<std::string> VersionCheckLines(const std::string& caption, const std::string& page,
                                           const std::string& localVersion,
                                           bool* answered) {
  bool ignored = false;
  bool& ok = answered ? *answered : ignored;
  ok = false;
  std::string title;
  if (!FindPageTitle(page, title)) return {caption + ": unknown ERROR"};
  std::vector<std::string> lines = {caption + ": " + title};
  std::string remote;
  // A title without a version says nothing the user could act on, but the
  // page was had and read: not a failure.
  ok = true;
  if (!VersionOfTitle(title, remote)) return lines;
  const int order = CompareVersions(localVersion, remote);
  ok = order != kVersionError;
  switch (order) {
    case kVersionsEqual: lines.push_back(caption + ": You DON'T need to upgrade!"); break;
    case kLocalNewer: lines.push_back(caption + ": You need to upload the newer version!"); break;
    case kRemoteNewer: lines.push_back(caption + ": You need to upgrade!"); break;
    default: lines.push_back(caption + ": VERSION ERROR!"); break;
  }
  return lines;
}

}  // namespace velotag
