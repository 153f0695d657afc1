// An open CD source: a drive, or a disc image read through libcdio's image
// drivers (.cue/.bin, cdrdao .toc, Nero .nrg). Internal to cdaudio/.
#pragma once

#include <cdio/cdio.h>

#include <memory>
#include <string>

namespace velotag::cdaudio {

struct CdioCloser {
  void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using CdSource = std::unique_ptr<CdIo_t, CdioCloser>;

// A regular file is an image; anything else is taken for a device.
bool IsImagePath(const std::string& source);
// Nothing open when the source does not exist or no driver takes it.
CdSource OpenCdSource(const std::string& source);

}  // namespace velotag::cdaudio
