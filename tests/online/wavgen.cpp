#include "wavgen.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <stdexcept>

namespace velotag::test {

namespace {

void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void Put16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xff));
  s.push_back(static_cast<char>(v >> 8));
}

}  // namespace

void WriteWav(const std::string& path, const WavSpec& w) {
  const std::uint32_t align = w.channels * ((w.bits + 7u) / 8u);
  const std::uint64_t frames = static_cast<std::uint64_t>(std::llround(w.seconds * w.rate));
  const std::uint64_t dataSize = frames * align;
  std::string head = "RIFF";
  Put32(head, 0);  // patched below
  head += "WAVEfmt ";
  Put32(head, w.fmtSize);
  Put16(head, w.format);
  Put16(head, w.channels);
  Put32(head, w.rate);
  Put32(head, w.rate * align);
  Put16(head, static_cast<std::uint16_t>(align));
  Put16(head, w.bits);
  head.append(w.fmtSize > 16 ? w.fmtSize - 16 + (w.fmtSize & 1) : 0, '\0');
  if (w.factFrames >= 0) {
    head += "fact";
    Put32(head, 4);
    Put32(head, static_cast<std::uint32_t>(w.factFrames));
  }
  head += w.chunkBeforeData;
  head += "data";
  Put32(head, static_cast<std::uint32_t>(dataSize));
  std::uint64_t riff = head.size() - 8 + dataSize + w.chunkAfterData.size();
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<char>((riff >> (8 * i)) & 0xff);

  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  bool ok = ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size());
  if (w.tones) {
    std::string block;
    for (std::uint64_t f = 0; f < frames && ok; ++f) {
      double t = static_cast<double>(f) / w.rate;
      // A melody of changing tones, so the sound is not the same all through.
      double freq = 220.0 * std::pow(2.0, static_cast<int>(t * 4) % 12 / 12.0);
      double v = 0.4 * std::sin(2 * M_PI * freq * t) + 0.2 * std::sin(2 * M_PI * 3 * freq * t);
      for (std::uint16_t c = 0; c < w.channels; ++c) {
        if (w.bits == 8) {
          block.push_back(static_cast<char>(128 + static_cast<int>(v * 127)));
        } else {
          auto s = static_cast<std::int16_t>(v * 32767);
          Put16(block, static_cast<std::uint16_t>(s));
          block.append(align / w.channels - 2, '\0');
        }
      }
      if (block.size() >= 65536 || f + 1 == frames) {
        ok = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
        block.clear();
      }
    }
  } else {
    ok = ok && ::ftruncate(fd, static_cast<off_t>(head.size() + dataSize)) == 0 &&
         ::lseek(fd, 0, SEEK_END) >= 0;
  }
  if (ok && !w.chunkAfterData.empty())
    ok = ::write(fd, w.chunkAfterData.data(), w.chunkAfterData.size()) ==
         static_cast<ssize_t>(w.chunkAfterData.size());
  ::close(fd);
  if (!ok) throw std::runtime_error("short write to " + path);
}

}  // namespace velotag::test
