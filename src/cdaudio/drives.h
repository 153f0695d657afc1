// Mod_CDRIP, the drive side: the CD drives of the machine, their names,
// the tray, and a disc's table of contents. A "drive" is a device path or a
// disc image file; everything here works the same on both.
#pragma once

#include <string>
#include <vector>

#include "cdaudio/tocentry.h"

namespace velotag {

struct CdDrive {
  std::string drive;  // device path or image file
  int port = 0, target = 0, lun = 0;  // no SCSI address is known on Linux
  std::string identifier;  // "vendor model revision", blanks tidied; "" unknown
};

// The machine's CD drives in libcdio's order; the count. cdOnly is kept for
// callers of the described interface: every device libcdio lists is a CD drive.
int ListCdDrives(std::vector<CdDrive>& drives, bool cdOnly = true);
// A drive entry for one device or image (the identifier from the device).
CdDrive DescribeCdDrive(const std::string& source);
// Vendor, model and revision as the drive reports them, joined by blanks,
// trimmed, runs of blanks reduced to one.
std::string GetDriveIdentifier(const std::string& source);
// Closes the tray, or ejects; an image has no tray and is never touched.
bool LoadMedia(const std::string& source, bool eject);
// Entries 0 .. n-1 are the tracks in order, entry n the lead-out; the result
// is the entry count (last - first + 2), 0 when there is no readable disc.
// firstTrack receives the disc's first track number.
int ReadToc(const std::string& source, std::vector<TocEntry>& toc, int* firstTrack = nullptr);
// The entry of the sector at lsn with the given control byte (MSF = lsn + 150).
TocEntry MakeTocEntry(std::uint8_t control, long lsn);

}  // namespace velotag
