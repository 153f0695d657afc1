#include "online/wave.h"

#include "support/numtext.h"

#include <algorithm>
#include <cstring>

namespace velotag {

namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

constexpr std::size_t kReadPiece = 8192;

}  // namespace

void CloseWave(WaveInfo& info) { info.file.reset(); }

int OpenWave(const std::string& fileName, WaveInfo& info) {
  info = WaveInfo{};
  info.fileName = fileName;
  // Only read: the file's permissions stay as they are.
  info.file = OpenRead(fileName);
  if (!info.file.valid()) return -1;
  int fd = info.file.get();
  std::uint8_t h[36];
  if (LargeFileRead(fd, h, sizeof h) != sizeof h) return CloseWave(info), -1;
  std::memcpy(info.riffId, h, 4);
  info.riffSize = U32(h + 4);
  std::memcpy(info.formatId, h + 8, 4);
  std::memcpy(info.fmtId, h + 12, 4);
  info.fmtSize = U32(h + 16);
  info.audioFormat = U16(h + 20);
  info.channels = U16(h + 22);
  info.sampleRate = U32(h + 24);
  info.byteRate = U32(h + 28);
  info.blockAlign = U16(h + 32);
  info.bitsPerSample = U16(h + 34);
  if (std::memcmp(info.riffId, "RIFF", 4) != 0 || std::memcmp(info.formatId, "WAVE", 4) != 0 ||
      std::memcmp(info.fmtId, "fmt ", 4) != 0 || info.sampleRate < 1 || info.channels < 1)
    return CloseWave(info), -1;

  const std::int64_t fileSize = LargeFileSize(fd);
  info.extraFmtBytes = static_cast<std::int64_t>(info.fmtSize) - 16;
  if (info.extraFmtBytes > 0) {
    // RIFF chunks are padded to an even size.
    info.extraFmtBytes += info.fmtSize & 1;
  } else {
    info.extraFmtBytes = 0;
  }
  std::int64_t pos = 36 + info.extraFmtBytes;
  std::int32_t factFrames = 0;
  for (;;) {
    std::uint8_t ch[8];
    if (LargeFileSeek(fd, pos, true) != pos || LargeFileRead(fd, ch, 8) != 8)
      return CloseWave(info), -1;
    pos += 8;
    std::uint32_t size = U32(ch + 4);
    if (std::memcmp(ch, "data", 4) == 0) {
      info.dataOffset = pos;
      info.dataSize = size;
      break;
    }
    if (std::memcmp(ch, "fact", 4) == 0 && size >= 4) {
      std::uint8_t f[4];
      if (LargeFileRead(fd, f, 4) != 4) return CloseWave(info), -1;
      factFrames = static_cast<std::int32_t>(U32(f));
    }
    // Skipped by position, never read into memory: the size is the file's word.
    pos += static_cast<std::int64_t>(size) + (size & 1);
    if (pos > fileSize) return CloseWave(info), -1;
  }

  std::uint32_t align = info.blockAlign;
  if (align == 0) align = info.channels * ((info.bitsPerSample + 7u) / 8u);
  if (factFrames >= 1) {
    info.frameCount = factFrames;
  } else if (align > 0) {
    info.frameCount = RoundHalfEven(static_cast<double>(info.dataSize) / align);
  }
  info.durationMs = static_cast<float>(static_cast<double>(info.frameCount) / info.sampleRate * 1000.0);
  LargeFileSeek(fd, info.dataOffset, true);
  return 0;
}

std::int64_t ReadWaveSamples(WaveInfo& info, std::vector<std::uint8_t>& bytes, double start,
                             double length, int unit) {
  bytes.clear();
  if (!info.file.valid() || info.audioFormat != 1 || info.dataOffset < 0 || info.dataSize < 1 ||
      info.blockAlign == 0)
    return 0;
  auto toFrames = [&](double v) {
    if (unit == kWaveSeconds) return v * info.sampleRate;
    if (unit == kWaveMilliseconds) return static_cast<double>(RoundHalfEven(v / 1000.0 * info.sampleRate));
    return v;
  };
  double first = std::max(0.0, toFrames(start));
  double count = toFrames(length);
  if (count < 0 || count > info.frameCount) count = info.frameCount;
  const std::int64_t align = info.blockAlign;
  // Compared before multiplying: a start far past the data is no offset.
  if (first >= static_cast<double>(info.dataSize / align + 1)) return 0;
  std::int64_t offset = static_cast<std::int64_t>(first) * align;
  if (offset >= info.dataSize) return 0;
  // A frame count from a "fact" chunk may promise more than the data chunk
  // holds; what follows the data is not sound.
  std::int64_t want = std::min(static_cast<std::int64_t>(count) * align, info.dataSize - offset);
  if (want <= 0 || LargeFileSeek(info.file.get(), info.dataOffset + offset, true) < 0) return 0;
  std::int64_t left = LargeFileSize(info.file.get()) - (info.dataOffset + offset);
  bytes.reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, std::min(want, left))));
  std::int64_t got = 0;
  while (got < want) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::int64_t>(kReadPiece, want - got));
    std::size_t old = bytes.size();
    bytes.resize(old + piece);
    std::size_t n = LargeFileRead(info.file.get(), bytes.data() + old, piece);
    bytes.resize(old + n);
    got += static_cast<std::int64_t>(n);
    if (n < piece) break;
  }
  return got;
}

}  // namespace velotag
