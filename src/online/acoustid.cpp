#include "online/acoustid.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "online/digest.h"
#include "online/libofa.h"
#include "online/localdb.h"
#include "online/url.h"
#include "online/webtext.h"
#include "support/paths.h"
#include "support/strutil.h"

namespace velotag {

namespace {

using Json = nlohmann::json;

constexpr std::int64_t kMaxAnswerBytes = 4 << 20;

// The answer's shape is the service's to change: a member that is missing
// or of another type reads as empty, never as an error.
const Json* Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

std::string Text(const Json& object, const char* name) {
  const Json* m = Member(object, name);
  return m && m->is_string() ? m->get<std::string>() : std::string();
}

const Json& List(const Json& object, const char* name) {
  static const Json kEmpty = Json::array();
  const Json* m = Member(object, name);
  return m && m->is_array() ? *m : kEmpty;
}

// "A feat. B": the names with the join phrases the service gives.
std::string ArtistCredit(const Json& artists) {
  std::string credit;
  for (const Json& a : artists) credit += Text(a, "name") + Text(a, "joinphrase");
  return TrimSpaces(credit);
}

// The album a song is best known from: a plain album before a compilation
// or live album, an album before a single; the service's order otherwise.
std::string AlbumOf(const Json& recording) {
  std::string best;
  int bestRank = 4;
  for (const Json& group : List(recording, "releasegroups")) {
    std::string title = Text(group, "title");
    if (title.empty()) continue;
    bool album = Text(group, "type") == "Album";
    bool plain = List(group, "secondarytypes").empty();
    int rank = album && plain ? 0 : album ? 1 : plain ? 2 : 3;
    if (rank < bestRank) {
      best = title;
      bestRank = rank;
    }
  }
  return best;
}

const std::vector<std::string> kAnswerKeys = {"aid=", "rid=", "art=", "ttl=", "alb="};

}  // namespace

AcoustIdAnswer ParseAcoustIdAnswer(std::string_view json) {
  AcoustIdAnswer answer;
  Json root = Json::parse(json, nullptr, false);
  if (root.is_discarded() || !root.is_object()) return answer;
  const std::string status = Text(root, "status");
  if (status == "error") {
    answer.status = AcoustIdStatus::ServiceError;
    const Json* error = Member(root, "error");
    answer.error = error ? Text(*error, "message") : std::string();
    if (answer.error.empty()) answer.error = "unknown error";
    return answer;
  }
  if (status != "ok") return answer;
  answer.status = AcoustIdStatus::Ok;
  for (const Json& result : List(root, "results")) {
    const Json* score = Member(result, "score");
    for (const Json& recording : List(result, "recordings")) {
      AcoustIdMatch match;
      match.title = Text(recording, "title");
      match.artist = ArtistCredit(List(recording, "artists"));
      // A recording the service knows only by its ID names no song.
      if (match.title.empty() && match.artist.empty()) continue;
      match.score = score && score->is_number() ? score->get<double>() : 0;
      match.acoustId = Text(result, "id");
      match.recordingId = Text(recording, "id");
      match.album = AlbumOf(recording);
      answer.matches.push_back(std::move(match));
      break;
    }
  }
  return answer;
}

std::optional<AcoustIdMatch> BestAcoustIdMatch(const AcoustIdAnswer& answer, double minScore) {
  std::optional<AcoustIdMatch> best;
  for (const AcoustIdMatch& m : answer.matches)
    if (m.score >= minScore && (!best || m.score > best->score)) best = m;
  return best;
}

std::string AcoustIdLookupBody(const std::string& apiKey, int durationSeconds,
                               const std::string& fingerprint) {
  std::string body = BuildQueryString({{"client", TrimSpaces(apiKey)},
                                       {"duration", std::to_string(durationSeconds)},
                                       {"fingerprint", fingerprint},
                                       {"format", "json"}},
                                      true);
  // The "+" is the service's own separator of the meta names (a blank once
  // the form is decoded), so it goes unencoded.
  return body + "&meta=recordings+releasegroups";
}

ClassAcoustId::ClassAcoustId(AcoustIdOptions options)
    : options_(std::move(options)),
      programFolder_(WithTrailingSlash(options_.programFolder.empty() ? GetAppFolder()
                                                                       : options_.programFolder)),
      mpg123_(programFolder_, options_.mpg123Name),
      pacer_(kAcoustIdRequestsPerSecond, std::chrono::seconds(1)) {}

std::int32_t ClassAcoustId::GetID3infoByFinger(const std::string& fileName,
                                               std::vector<std::string>& lines,
                                               const std::string& dbFile) {
  lines.clear();
  lastError_.clear();
  keepGoing_ = true;
  AudioPrintOptions printOptions{programFolder_, &mpg123_, options_.decoderName,
                                 options_.decoderTimeoutMs, options_.pump,
                                 [this] { return keepGoing_; }};
  AudioPrint print;
  if (!ComputeAudioPrint(fileName, printOptions, print)) {
    if (keepGoing_) lastError_ = kAcoustIdNoPrint;
    return 0;
  }
  const std::string section =
      kAcoustIdSectionPrefix + Sha1Hex(std::to_string(print.durationSeconds) + ":" + print.fingerprint);
  std::vector<std::string> stored;
  GetDBSection(dbFile, section, stored);
  bool haveIds = false, haveRecording = false, haveSong = false;
  for (const std::string& line : stored) {
    std::string key = AsciiLower(line.substr(0, 4));
    if (std::find(kAnswerKeys.begin(), kAnswerKeys.end(), key) == kAnswerKeys.end()) continue;
    lines.push_back(line);
    haveIds |= key == "aid=";
    haveRecording |= key == "rid=";
    haveSong |= key == "art=" || key == "ttl=";
  }
  if (haveIds && haveRecording && haveSong) return static_cast<std::int32_t>(lines.size());
  lines.clear();

  AcoustIdMatch match;
  if (!Query(print, match)) return 0;
  std::string text = "[" + section + "]\r\n";
  for (const auto& [key, value] : {std::pair{"aid=", &match.acoustId}, {"rid=", &match.recordingId},
                                   {"art=", &match.artist}, {"ttl=", &match.title},
                                   {"alb=", &match.album}}) {
    if (value->empty()) continue;
    text += key + *value + "\r\n";
    lines.push_back(key + *value);
  }
  AddDBSection(dbFile, text, kAnswerKeys);
  return static_cast<std::int32_t>(lines.size());
}

bool ClassAcoustId::Query(const AudioPrint& print, AcoustIdMatch& match) {
  if (!pacer_.Wait(options_.pump, keepGoing_)) return false;
  const std::string body = AcoustIdLookupBody(options_.apiKey, print.durationSeconds, print.fingerprint);
  WebText answer = FetchWebText(ServiceBaseUrl(options_.server, kAcoustIdDefaultServer, "https") + kAcoustIdLookupPath, body,
                                options_.userAgent, options_.timeoutMs, kMaxAnswerBytes, keepGoing_,
                                options_.pump);
  if (!keepGoing_) return false;
  if (!answer.received) {
    lastError_ = kLibofaConnectionError;
    return false;
  }
  AcoustIdAnswer parsed = ParseAcoustIdAnswer(answer.body);
  if (parsed.status == AcoustIdStatus::ServiceError) {
    lastError_ = kAcoustIdServiceError + parsed.error;
    return false;
  }
  if (answer.status / 100 != 2) {
    lastError_ = kAcoustIdServiceError + std::string("HTTP ") + std::to_string(answer.status);
    return false;
  }
  if (parsed.status == AcoustIdStatus::Unreadable) {
    lastError_ = kAcoustIdParseError;
    return false;
  }
  std::optional<AcoustIdMatch> best = BestAcoustIdMatch(parsed, options_.minScore);
  if (!best) {
    lastError_ = kLibofaNotFound;
    return false;
  }
  match = std::move(*best);
  lastError_ = kLibofaSuccess;
  return true;
}

}  // namespace velotag
