// MP3 decoding in process with libmpg123, loaded at run time so that the
// program still starts (and falls back to the external decoder) where the
// library is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velotag {

// Interleaved 16-bit samples of one format; count is the number of values
// (all channels). Returning false stops the decoding.
using PcmSink = std::function<bool(long sampleRate, int channels, const std::int16_t* samples,
                                   std::size_t count)>;

struct Mp3Decoding {
  bool ok = false;        // the file held MPEG audio and some of it was decoded
  double seconds = 0;     // the whole file's duration
};

class Mpg123Library {
 public:
  // libraryName in programFolder first, then through the system's search.
  explicit Mpg123Library(const std::string& programFolder,
                         const std::string& libraryName = "libmpg123.so.0");
  ~Mpg123Library();
  Mpg123Library(const Mpg123Library&) = delete;
  Mpg123Library& operator=(const Mpg123Library&) = delete;

  bool Loaded() const;
  const std::string& LibraryPath() const { return path_; }

  // Hands the first maxSeconds of the file's audio to sink, in one format
  // (a stream that changes format ends there). keepGoing is asked between
  // pieces.
  Mp3Decoding Decode(const std::string& fileName, double maxSeconds, const PcmSink& sink,
                     const std::function<bool()>& keepGoing = {}) const;

 private:
  struct Api;
  std::unique_ptr<Api> api_;
  std::string path_;
};

}  // namespace velotag
