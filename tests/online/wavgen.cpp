#include "wavgen.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <stdexcept>

namespace velotag::test {

namespace {

void Put(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

}  // namespace

void WriteWav(const std::string& path, const WavSpec& w) {
  const std::uint32_t align = w.channels * ((w.bits + 7u) / 8u);
  const auto frames = static_cast<std::uint64_t>(std::llround(w.seconds * w.rate));
  const std::uint64_t dataSize = frames * align;
  std::string head = "RIFF----WAVEfmt ";  // the RIFF size is patched below
  Put(head, w.fmtSize, 4);
  Put(head, w.format, 2);
  Put(head, w.channels, 2);
  Put(head, w.rate, 4);
  Put(head, w.rate * align, 4);
  Put(head, align, 2);
  Put(head, w.bits, 2);
  head.append(w.fmtSize > 16 ? w.fmtSize - 16 + (w.fmtSize & 1) : 0, '\0');
  if (w.factFrames >= 0) {
    head += "fact";
    Put(head, 4, 4);
    Put(head, static_cast<std::uint32_t>(w.factFrames), 4);
  }
  head += w.chunkBeforeData + "data";
  Put(head, static_cast<std::uint32_t>(dataSize), 4);
  std::string riff;
  Put(riff, static_cast<std::uint32_t>(head.size() - 8 + dataSize + w.chunkAfterData.size()), 4);
  head.replace(4, 4, riff);

  std::string data;
  for (std::uint64_t f = 0; w.tones && f < frames; ++f) {
    double t = static_cast<double>(f) / w.rate;
    // A melody of changing tones, so the sound is not the same all through.
    double freq = 220.0 * std::pow(2.0, static_cast<int>(t * 4) % 12 / 12.0);
    double v = 0.4 * std::sin(2 * M_PI * freq * t) + 0.2 * std::sin(2 * M_PI * 3 * freq * t);
    for (std::uint16_t c = 0; c < w.channels; ++c) {
      if (w.bits == 8) {
        Put(data, static_cast<std::uint32_t>(128 + static_cast<int>(v * 127)), 1);
      } else {
        Put(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 32767)), 2);
        data.append(align / w.channels - 2, '\0');
      }
    }
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  auto put = [fd](const std::string& s) {
    return ::write(fd, s.data(), s.size()) == static_cast<ssize_t>(s.size());
  };
  const auto size = static_cast<off_t>(head.size() + dataSize);  // silence is left sparse
  bool ok = put(head) && (w.tones ? put(data) : ::ftruncate(fd, size) == 0) &&
            ::lseek(fd, 0, SEEK_END) >= 0 && put(w.chunkAfterData);
  ::close(fd);
  if (!ok) throw std::runtime_error("short write to " + path);
}

}  // namespace velotag::test
