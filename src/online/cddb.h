// Mod_CDDB: the CDDB client. Disc IDs from a table of contents, the "cddb
// query" and "cddb read" commands sent over HTTP to a CDDB server's
// cddb.cgi, and the parsed answer (status line and xmcd key/value lines).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cdaudio/tocentry.h"
#include "online/socket.h"
#include "online/url.h"

namespace velotag {

inline constexpr const char* kCddbNoAnswer = "Command error or No CD/DVD in drive";
inline constexpr const char* kCddbConnectionError = "Connection error";
inline constexpr const char* kCddbInternalError = "Internal Server error";
inline constexpr const char* kCddbPath = "/~cddb/cddb.cgi";
// The CDDB server that still answers; both server entries start here.
inline constexpr const char* kCddbDefaultServer = "gnudb.gnudb.org";
// Level 6 answers in UTF-8; at level 2 servers replace every character
// beyond Latin-1.
inline constexpr int kCddbProtoLevel = 6;
// The greeting's user and host when no e-mail address is set.
inline constexpr const char* kCddbHelloUser = "Hollowcrag";
inline constexpr const char* kCddbHelloHost = "velotag.hollowcrag.example";
inline constexpr const char* kCddbClientName = "Velotag";

struct CddbResponse {
  std::int32_t code = 0;
  std::string message = kCddbNoAnswer;
  std::int32_t lineCount = 0;
  std::vector<NameValue> lines;  // key (empty for a line without one), value
};

// Where and how requests go.
struct CddbClient {
  // "HOST[:PORT]" or a base URL ("http://host:port[/path]") of the two
  // server entries; an empty entry is the default server.
  std::array<std::string, 2> servers;
  // The greeting's user and host come from it (split at "@").
  std::string email;
  std::string clientVersion = "0.1";  // major.minor
  int timeoutMs = 10000;
  PumpFn pump;
};

// 8 lower-case hex digits; toc is one entry per track and the lead-out last.
// Empty when there is no track.
std::string CddbDiscId(const std::vector<TocEntry>& toc);
// "cddb query <id> <n> <frames>... <seconds>"; empty without a track.
std::string CddbQueryText(const std::vector<TocEntry>& toc);
// "cddb read <category> <discId>" ("misc" for an empty category); empty
// when discId is.
std::string CddbReadCommand(const std::string& discId, const std::string& category);
// The eleven categories in their table order; an index outside 0..10 is "misc".
std::string CddbCategoryName(int index);
inline constexpr int kCddbCategoryCount = 11;
bool IsXmcdKey(const std::string& key);
// The "hello" value: user, host, client and version separated by blanks.
std::string CddbHello(const std::string& email, int proto, const std::string& version);
// The cddb.cgi URL of a server entry.
std::string CddbServerUrl(const std::string& server);

// Sends command to server entry 0 or 1 at protocol level proto.
CddbResponse CddbRequest(const std::string& command, int proto, int server,
                         const CddbClient& client);
// The answer as the server sent it; every line is read as UTF-8.
CddbResponse ParseCddbResponse(const std::string& text);

}  // namespace velotag
