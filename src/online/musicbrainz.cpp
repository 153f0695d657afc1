#include "online/musicbrainz.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "online/digest.h"
#include "online/url.h"
#include "online/webtext.h"
#include "online/xml.h"
#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

constexpr std::int64_t kMaxAnswerBytes = 8 << 20;

// Base64 in the service's alphabet: "." "_" and "-" stand for "+" "/" and
// "=", so that the ID can be part of a URL.
std::string DiscIdBase64(const std::array<std::uint8_t, 20>& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t n = static_cast<std::uint32_t>(bytes[i]) << 16;
    std::size_t have = bytes.size() - i;
    if (have > 1) n |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (have > 2) n |= bytes[i + 2];
    for (std::size_t k = 0; k < 4; ++k)
      text += k <= have ? kAlphabet[(n >> (18 - 6 * k)) & 63] : '-';
  }
  return text;
}

// The node list of the XML reader as a tree: children in document order.
class XmlTree {
 public:
  explicit XmlTree(const ClassXML& xml) : nodes_(xml.nodes()), children_(nodes_.size()) {
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      std::int32_t p = nodes_[i].parent;
      if (p >= 0 && static_cast<std::size_t>(p) < nodes_.size())
        children_[static_cast<std::size_t>(p)].push_back(i);
      else
        roots_.push_back(i);
    }
  }

  std::vector<std::size_t> Children(std::size_t node, std::string_view name) const {
    std::vector<std::size_t> found;
    for (std::size_t c : children_[node])
      if (TextEquals(nodes_[c].name, name)) found.push_back(c);
    return found;
  }
  std::optional<std::size_t> Child(std::size_t node, std::string_view name) const {
    for (std::size_t c : children_[node])
      if (TextEquals(nodes_[c].name, name)) return c;
    return std::nullopt;
  }
  // The text of the named child; empty when there is none.
  std::string Text(std::size_t node, std::string_view name) const {
    std::optional<std::size_t> c = Child(node, name);
    return c ? nodes_[*c].text : std::string();
  }
  std::string Attribute(std::size_t node, std::string_view name) const {
    for (const auto& [key, value] : nodes_[node].attributes)
      if (TextEquals(key, name)) return value;
    return {};
  }
  std::optional<std::size_t> Root(std::string_view name) const {
    for (std::size_t r : roots_)
      if (TextEquals(nodes_[r].name, name)) return r;
    return std::nullopt;
  }
  // The path of names below node, first match at every step.
  std::optional<std::size_t> Find(std::size_t node, std::initializer_list<std::string_view> path) const {
    std::optional<std::size_t> at = node;
    for (std::string_view name : path) {
      at = Child(*at, name);
      if (!at) break;
    }
    return at;
  }

 private:
  const std::vector<XmlNode>& nodes_;
  std::vector<std::vector<std::size_t>> children_;
  std::vector<std::size_t> roots_;
};

int Number(const std::string& text) {
  int n = 0;
  for (char c : TrimSpaces(text)) {
    if (c < '0' || c > '9' || n > 100000000) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The names as credited, joined by the credit's own phrases ("A feat. B").
std::string ArtistCredit(const XmlTree& tree, std::optional<std::size_t> credit) {
  if (!credit) return {};
  std::string text;
  for (std::size_t name : tree.Children(*credit, "name-credit")) {
    std::string shown = tree.Text(name, "name");
    if (shown.empty()) {
      std::optional<std::size_t> artist = tree.Child(name, "artist");
      if (artist) shown = tree.Text(*artist, "name");
    }
    text += shown + tree.Attribute(name, "joinphrase");
  }
  return TrimSpaces(text);
}

// The disc of the release that was looked up.
std::optional<std::size_t> MatchingMedium(const XmlTree& tree, std::size_t release,
                                          const std::string& discId, int& count) {
  std::optional<std::size_t> list = tree.Child(release, "medium-list");
  if (!list) return std::nullopt;
  std::vector<std::size_t> media = tree.Children(*list, "medium");
  count = static_cast<int>(media.size());
  for (std::size_t medium : media) {
    std::optional<std::size_t> discs = tree.Child(medium, "disc-list");
    if (!discs) continue;
    for (std::size_t disc : tree.Children(*discs, "disc"))
      if (tree.Attribute(disc, "id") == discId) return medium;
  }
  if (media.empty()) return std::nullopt;
  return media.front();
}

MbRelease ReadRelease(const XmlTree& tree, std::size_t node, const std::string& discId) {
  MbRelease release;
  release.id = tree.Attribute(node, "id");
  release.title = tree.Text(node, "title");
  release.artist = ArtistCredit(tree, tree.Child(node, "artist-credit"));
  release.date = tree.Text(node, "date");
  release.country = tree.Text(node, "country");
  std::optional<std::size_t> medium = MatchingMedium(tree, node, discId, release.discCount);
  if (!medium) return release;
  release.discNumber = std::max(1, Number(tree.Text(*medium, "position")));
  std::optional<std::size_t> list = tree.Child(*medium, "track-list");
  if (!list) return release;
  for (std::size_t t : tree.Children(*list, "track")) {
    MbTrack track;
    track.position = Number(tree.Text(t, "position"));
    std::optional<std::size_t> recording = tree.Child(t, "recording");
    track.title = tree.Text(t, "title");
    track.artist = ArtistCredit(tree, tree.Child(t, "artist-credit"));
    track.lengthMs = Number(tree.Text(t, "length"));
    if (recording) {
      track.recordingId = tree.Attribute(*recording, "id");
      if (track.title.empty()) track.title = tree.Text(*recording, "title");
      if (track.artist.empty()) track.artist = ArtistCredit(tree, tree.Child(*recording, "artist-credit"));
      if (track.lengthMs == 0) track.lengthMs = Number(tree.Text(*recording, "length"));
    }
    if (track.artist.empty()) track.artist = release.artist;
    if (track.position >= 1) release.tracks.push_back(std::move(track));
  }
  std::stable_sort(release.tracks.begin(), release.tracks.end(),
                   [](const MbTrack& a, const MbTrack& b) { return a.position < b.position; });
  return release;
}

std::string NoControls(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  return text;
}

}  // namespace

std::string MusicBrainzDiscId(int firstTrack, int lastTrack, std::int32_t leadOut,
                              const std::vector<std::int32_t>& trackOffsets) {
  if (firstTrack < 1 || lastTrack > 99 || lastTrack < firstTrack ||
      trackOffsets.size() != static_cast<std::size_t>(lastTrack - firstTrack + 1))
    return {};
  std::int32_t previous = -1;
  for (std::int32_t offset : trackOffsets) {
    if (offset <= previous) return {};
    previous = offset;
  }
  if (leadOut <= previous) return {};
  char buffer[32];  // room for any int the format may be given
  std::string text;
  std::snprintf(buffer, sizeof buffer, "%02X%02X%08X", firstTrack, lastTrack,
                static_cast<unsigned>(leadOut));
  text += buffer;
  for (int track = 1; track <= 99; ++track) {
    bool present = track >= firstTrack && track <= lastTrack;
    std::snprintf(buffer, sizeof buffer, "%08X",
                  present ? static_cast<unsigned>(trackOffsets[static_cast<std::size_t>(track - firstTrack)]) : 0u);
    text += buffer;
  }
  return DiscIdBase64(Sha1(text));
}

std::string MusicBrainzTocDiscId(const std::vector<TocEntry>& toc, int firstTrack) {
  if (toc.size() < 2) return {};
  const std::size_t tracks = toc.size() - 1;
  std::size_t audio = tracks;
  while (audio > 1 && IsDataEntry(toc[audio - 1])) --audio;
  std::int32_t leadOut = TocFrames(toc[audio]);
  // An image of such a disc may hold no gap: the audio ends at the data.
  if (audio < tracks && leadOut - kSessionGap > TocFrames(toc[audio - 1]))
    leadOut -= kSessionGap;
  std::vector<std::int32_t> offsets;
  for (std::size_t i = 0; i < audio; ++i) offsets.push_back(TocFrames(toc[i]));
  return MusicBrainzDiscId(firstTrack, firstTrack + static_cast<int>(audio) - 1, leadOut, offsets);
}

std::string MusicBrainzUserAgent(const std::string& version, const std::string& contact) {
  return "Velotag/" + version + " ( " + contact + " )";
}

MbLookup ParseMusicBrainzDiscAnswer(const std::string& xmlText, const std::string& discId) {
  MbLookup result;
  result.status = MbStatus::Unreadable;
  result.message = "XML parse error";
  ClassXML xml;
  if (!xml.XML_str(xmlText)) return result;
  XmlTree tree(xml);
  std::optional<std::size_t> root = tree.Root("metadata");
  if (!root) return result;
  result.status = MbStatus::NotFound;
  result.message = "Not found";
  std::optional<std::size_t> list = tree.Find(*root, {"disc", "release-list"});
  if (!list) return result;
  for (std::size_t release : tree.Children(*list, "release"))
    result.releases.push_back(ReadRelease(tree, release, discId));
  if (!result.releases.empty()) {
    result.status = MbStatus::Found;
    result.message = std::to_string(result.releases.size()) + " release(s)";
  }
  return result;
}

std::string MusicBrainzReleaseLabel(const MbRelease& release) {
  std::string label = release.artist + " / " + release.title;
  std::string details = release.date;
  if (!release.country.empty()) details += (details.empty() ? "" : ", ") + release.country;
  if (!details.empty()) label += " (" + details + ")";
  if (release.discCount > 1)
    label += " (disc " + std::to_string(release.discNumber) + "/" + std::to_string(release.discCount) + ")";
  return NoControls(label);
}

std::vector<std::string> MusicBrainzXmcdLines(const MbRelease& release) {
  std::vector<std::string> lines;
  lines.push_back("DTITLE=" + NoControls(release.artist + " / " + release.title));
  if (release.date.size() >= 4 && Number(release.date.substr(0, 4)) > 0)
    lines.push_back("DYEAR=" + release.date.substr(0, 4));
  for (const MbTrack& track : release.tracks) {
    std::string title = track.artist == release.artist ? track.title
                                                       : track.artist + " / " + track.title;
    lines.push_back("TTITLE" + std::to_string(track.position - 1) + "=" + NoControls(title));
  }
  return lines;
}

MusicBrainzClient::MusicBrainzClient(MusicBrainzOptions options)
    : options_(std::move(options)), pacer_(1, std::chrono::seconds(1)) {}

MbLookup MusicBrainzClient::LookupDisc(const std::string& discId) {
  MbLookup result;
  result.message = "Connection error";
  keepGoing_ = true;
  // Only the service's own characters go into the URL.
  if (discId.empty() ||
      discId.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") !=
          std::string::npos) {
    result.status = MbStatus::NotFound;
    result.message = "Not found";
    return result;
  }
  if (!pacer_.Wait(options_.pump, keepGoing_)) return result;
  WebText answer = FetchWebText(
      ServiceBaseUrl(options_.server, kMusicBrainzDefaultServer, "https") + kMusicBrainzDiscPath + discId + kMusicBrainzDiscQuery, "",
      options_.userAgent, options_.timeoutMs, kMaxAnswerBytes, keepGoing_, options_.pump);
  if (!answer.received) return result;
  if (answer.status == 404) {
    result.status = MbStatus::NotFound;
    result.httpStatus = 404;
    result.message = "Not found";
    return result;
  }
  if (answer.status / 100 != 2) {
    result.status = MbStatus::ServiceError;
    result.httpStatus = answer.status;
    ClassXML xml;
    xml.XML_str(answer.body);
    std::string text = TrimSpaces(xml.GetValue("error<text", "<", true));
    result.message = "HTTP " + std::to_string(answer.status) + (text.empty() ? "" : " " + text);
    return result;
  }
  result = ParseMusicBrainzDiscAnswer(answer.body, discId);
  result.httpStatus = answer.status;
  return result;
}

}  // namespace velotag
