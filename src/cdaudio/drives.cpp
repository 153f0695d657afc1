#include "cdaudio/drives.h"

#include <cdio/cdio.h>
#include <cdio/device.h>
#include <cdio/track.h>

#include "cdaudio/cdsource.h"
#include "support/strutil.h"

namespace velotag {

using cdaudio::CdSource;
using cdaudio::OpenCdSource;

namespace {

// The Control nibble as a drive reports it in its TOC, with ADR 1 (the
// entry holds a position) in the high nibble.
std::uint8_t TrackControl(CdIo_t* cd, track_t track) {
  std::uint8_t control = 0x10;
  if (cdio_get_track_format(cd, track) != TRACK_FORMAT_AUDIO) control |= kTocDataBit;
  if (cdio_get_track_copy_permit(cd, track) == CDIO_TRACK_FLAG_TRUE) control |= 0x02;
  if (cdio_get_track_preemphasis(cd, track) == CDIO_TRACK_FLAG_TRUE) control |= 0x01;
  if (cdio_get_track_channels(cd, track) == 4) control |= 0x08;
  return control;
}

std::string TidyBlanks(const std::string& text) {
  std::string out;
  for (char c : TrimSpaces(text))
    if (c != ' ' || out.empty() || out.back() != ' ') out.push_back(c);
  return out;
}

// The largest address a TOC entry can hold.
constexpr long kMaxTocLsn = (255L * 60 + 59) * kFramesPerSecond + 74 - kMsfOffset;

}  // namespace

TocEntry MakeTocEntry(std::uint8_t control, long lsn) {
  // A drive counts from the lead-in; libcdio's msf_t holds BCD digits, so
  // the address is computed here rather than taken from it.
  long f = lsn + kMsfOffset;
  TocEntry e;
  e.control = control;
  e.minutes = static_cast<std::uint8_t>(f / (60 * kFramesPerSecond));
  e.seconds = static_cast<std::uint8_t>((f / kFramesPerSecond) % 60);
  e.frames = static_cast<std::uint8_t>(f % kFramesPerSecond);
  return e;
}

std::string GetDriveIdentifier(const std::string& source) {
  CdSource cd = OpenCdSource(source);
  if (!cd) return {};
  cdio_hwinfo_t hw{};
  if (!cdio_get_hwinfo(cd.get(), &hw)) return {};
  return TidyBlanks(std::string(hw.psz_vendor) + " " + hw.psz_model + " " + hw.psz_revision);
}

CdDrive DescribeCdDrive(const std::string& source) {
  CdDrive d;
  d.drive = source;
  d.identifier = GetDriveIdentifier(source);
  return d;
}

int ListCdDrives(std::vector<CdDrive>& drives, bool /*cdOnly*/) {
  drives.clear();
  char** devices = cdio_get_devices(DRIVER_DEVICE);
  if (!devices) return 0;
  for (char** d = devices; *d; ++d) drives.push_back(DescribeCdDrive(*d));
  cdio_free_device_list(devices);
  return static_cast<int>(drives.size());
}

bool LoadMedia(const std::string& source, bool eject) {
  if (source.empty() || cdaudio::IsImagePath(source)) return false;
  if (eject) return cdio_eject_media_drive(source.c_str()) == DRIVER_OP_SUCCESS;
  driver_id_t driver = DRIVER_DEVICE;
  return cdio_close_tray(source.c_str(), &driver) == DRIVER_OP_SUCCESS;
}

int ReadToc(const std::string& source, std::vector<TocEntry>& toc, int* firstTrack) {
  toc.clear();
  if (firstTrack) *firstTrack = 0;
  CdSource cd = OpenCdSource(source);
  if (!cd) return 0;
  track_t first = cdio_get_first_track_num(cd.get());
  track_t last = cdio_get_last_track_num(cd.get());
  if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first < 1 || last < first)
    return 0;
  for (track_t t = first; t <= last; ++t) {
    lsn_t lsn = cdio_get_track_lsn(cd.get(), t);
    if (lsn == CDIO_INVALID_LSN || lsn < 0 || lsn > kMaxTocLsn) return toc.clear(), 0;
    toc.push_back(MakeTocEntry(TrackControl(cd.get(), t), lsn));
  }
  lsn_t leadOut = cdio_get_track_lsn(cd.get(), CDIO_CDROM_LEADOUT_TRACK);
  if (leadOut == CDIO_INVALID_LSN || leadOut < 0 || leadOut > kMaxTocLsn) return toc.clear(), 0;
  // The lead-out carries the last track's control, as drives report it.
  toc.push_back(MakeTocEntry(toc.back().control, leadOut));
  if (firstTrack) *firstTrack = first;
  // Counted from the disc's own first track: a disc need not start at 1.
  return last - first + 2;
}

}  // namespace velotag
