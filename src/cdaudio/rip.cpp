#include "cdaudio/rip.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <cdio/track.h>

#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "cdaudio/cdsource.h"
#include "cdaudio/tocentry.h"
#include "support/largefile.h"
#include "support/paths.h"

namespace velotag {

using cdaudio::CdSource;

namespace {

constexpr int kParanoiaRetries = 20;
constexpr int kWriteBlocks = 8;

void PutLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Reads runs of sectors from one position on; the count actually read.
class SectorReader {
 public:
  virtual ~SectorReader() = default;
  virtual int Read(long lsn, int count, std::uint8_t* out) = 0;
};

class DirectReader : public SectorReader {
 public:
  explicit DirectReader(CdIo_t* cd) : cd_(cd) {}
  int Read(long lsn, int count, std::uint8_t* out) override {
    return cdio_read_audio_sectors(cd_, out, static_cast<lsn_t>(lsn),
                                   static_cast<std::uint32_t>(count)) == DRIVER_OP_SUCCESS
               ? count
               : 0;
  }

 private:
  CdIo_t* cd_;
};

// paranoia's callback carries no context of its own: the reader at work on
// this thread collects what it reports.
thread_local bool tSkipped = false;

extern "C" void OnParanoiaEvent(long /*position*/, paranoia_cb_mode_t mode) {
  // A skip means paranoia gave up on a sector and returns what it has;
  // such bytes are not the disc's, so the copy ends there.
  if (mode == PARANOIA_CB_SKIP) tSkipped = true;
}

class SecureReader : public SectorReader {
 public:
  explicit SecureReader(CdIo_t* cd) {
    drive_ = cdio_cddap_identify_cdio(cd, CDDA_MESSAGE_FORGETIT, nullptr);
    if (!drive_ || cdio_cddap_open(drive_) != 0) return;
    // CD audio is little-endian, and drives and images deliver it so;
    // libcdio's guess from the samples misfires on quiet or synthetic
    // sound and would swap every sample.
    drive_->bigendianp = 0;
    paranoia_ = cdio_paranoia_init(drive_);
    if (paranoia_) paranoia_modeset(paranoia_, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
  }
  ~SecureReader() override {
    if (paranoia_) cdio_paranoia_free(paranoia_);
    if (drive_) cdio_cddap_close_no_free_cdio(drive_);
  }
  SecureReader(const SecureReader&) = delete;
  SecureReader& operator=(const SecureReader&) = delete;

  bool ok() const { return paranoia_ != nullptr; }

  int Read(long lsn, int count, std::uint8_t* out) override {
    if (lsn != next_) cdio_paranoia_seek(paranoia_, static_cast<int32_t>(lsn), SEEK_SET);
    for (int i = 0; i < count; ++i) {
      tSkipped = false;
      std::int16_t* samples = cdio_paranoia_read_limited(paranoia_, OnParanoiaEvent, kParanoiaRetries);
      if (!samples || tSkipped) {
        next_ = -1;
        return i;
      }
      std::uint8_t* dst = out + static_cast<std::size_t>(i) * kCdSectorBytes;
      std::memcpy(dst, samples, kCdSectorBytes);
      // paranoia hands out samples in the host's order; WAV wants them
      // little-endian.
      if constexpr (std::endian::native == std::endian::big)
        for (int b = 0; b < kCdSectorBytes; b += 2) std::swap(dst[b], dst[b + 1]);
    }
    next_ = lsn + count;
    return count;
  }

 private:
  cdrom_drive_t* drive_ = nullptr;
  cdrom_paranoia_t* paranoia_ = nullptr;
  long next_ = -1;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  return LargeFileWrite(fd, data, size) == size;
}

}  // namespace

int BuildWaveHeader(std::array<std::uint8_t, kWaveHeaderBytes>& out, std::uint32_t sampleRate,
                    std::uint16_t channels, std::uint16_t bits, std::uint32_t dataSize) {
  if (channels == 0) channels = 2;
  if (sampleRate == 0) sampleRate = 44100;
  if (bits != 8 && bits != 16) bits = 16;
  const auto blockAlign = static_cast<std::uint16_t>(bits / 8 * channels);
  std::uint8_t* p = out.data();
  std::memcpy(p, "RIFF", 4);
  PutLE32(p + 4, dataSize + 36);
  std::memcpy(p + 8, "WAVEfmt ", 8);
  PutLE32(p + 16, 16);
  PutLE16(p + 20, 1);
  PutLE16(p + 22, channels);
  PutLE32(p + 24, sampleRate);
  PutLE32(p + 28, blockAlign * sampleRate);
  PutLE16(p + 32, blockAlign);
  PutLE16(p + 34, bits);
  std::memcpy(p + 36, "data", 4);
  PutLE32(p + 40, dataSize);
  return kWaveHeaderBytes;
}

long AudioTrackLastSector(long start, long libcdioLast, bool nextIsData, long lastSessionStart) {
  if (nextIsData && lastSessionStart > 100) {
    long end = lastSessionStart - kSessionGap;
    if (end > start && end <= libcdioLast) return end - 1;
  }
  return libcdioLast;
}

bool RipTrack(const std::string& drive, int track, const std::string& fileName,
              std::int64_t start, std::int64_t length, bool unitIsFrames,
              const RipProgressFn& progress, bool audioOnly, RipMode mode) {
  if (length == 0) return false;
  CdSource cd = cdaudio::OpenCdSource(drive);
  if (!cd) return false;
  track_t first = cdio_get_first_track_num(cd.get());
  track_t last = cdio_get_last_track_num(cd.get());
  if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first < 1 || last < first ||
      track < first || track > last)
    return false;
  const auto t = static_cast<track_t>(track);
  if (audioOnly && cdio_get_track_format(cd.get(), t) != TRACK_FORMAT_AUDIO) return false;

  // Sectors are the disc's own addresses: a disc whose first track starts
  // after a hidden pregap has that pregap before it, not in it.
  const long trackStart = cdio_get_track_lsn(cd.get(), t);
  long trackLast = cdio_get_track_last_lsn(cd.get(), t);
  if (trackStart == CDIO_INVALID_LSN || trackLast == CDIO_INVALID_LSN || trackLast < trackStart)
    return false;
  lsn_t session = 0;
  bool nextIsData = t < last && cdio_get_track_format(cd.get(), static_cast<track_t>(t + 1)) !=
                                    TRACK_FORMAT_AUDIO;
  if (nextIsData && cdio_get_last_session(cd.get(), &session) == DRIVER_OP_SUCCESS)
    trackLast = AudioTrackLastSector(trackStart, trackLast, true, session);

  if (start < 0) start = 0;
  if (!unitIsFrames) {
    start *= kFramesPerSecond;
    if (length > 0) length *= kFramesPerSecond;
  }
  const std::int64_t firstSector = trackStart + start;
  std::int64_t lastSector = trackLast;
  if (length > 0 && firstSector + length - 1 < lastSector) lastSector = firstSector + length - 1;
  if (firstSector > lastSector) return false;
  const std::int64_t sectorCount = lastSector - firstSector + 1;
  const std::int64_t fullBytes = sectorCount * kCdSectorBytes;
  // A WAV file counts its data in 32 bits.
  if (fullBytes > std::numeric_limits<std::uint32_t>::max() - 36) return false;

  std::unique_ptr<SectorReader> reader;
  if (mode == RipMode::Secure) {
    auto secure = std::make_unique<SecureReader>(cd.get());
    if (!secure->ok()) return false;
    reader = std::move(secure);
  } else {
    reader = std::make_unique<DirectReader>(cd.get());
  }

  // A read-only file left by an earlier rip is replaced like any other.
  if (GetPathType(fileName) == kPathFile) FileSetAttributes(fileName, 0);
  FileHandle out = OpenWrite(fileName);
  if (!out.valid()) return false;
  std::array<std::uint8_t, kWaveHeaderBytes> header{};
  BuildWaveHeader(header, 44100, 2, 16, static_cast<std::uint32_t>(fullBytes));
  if (!WriteAll(out.get(), header.data(), header.size())) return false;

  // Nothing lies past the lead-out: a track that a broken TOC lets run on
  // beyond it ends there like a read error. (An image reader would return
  // stale or silent sectors instead of failing.)
  const long leadOut = cdio_get_track_lsn(cd.get(), CDIO_CDROM_LEADOUT_TRACK);
  const std::int64_t readLast =
      leadOut == CDIO_INVALID_LSN ? lastSector : std::min<std::int64_t>(lastSector, leadOut - 1);

  // Reads are 15 sectors each; their blocks are written in batches, since
  // the kernel copies a write of 35280 bytes (no multiple of a page) at
  // half the speed of a larger one.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kRipBlockSectors) * kWriteBlocks *
                                   kCdSectorBytes);
  std::size_t buffered = 0;
  std::int64_t next = firstSector;
  std::int64_t written = 0;
  bool writesOk = true;
  auto flush = [&] {
    if (buffered == 0 || !writesOk) return writesOk;
    writesOk = WriteAll(out.get(), buffer.data(), buffered);
    if (writesOk) written += static_cast<std::int64_t>(buffered);
    buffered = 0;
    return writesOk;
  };
  while (next <= readLast) {
    const int want = static_cast<int>(std::min<std::int64_t>(kRipBlockSectors, readLast - next + 1));
    const int got = reader->Read(static_cast<long>(next), want, buffer.data() + buffered);
    buffered += static_cast<std::size_t>(got) * kCdSectorBytes;
    next += got;
    if (got < want) break;
    if (buffered + static_cast<std::size_t>(kRipBlockSectors) * kCdSectorBytes > buffer.size() &&
        !flush())
      break;
    if (progress) {
      const float percent = static_cast<float>(written + static_cast<std::int64_t>(buffered)) /
                            static_cast<float>(fullBytes) * 100.0f;
      if (!progress(track, drive, percent)) break;
    }
  }
  flush();
  const bool whole = next > lastSector && writesOk;
  if (!whole && written < fullBytes) {
    // The file keeps what was read; its header must not promise more.
    BuildWaveHeader(header, 44100, 2, 16, static_cast<std::uint32_t>(written));
    LargeFileWriteAt(out.get(), header.data(), header.size(), 0);
  }
  return whole && LargeFileClose(out.release()) == 1;
}

}  // namespace velotag
