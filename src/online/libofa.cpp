#include "online/libofa.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>

#include "online/decoder.h"
#include "online/http.h"
#include "online/localdb.h"
#include "online/url.h"
#include "support/strutil.h"
#include "online/wave.h"
#include "online/xml.h"
#include "support/ini.h"
#include "support/numtext.h"
#include "support/paths.h"
#include "support/tempfiles.h"
#include "support/textenc.h"

namespace velotag {

namespace {

constexpr int kMaxTries = 10;
constexpr double kFingerprintSeconds = 135;

// "QRNxxxxxx" in the temporary folder.
// Removed however the lookup ends.
TempFile MakeAnswerFile() { return TempFile::Create(TempFolder(), "QRN", ""); }

// The decoded WAV: a name of its own in the program folder (the temporary
// folder when that cannot be written), never the one fixed name. Scripts
// run the CLI many times at once beside the window; with one name a run
// deleted another's WAV while it was written, or printed another's song.
TempFile MakeWaveFile(const std::string& programFolder) {
  return TempFile::CreateOrInTempFolder(programFolder, kLibofaTempWavePrefix, ".wav");
}

constexpr std::int64_t kMaxAnswerBytes = 1 << 20;

// The answer's texts are UTF-8 bytes read one per character.
std::string FromUtf8(const std::string& latin1) { return Utf8BytesToString(StringToAnsi(latin1)); }

bool IsNumber(const std::string& text) { return ParseNumber(text).has_value(); }

const std::string& OrUnknown(std::string& field) {
  if (field.empty()) field = "unknown";
  return field;
}

const std::string& NumberOrUnknown(std::string& field) {
  if (!IsNumber(field)) field = "unknown";
  return field;
}

// A file name that begins with "-" would be read as an option.
std::string AsArgument(const std::string& path) { return !path.empty() && path[0] == '-' ? "./" + path : path; }

}  // namespace

struct ClassLibofa::Library {
  void* handle = nullptr;
  ~Library() {
    if (handle) ::dlclose(handle);
  }
};

ClassLibofa::ClassLibofa(LibofaOptions options)
    : options_(std::move(options)),
      programFolder_(WithTrailingSlash(options_.programFolder.empty() ? GetAppFolder()
                                                                       : options_.programFolder)),
      library_(std::make_unique<Library>()) {
  auto bind = [&](const std::string& file) {
    // NODELETE: libofa's FFT library keeps process-wide plan caches; unmapping
    // it on release would strand them (and C++ libraries do not unload
    // cleanly anyway). The handle itself is still released.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) return false;
    void* create = ::dlsym(handle, "ofa_create_print");
    if (!create) {
      ::dlclose(handle);
      return false;
    }
    library_->handle = handle;
    createPrint_ = reinterpret_cast<CreatePrintFn>(create);
    link_map* map = nullptr;
    libraryPath_ = ::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name
                       ? map->l_name
                       : file;
    return true;
  };
  const std::string& name = options_.libraryName;
  if (!name.empty() && name.find('/') == std::string::npos) {
    if (!bind(programFolder_ + name)) bind(name);
  }
  if (!DRIVER_INSTALLED()) {
    libraryPath_.clear();
    return;
  }
  using VersionFn = void (*)(int*, int*, int*);
  if (void* getVersion = ::dlsym(library_->handle, "ofa_get_version")) {
    int major = 0, minor = 0, revision = 0;
    reinterpret_cast<VersionFn>(getVersion)(&major, &minor, &revision);
    version_ = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
  }
}

ClassLibofa::~ClassLibofa() = default;

bool ClassLibofa::ServiceConfigured() const { return !TrimSpaces(options_.serviceHost).empty(); }

std::int32_t ClassLibofa::GetID3infoByFinger(const std::string& fileName,
                                             std::vector<std::string>& lines,
                                             const std::string& dbFile,
                                             const std::string& clientId,
                                             const std::string& clientVersion) {
  lines.clear();
  lastError_.clear();
  TrackQuery query;
  if (!TrimSpaces(clientId).empty()) query.cid = TrimSpaces(clientId);
  if (!TrimSpaces(clientVersion).empty()) query.cvr = TrimSpaces(clientVersion);
  if (!DRIVER_INSTALLED()) return 0;
  keepGoing_ = true;

  // Last_Error tells the person why a file got no answer also when no
  // query was made: the decoder or the fingerprint failed before it.
  std::string toPrint = fileName;
  TempFile wave;
  if (EndsWithNoCase(fileName, ".mp3")) {
    std::string decoder = FindExecutable(programFolder_, options_.decoderName);
    if (decoder.empty()) {
      lastError_ = "Decoder failed: " + options_.decoderName + " not found";
      return 0;
    }
    wave = MakeWaveFile(programFolder_);
    const std::string temp = wave.path();
    if (temp.empty()) {
      lastError_ = "Decoder failed: no temporary file for the decoded audio";
      return 0;
    }
    int rc = RunProcessAndWait({decoder, "--decode", AsArgument(fileName), temp},
                               options_.decoderTimeoutMs, options_.pump,
                               [this] { return keepGoing_; });
    // A decoder that had to be stopped, or that says it failed, left half a
    // file at best: a print of that would name the wrong song.
    if (!keepGoing_) {
      lastError_ = kLibofaStopped;
      return 0;
    }
    if (rc != 0 || GetPathType(temp) != kPathFile) {
      lastError_ = "Decoder failed: " + options_.decoderName + " could not decode the file";
      return 0;
    }
    toPrint = temp;
  }
  if (!EndsWithNoCase(toPrint, ".wav") || !ComputeFingerprint(toPrint, query)) {
    lastError_ = kLibofaNoFingerprint;
    return 0;
  }

  query.rmd = true;
  std::vector<std::string> stored;
  GetDBSection(dbFile, query.fpt, stored);
  for (const std::string& line : stored) {
    std::string key = AsciiLower(line.substr(0, 4));
    if (key == "art=" || key == "ttl=" || key == "uid=") lines.push_back(line);
  }
  if (lines.size() == 3) return 3;
  lines.clear();
  if (!QueryService(query, 1, 30000)) return 0;
  std::string section = "[" + query.fpt + "]\r\n";
  for (const auto& [key, value] :
       {std::pair{"uid=", &query.uid}, {"art=", &query.art}, {"ttl=", &query.ttl}}) {
    if (value->empty()) continue;
    section += key + *value + "\r\n";
    lines.push_back(key + *value);
  }
  // Only a whole answer is kept: the cache is read back only for sections
  // holding all three lines, so anything less would be stored again on every
  // lookup and never used.
  if (lines.size() == 3) AddDBSection(dbFile, section);
  return static_cast<std::int32_t>(lines.size());
}

std::int32_t ClassLibofa::GetID3infoByPUID(const std::string& puid,
                                           std::vector<std::string>& lines,
                                           const std::string& clientId,
                                           const std::string& clientVersion) {
  lines.clear();
  TrackQuery query;
  if (!TrimSpaces(clientId).empty()) query.cid = TrimSpaces(clientId);
  if (!TrimSpaces(clientVersion).empty()) query.cvr = TrimSpaces(clientVersion);
  query.uid = puid;
  query.rmd = true;
  query.fmt = "mp3";
  if (!QueryService(query, 1, 30000)) return 0;
  if (!query.uid.empty()) lines.push_back("PUID=" + query.uid);
  if (!query.art.empty()) lines.push_back("artist=" + query.art);
  if (!query.ttl.empty()) lines.push_back("title=" + query.ttl);
  return static_cast<std::int32_t>(lines.size());
}

bool ClassLibofa::ComputeFingerprint(const std::string& fileName, TrackQuery& query) {
  if (!DRIVER_INSTALLED()) return false;
  query.fpt.clear();
  query.fmt.clear();
  query.dur = 0;
  WaveInfo wave;
  if (OpenWave(fileName, wave) != 0) return false;
  if (wave.audioFormat != 1 || wave.channels >= 3 || wave.bitsPerSample != 16) return false;
  std::vector<std::uint8_t> samples;
  ReadWaveSamples(wave, samples, 0, kFingerprintSeconds, kWaveSeconds);
  CloseWave(wave);
  if (samples.size() < 2) return false;
  const char* print = createPrint_(samples.data(), 0, static_cast<long>(samples.size() / 2),
                                   static_cast<int>(wave.sampleRate), wave.channels - 1);
  if (print == nullptr) return false;
  query.fpt = print;
  query.fmt = "wav";
  query.dur = RoundHalfEven(wave.durationMs);
  return !query.fpt.empty();
}

bool ClassLibofa::QueryService(TrackQuery& q, int tries, int timeoutMs) {
  if (tries > kMaxTries) tries = kMaxTries;
  if (tries < 0) tries = 1;
  lastError_.clear();
  if (q.cid.empty() || q.cvr.empty()) {
    q.cid = kLibofaDefaultClientId;
    q.cvr = "1.0";
  }
  std::vector<NameValue> pairs;
  auto add = [&](const char* name, const std::string& value) { pairs.emplace_back(name, value); };
  auto addIfSet = [&](const char* name, const std::string& value) {
    if (!value.empty()) add(name, value);
  };
  auto addOptionalTail = [&] {
    addIfSet("cmp", q.cmp);
    addIfSet("cnd", q.cnd);
    addIfSet("lyr", q.lyr);
    addIfSet("orc", q.orc);
    addIfSet("enc", q.enc);
  };
  add("cid", q.cid);
  add("cvr", q.cvr);
  if (!q.fpt.empty() || !q.uid.empty()) {
    bool byPrint = !q.fpt.empty();
    if (byPrint) {
      add("fpt", q.fpt);
    } else {
      add("uid", q.uid);
    }
    addIfSet("s1f", q.s1f);
    addIfSet("s1a", q.s1a);
    add("rmd", q.rmd ? "1" : "0");
    if (byPrint || q.brt > 0) add("brt", std::to_string(q.brt));
    if (byPrint) {
      add("fmt", OrUnknown(q.fmt));
    } else {
      addIfSet("fmt", q.fmt);
    }
    if (byPrint || q.dur > 0) add("dur", std::to_string(q.dur));
    add("art", OrUnknown(q.art));
    add("ttl", OrUnknown(q.ttl));
    add("alb", OrUnknown(q.alb));
    add("tnm", std::to_string(q.tnm));
    add("gnr", OrUnknown(q.gnr));
    add("yrr", NumberOrUnknown(q.yrr));
    addOptionalTail();
  } else if (!q.s1f.empty()) {
    add("s1f", q.s1f);
  } else if (!q.s1a.empty()) {
    add("s1a", q.s1a);
    add("art", OrUnknown(q.art));
    add("ttl", OrUnknown(q.ttl));
    add("alb", OrUnknown(q.alb));
    add("tnm", std::to_string(q.tnm));
    add("yrr", NumberOrUnknown(q.yrr));
  } else {
    return false;
  }
  const std::string body = BuildQueryString(pairs, true);
  if (tries == 0) return false;
  if (!ServiceConfigured()) {
    lastError_ = kLibofaNoService;
    return false;
  }
  const std::string base = ServiceBaseUrl(options_.serviceHost, "", "http");

  keepGoing_ = true;
  for (int attempt = 0; attempt < tries && keepGoing_; ++attempt) {
    TempFile answer(MakeAnswerFile());
    std::string url = base + kLibofaServicePath;
    std::string local = answer.path();
    std::string cookies;
    // A real answer is a few hundred bytes; a server sending without end
    // must not fill the disk.
    if (local.empty() || !HttpDownload(url, local, timeoutMs, 5, keepGoing_, true,
                                       kMaxAnswerBytes, body, cookies, kLibofaUserAgent,
                                       options_.pump)) {
      lastError_ = kLibofaConnectionError;
      if (options_.pump) options_.pump();
      continue;
    }
    q.uid.clear();
    q.art.clear();
    q.ttl.clear();
    ClassXML xml;
    if (!xml.XML_file(local)) {
      lastError_ = kLibofaParseError;
      return true;
    }
    q.uid = xml.GetAttrib("metadata<track<puid-list<puid", "id", "<", true);
    q.art = FromUtf8(xml.GetValue("metadata<track<artist<name", "<", true));
    q.ttl = FromUtf8(xml.GetValue("metadata<track<title", "<", true));
    lastError_ = (!q.art.empty() || !q.uid.empty() || !q.ttl.empty()) ? kLibofaSuccess : kLibofaNotFound;
    return true;
  }
  return false;
}

}  // namespace velotag
