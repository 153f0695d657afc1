#include "cdaudio/cdsource.h"

#include <cdio/logging.h>
#include <sys/stat.h>

#include "support/strutil.h"

namespace velotag::cdaudio {

bool IsImagePath(const std::string& source) {
  struct stat st {};
  return ::stat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

CdSource OpenCdSource(const std::string& source) {
  // libcdio warns on stderr about what it guesses while reading a cue
  // sheet; the program reports what fails itself.
  static const bool quiet = [] {
    cdio_loglevel_default = CDIO_LOG_ERROR;
    return true;
  }();
  (void)quiet;
  struct stat st {};
  if (source.empty() || ::stat(source.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return {};
  driver_id_t driver = DRIVER_DEVICE;
  if (S_ISREG(st.st_mode)) {
    // The extension picks the image driver; libcdio's own guess would try
    // the device drivers on a file too.
    if (EndsWithNoCase(source, ".cue") || EndsWithNoCase(source, ".bin")) driver = DRIVER_BINCUE;
    else if (EndsWithNoCase(source, ".toc")) driver = DRIVER_CDRDAO;
    else if (EndsWithNoCase(source, ".nrg")) driver = DRIVER_NRG;
    else driver = DRIVER_UNKNOWN;
  }
  return CdSource(cdio_open(source.c_str(), driver));
}

}  // namespace velotag::cdaudio
