// The acoustic fingerprint AcoustID identifies songs by: Chromaprint's
// default algorithm over the first two minutes of the sound, with the whole
// file's duration. MP3 files are decoded in process by libmpg123, or by the
// external decoder into a temporary WAV file where the library is missing.
#pragma once

#include <functional>
#include <string>

#include "online/mpg123.h"
#include "online/socket.h"

namespace velotag {

inline constexpr double kAudioPrintSeconds = 120;
// The decoded WAV of the fallback: "velotag_print_XXXXXX.wav".
inline constexpr const char* kAudioPrintTempPrefix = "velotag_print_";

struct AudioPrintOptions {
  // Where the external decoder is looked for first and its WAV is written
  // (the temporary folder when that cannot be written).
  std::string programFolder;
  // Used when loaded; otherwise the external decoder.
  const Mpg123Library* mpg123 = nullptr;
  std::string decoderName = "lame";
  int decoderTimeoutMs = 15000;
  PumpFn pump;
  std::function<bool()> keepGoing;
};

struct AudioPrint {
  std::string fingerprint;    // compressed and base64-coded, as AcoustID takes it
  int durationSeconds = 0;    // whole seconds, truncated
  std::string decodedBy;      // "libmpg123", the decoder's name, or "wav"
};

// An MP3 file (or a 16-bit PCM WAV file) to its fingerprint; false when it
// cannot be decoded or holds too little sound.
bool ComputeAudioPrint(const std::string& fileName, const AudioPrintOptions& options,
                       AudioPrint& print);

}  // namespace velotag
