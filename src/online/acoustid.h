// Identifying a song through the AcoustID web service: the Chromaprint
// fingerprint of its first two minutes and its duration are looked up at
// /v2/lookup, and the best-scoring recording gives artist, title and album.
// Answers are kept in the local database (LocalDB.ini), so a song found once
// is found again without asking.
//
// Everything runs on the caller's thread; the caller's pump is called while
// the decoder, the rate limit or the network keeps it waiting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/audioprint.h"
#include "online/mpg123.h"
#include "online/pacer.h"
#include "online/socket.h"

namespace velotag {

inline constexpr const char* kAcoustIdDefaultServer = "https://api.acoustid.org";
inline constexpr const char* kAcoustIdLookupPath = "/v2/lookup";
inline constexpr double kAcoustIdDefaultMinScore = 0.5;
// The service allows three requests a second to a client.
inline constexpr int kAcoustIdRequestsPerSecond = 3;
// Last_Error texts besides those the fingerprint service shares.
inline constexpr const char* kAcoustIdParseError = "JSON parse error";
inline constexpr const char* kAcoustIdServiceError = "AcoustID error: ";
inline constexpr const char* kAcoustIdNoPrint = "Can't make a fingerprint of the file";
// The section name of a cached answer: this prefix and the SHA-1 of the
// duration and the fingerprint.
inline constexpr const char* kAcoustIdSectionPrefix = "acoustid:";

struct AcoustIdMatch {
  double score = 0;
  std::string acoustId;     // the AcoustID the fingerprint belongs to
  std::string recordingId;  // the MusicBrainz recording
  std::string artist;
  std::string title;
  std::string album;
};

enum class AcoustIdStatus { Ok, ServiceError, Unreadable };

struct AcoustIdAnswer {
  AcoustIdStatus status = AcoustIdStatus::Unreadable;
  std::string error;  // the service's own message with ServiceError
  // One per result that names a recording, in the service's order.
  std::vector<AcoustIdMatch> matches;
};

// The lookup's JSON answer; never throws.
AcoustIdAnswer ParseAcoustIdAnswer(std::string_view json);
// The highest score of at least minScore; none when no match has one.
std::optional<AcoustIdMatch> BestAcoustIdMatch(const AcoustIdAnswer& answer, double minScore);
// The form body of a lookup.
std::string AcoustIdLookupBody(const std::string& apiKey, int durationSeconds,
                               const std::string& fingerprint);

struct AcoustIdOptions {
  // Where LocalDB.ini's neighbours live: the external decoder, libmpg123,
  // the decoded WAV; empty means GetAppFolder().
  std::string programFolder;
  std::string apiKey;
  std::string server;  // base URL; empty means kAcoustIdDefaultServer
  double minScore = kAcoustIdDefaultMinScore;
  std::string userAgent;
  PumpFn pump;
  std::string mpg123Name = "libmpg123.so.0";
  std::string decoderName = "lame";
  int decoderTimeoutMs = 15000;
  int timeoutMs = 30000;
};

class ClassAcoustId {
 public:
  explicit ClassAcoustId(AcoustIdOptions options);
  ClassAcoustId(const ClassAcoustId&) = delete;
  ClassAcoustId& operator=(const ClassAcoustId&) = delete;

  // "aid=", "rid=", "art=", "ttl=" and "alb=" lines (each when known) for
  // the song in fileName; their count. dbFile is the local database.
  std::int32_t GetID3infoByFinger(const std::string& fileName, std::vector<std::string>& lines,
                                  const std::string& dbFile);
  const std::string& Last_Error() const { return lastError_; }

  const AcoustIdOptions& Options() const { return options_; }
  void SetApiKey(const std::string& key) { options_.apiKey = key; }
  void SetServer(const std::string& server) { options_.server = server; }
  void SetMinScore(double score) { options_.minScore = score; }
  void SetPump(PumpFn pump) { options_.pump = std::move(pump); }
  // Called from within the pump: the running lookup returns no lines.
  void Cancel() { keepGoing_ = false; }

 private:
  bool Query(const AudioPrint& print, AcoustIdMatch& match);

  AcoustIdOptions options_;
  std::string programFolder_;
  Mpg123Library mpg123_;
  RequestPacer pacer_;
  std::string lastError_;
  bool keepGoing_ = true;
};

}  // namespace velotag
