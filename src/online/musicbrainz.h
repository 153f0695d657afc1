// MusicBrainz for audio CDs: the disc ID of a table of contents, and the
// releases the web service knows under it, as plain records a CD window can
// list and rip from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cdaudio/tocentry.h"
#include "online/pacer.h"
#include "online/socket.h"

namespace velotag {

inline constexpr const char* kMusicBrainzDefaultServer = "https://musicbrainz.org";
inline constexpr const char* kMusicBrainzDiscPath = "/ws/2/discid/";
inline constexpr const char* kMusicBrainzDiscQuery = "?inc=recordings+artist-credits";

// The disc ID of a CD: the numbers of its first and last audio track, the
// lead-out's offset and every track's offset, in sectors counted from the
// start of the disc including the two-second lead-in (the first track
// usually starts at 150). 28 characters; empty for a table that cannot be a
// CD's (track numbers outside 1..99, a count that does not match, offsets
// not rising or past the lead-out).
std::string MusicBrainzDiscId(int firstTrack, int lastTrack, std::int32_t leadOut,
                              const std::vector<std::int32_t>& trackOffsets);

// The disc ID of a table of contents as read from a drive (entries in MSF
// frames, the lead-out last). Data tracks at the end (an enhanced CD's
// second session) are left out, as the service counts them: the audio then
// ends kSessionGap sectors before the data session begins.
std::string MusicBrainzTocDiscId(const std::vector<TocEntry>& toc, int firstTrack);

// "Velotag/0.1.0 ( contact )": the service turns away clients that do not
// say who they are.
std::string MusicBrainzUserAgent(const std::string& version, const std::string& contact);

struct MbTrack {
  int position = 0;  // 1-based on its disc
  std::string title;
  std::string artist;  // the track's credit, else the release's
  std::string recordingId;
  std::int32_t lengthMs = 0;  // 0 when unknown
};

struct MbRelease {
  std::string id;
  std::string title;   // the album
  std::string artist;  // the release's artist credit
  std::string date;    // "1997", "1997-05-21" or empty
  std::string country;
  int discNumber = 1;  // which disc of the release this CD is
  int discCount = 1;
  std::vector<MbTrack> tracks;  // of this CD, by position
};

enum class MbStatus { Found, NotFound, ServiceError, ConnectionError, Unreadable };

struct MbLookup {
  MbStatus status = MbStatus::ConnectionError;
  int httpStatus = 0;
  // A short line for the user: "2 release(s)", "Not found", "HTTP 503 ...".
  std::string message;
  std::vector<MbRelease> releases;
};

// The XML answer of a disc ID lookup. For each release only the disc that
// carries discId is taken (the first disc when none names it).
MbLookup ParseMusicBrainzDiscAnswer(const std::string& xml, const std::string& discId);

// One line of a match list: "Artist / Album (1997, GB)", with "(disc 2/3)"
// for a disc of a set.
std::string MusicBrainzReleaseLabel(const MbRelease& release);

// The release as the lines of an xmcd record, the form CDDB answers come
// in: "DTITLE=Artist / Album", "DYEAR=1997" (when known), then
// "TTITLE0=..." by position, "Artist / Title" where a track's artist is not
// the album's. Control characters become blanks.
std::vector<std::string> MusicBrainzXmcdLines(const MbRelease& release);

struct MusicBrainzOptions {
  std::string server;  // base URL; empty means kMusicBrainzDefaultServer
  std::string userAgent;
  int timeoutMs = 10000;
  PumpFn pump;
};

// The web service client. It keeps to the service's rate of one request a
// second for as long as it lives.
class MusicBrainzClient {
 public:
  explicit MusicBrainzClient(MusicBrainzOptions options);
  MbLookup LookupDisc(const std::string& discId);
  // Called from within the pump: the running lookup ends as a connection error.
  void Cancel() { keepGoing_ = false; }
  void SetPump(PumpFn pump) { options_.pump = std::move(pump); }
  // The settings may name another service between two lookups; the pace
  // is kept across them.
  void SetServer(std::string server) { options_.server = std::move(server); }

 private:
  MusicBrainzOptions options_;
  RequestPacer pacer_;
  bool keepGoing_ = true;
};

}  // namespace velotag
