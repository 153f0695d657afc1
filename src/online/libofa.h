// ClassLibofa: identifying a song by its sound. An MP3 is decoded by the
// external decoder into a temporary WAV file, the first 135 seconds are
// fingerprinted by libofa (loaded at run time), and the fingerprint is looked
// up in the local database and, failing that, at the fingerprint web service.
//
// Everything runs on the caller's thread; the caller's pump is called while
// the decoder runs and after every receive of the web query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "online/socket.h"

namespace velotag {

// One lookup's request fields, in the order they are sent.
struct TrackQuery {
  std::string cid;  // client identifier
  std::string cvr;  // client version
  std::string fpt;  // fingerprint
  std::string uid;  // PUID
  std::string s1f;
  std::string s1a;
  bool rmd = false;  // ask for metadata
  std::int32_t brt = 0;
  std::string fmt;  // "wav" or "mp3"
  std::int32_t dur = 0;  // milliseconds
  std::string art;
  std::string ttl;
  std::string alb;
  std::int32_t tnm = 0;
  std::string gnr;
  std::string yrr;
  std::string cmp;
  std::string cnd;
  std::string lyr;
  std::string orc;
  std::string enc;
};

inline constexpr const char* kLibofaServicePath = "/ofa/1/track";
inline constexpr const char* kLibofaDefaultClientId = "5e0c3b9a7d21f4868a0b1c2d3e4f5a6b";
inline constexpr const char* kLibofaUserAgent = "libofa_example";
// The decoded WAV is "libofa_tmp_XXXXXX.wav", a name of its own per lookup.
inline constexpr const char* kLibofaTempWavePrefix = "libofa_tmp_";
// Last_Error texts.
inline constexpr const char* kLibofaSuccess = "SUCCESS";
inline constexpr const char* kLibofaNotFound = "Can't find any music information";
inline constexpr const char* kLibofaParseError = "XML parse error";
inline constexpr const char* kLibofaConnectionError = "Connection error, try again later...";
// The public service this was made for is gone; with no host configured a
// query fails at once with this text instead of waiting for a time-out.
inline constexpr const char* kLibofaNoService = "No fingerprint service configured";
// Why a lookup ended before any query: the decoder's texts name the decoder
// ("Decoder failed: lame not found", "... could not decode the file").
inline constexpr const char* kLibofaNoFingerprint = "No fingerprint: the audio could not be read";
inline constexpr const char* kLibofaStopped = "Stopped";

struct LibofaOptions {
  // Where libofa.so.0, lame, the decoded WAV and LocalDB.ini are looked for;
  // empty means GetAppFolder().
  std::string programFolder;
  // The fingerprint service: "host", "host:port" or a base URL such as
  // "http://host:port"; empty means none is configured.
  std::string serviceHost;
  PumpFn pump;
  std::string libraryName = "libofa.so.0";
  std::string decoderName = "lame";
  int decoderTimeoutMs = 15000;
};

class ClassLibofa {
 public:
  explicit ClassLibofa(LibofaOptions options = {});
  ~ClassLibofa();
  ClassLibofa(const ClassLibofa&) = delete;
  ClassLibofa& operator=(const ClassLibofa&) = delete;

  // "art=", "ttl=" and "uid=" lines for the song in fileName (an MP3, or a
  // 16-bit PCM WAV); the count of lines. dbFile is the local database.
  std::int32_t GetID3infoByFinger(const std::string& fileName, std::vector<std::string>& lines,
                                  const std::string& dbFile, const std::string& clientId,
                                  const std::string& clientVersion);
  // "PUID=", "artist=", "title=" lines (each only when not empty).
  std::int32_t GetID3infoByPUID(const std::string& puid, std::vector<std::string>& lines,
                                const std::string& clientId, const std::string& clientVersion);
  // Fills fpt, fmt and dur from the first 135 seconds of a WAV file.
  bool ComputeFingerprint(const std::string& fileName, TrackQuery& query);
  // Asks the service (tries at most 10); true once an answer arrived, and
  // then uid, art and ttl hold what it said. Last_Error tells the outcome.
  bool QueryService(TrackQuery& query, int tries, int timeoutMs);

  bool DRIVER_INSTALLED() const { return createPrint_ != nullptr; }
  // The file names shown to the user: the library and the FFT library it needs.
  const std::string& LIBOFA_DLL1() const { return options_.libraryName; }
  std::string LIBOFA_DLL2() const { return "libfftw3.so.3"; }
  const std::string& LIBOFA_VER() const { return version_; }
  const std::string& Last_Error() const { return lastError_; }
  // The library file that was loaded; empty when none.
  const std::string& LibraryPath() const { return libraryPath_; }

  const std::string& ProgramFolder() const { return programFolder_; }
  void SetServiceHost(const std::string& host) { options_.serviceHost = host; }
  bool ServiceConfigured() const;
  void SetPump(PumpFn pump) { options_.pump = std::move(pump); }
  // Called from within the pump: ends the running decode or web query; the
  // lookup then returns no lines.
  void Cancel() { keepGoing_ = false; }

 private:
  using CreatePrintFn = const char* (*)(unsigned char*, int, long, int, int);
  struct Library;

  LibofaOptions options_;
  std::string programFolder_;
  std::unique_ptr<Library> library_;
  CreatePrintFn createPrint_ = nullptr;
  std::string libraryPath_;
  std::string version_ = "?.?.?";
  std::string lastError_;
  bool keepGoing_ = true;
};

}  // namespace velotag
