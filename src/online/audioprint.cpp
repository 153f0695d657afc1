#include "online/audioprint.h"

#include <chromaprint.h>

#include <cstring>
#include <memory>
#include <vector>

#include "online/decoder.h"
#include "online/wave.h"
#include "support/largefile.h"
#include "support/paths.h"
#include "support/safewrite.h"
#include "support/strutil.h"
#include "support/tempfiles.h"

namespace velotag {

namespace {

// One fingerprint being made; the format comes with the first samples.
class PrintSession {
 public:
  PrintSession() : ctx_(chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT), chromaprint_free) {}

  bool Feed(long rate, int channels, const std::int16_t* samples, std::size_t count) {
    if (!ctx_) return false;
    if (!started_) {
      if (!chromaprint_start(ctx_.get(), static_cast<int>(rate), channels)) return false;
      started_ = true;
    }
    fed_ += count;
    return chromaprint_feed(ctx_.get(), samples, static_cast<int>(count)) == 1;
  }

  std::string Finish() {
    if (!started_ || fed_ == 0 || !chromaprint_finish(ctx_.get())) return {};
    char* text = nullptr;
    if (!chromaprint_get_fingerprint(ctx_.get(), &text) || text == nullptr) return {};
    std::string print = text;
    chromaprint_dealloc(text);
    return print;
  }

 private:
  std::unique_ptr<ChromaprintContext, void (*)(ChromaprintContext*)> ctx_;
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
  TempFile wave = TempFile::Create(folder, kAudioPrintTempPrefix, ".wav");
  return wave.path().empty() ? TempFile::Create(TempFolder(), kAudioPrintTempPrefix, ".wav")
                             : std::move(wave);
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
