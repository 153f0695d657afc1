// Mod_CDRIP, the ripping side: one audio track into one WAV file, read
// either directly (as the drive delivers the sectors) or securely through
// libcdio-paranoia (verified, overlapping reads with retries).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace velotag {

inline constexpr int kCdSectorBytes = 2352;   // 588 stereo 16-bit frames
inline constexpr int kRipBlockSectors = 15;   // sectors per read
inline constexpr int kWaveHeaderBytes = 44;

enum class RipMode { Direct, Secure };

// Called after every block written: the track, the drive (device or image)
// and the percent done; false stops the rip (the track then fails).
using RipProgressFn = std::function<bool(int track, const std::string& drive, float percent)>;

// The 44-byte RIFF/WAVE header of 16-bit PCM. 0 channels means 2, 0 rate
// means 44100, bits other than 8 or 16 mean 16. Returns 44.
int BuildWaveHeader(std::array<std::uint8_t, kWaveHeaderBytes>& out, std::uint32_t sampleRate,
                    std::uint16_t channels, std::uint16_t bits, std::uint32_t dataSize);

// Copies track (the disc's own number) into fileName. start and length
// count sectors with unitIsFrames, else seconds; length -1 is to the end of
// the track, 0 does nothing. With audioOnly a data track is refused. A
// track, or a start, that is not on the disc fails without creating the
// file. When the copy ends early (a read error, a short write, the
// progress callback's stop) the file keeps what was read, its header tells
// that size, and the result is false.
bool RipTrack(const std::string& drive, int track, const std::string& fileName,
              std::int64_t start, std::int64_t length, bool unitIsFrames,
              const RipProgressFn& progress, bool audioOnly, RipMode mode = RipMode::Secure);

// The last sector of an audio track as a ripper must read it: libcdio's end
// (one before the next track), except before the data session of a CD-Extra
// disc, where the first session's lead-out and the second's lead-in (11400
// sectors) lie between the two and cannot be read.
long AudioTrackLastSector(long start, long libcdioLast, bool nextIsData, long lastSessionStart);

}  // namespace velotag
