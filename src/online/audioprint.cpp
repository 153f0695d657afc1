#include "online/audioprint.h"

#include <chromaprint.h>
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "online/decoder.h"
#include "online/wave.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "support/strutil.h"
#include "support/tempfiles.h"

namespace velotag {

namespace {

// libchromaprint, loaded when the first fingerprint is made: linked at start
// it brings libavcodec and some ninety libraries with it, which made every
// start of the program, a listing of three files as much as an auto tag,
// 50 ms slower. Loaded once and kept, since loading it again per file would
// cost as much again.
struct ChromaprintApi {
  ChromaprintContext* (*create)(int) = nullptr;
  void (*free)(ChromaprintContext*) = nullptr;
  int (*start)(ChromaprintContext*, int, int) = nullptr;
  int (*feed)(ChromaprintContext*, const std::int16_t*, int) = nullptr;
  int (*finish)(ChromaprintContext*) = nullptr;
  int (*fingerprint)(ChromaprintContext*, char**) = nullptr;
  void (*dealloc)(void*) = nullptr;

  bool Loaded() const { return create != nullptr; }
};

const ChromaprintApi& Chromaprint() {
  static const ChromaprintApi api = [] {
    ChromaprintApi a;
    void* handle = ::dlopen("libchromaprint.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return a;
    auto bind = [handle](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(handle, name));
      return fn != nullptr;
    };
    ChromaprintApi b;
    if (bind(b.create, "chromaprint_new") && bind(b.free, "chromaprint_free") &&
        bind(b.start, "chromaprint_start") && bind(b.feed, "chromaprint_feed") &&
        bind(b.finish, "chromaprint_finish") &&
        bind(b.fingerprint, "chromaprint_get_fingerprint") &&
        bind(b.dealloc, "chromaprint_dealloc"))
      return b;
    ::dlclose(handle);
    return a;
  }();
  return api;
}

// One fingerprint being made; the format comes with the first samples.
class PrintSession {
 public:
  PrintSession() : api_(Chromaprint()) {
    if (api_.Loaded()) ctx_ = api_.create(CHROMAPRINT_ALGORITHM_DEFAULT);
  }
  ~PrintSession() {
    if (ctx_) api_.free(ctx_);
  }
  PrintSession(const PrintSession&) = delete;
  PrintSession& operator=(const PrintSession&) = delete;

  bool Feed(long rate, int channels, const std::int16_t* samples, std::size_t count) {
    if (!ctx_) return false;
    if (!started_) {
      if (!api_.start(ctx_, static_cast<int>(rate), channels)) return false;
      started_ = true;
    }
    fed_ += count;
    return api_.feed(ctx_, samples, static_cast<int>(count)) == 1;
  }

  std::string Finish() {
    if (!started_ || fed_ == 0 || !api_.finish(ctx_)) return {};
    char* text = nullptr;
    if (!api_.fingerprint(ctx_, &text) || text == nullptr) return {};
    std::string print = text;
    api_.dealloc(text);
    return print;
  }

 private:
  const ChromaprintApi& api_;
  ChromaprintContext* ctx_ = nullptr;
  bool started_ = false;
  std::size_t fed_ = 0;
};

bool PrintWave(const std::string& fileName, AudioPrint& print) {
  WaveInfo wave;
  if (OpenWave(fileName, wave) != 0) return false;
  if (wave.audioFormat != 1 || wave.bitsPerSample != 16 || wave.channels < 1) {
    CloseWave(wave);
    return false;
  }
  Bytes bytes;
  ReadWaveSamples(wave, bytes, 0, kAudioPrintSeconds, kWaveSeconds);
  CloseWave(wave);
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  samples.resize(samples.size() - samples.size() % wave.channels);
  PrintSession session;
  if (samples.empty() || !session.Feed(wave.sampleRate, wave.channels, samples.data(), samples.size()))
    return false;
  print.fingerprint = session.Finish();
  print.durationSeconds = static_cast<int>(wave.durationMs / 1000);
  return !print.fingerprint.empty();
}

// The decoded WAV, removed whatever way the print ends.
TempFile MakeTempWave(const std::string& folder) {
  return TempFile::CreateOrInTempFolder(folder, kAudioPrintTempPrefix, ".wav");
}

}  // namespace

bool ComputeAudioPrint(const std::string& fileName, const AudioPrintOptions& options,
                       AudioPrint& print) {
  print = AudioPrint{};
  if (EndsWithNoCase(fileName, ".wav")) {
    print.decodedBy = "wav";
    return PrintWave(fileName, print);
  }
  if (options.mpg123 && options.mpg123->Loaded()) {
    PrintSession session;
    Mp3Decoding decoded = options.mpg123->Decode(
        fileName, kAudioPrintSeconds,
        [&](long rate, int channels, const std::int16_t* samples, std::size_t count) {
          return session.Feed(rate, channels, samples, count);
        },
        options.keepGoing);
    if (!decoded.ok) return false;
    print.fingerprint = session.Finish();
    print.durationSeconds = static_cast<int>(decoded.seconds);
    print.decodedBy = "libmpg123";
    return !print.fingerprint.empty();
  }
  const std::string folder = WithTrailingSlash(options.programFolder.empty() ? GetAppFolder()
                                                                             : options.programFolder);
  std::string decoder = FindExecutable(folder, options.decoderName);
  if (decoder.empty()) return false;
  TempFile wave = MakeTempWave(folder);
  if (wave.path().empty()) return false;
  // A name that begins with "-" would be read as an option.
  std::string input = !fileName.empty() && fileName[0] == '-' ? "./" + fileName : fileName;
  int rc = RunProcessAndWait({decoder, "--decode", input, wave.path()}, options.decoderTimeoutMs,
                             options.pump, options.keepGoing);
  if (rc != 0 || !PrintWave(wave.path(), print)) return false;
  print.decodedBy = options.decoderName;
  return true;
}

}  // namespace velotag
