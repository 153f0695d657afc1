#include "online/mpg123.h"

#include <dlfcn.h>
#include <link.h>
#define MPG123_NO_LARGENAME 1
#include <mpg123.h>

#include <vector>

#include "support/largefile.h"
#include "support/paths.h"

namespace velotag {

// The calls made, bound by the names every libmpg123.so.0 exports. The
// offsets are 64-bit: "mpg123_length_64" where there is one, else the plain
// name on a 64-bit system.
struct Mpg123Library::Api {
  void* handle = nullptr;
  int (*init)() = nullptr;
  mpg123_handle* (*create)(const char*, int*) = nullptr;
  void (*destroy)(mpg123_handle*) = nullptr;
  int (*param)(mpg123_handle*, int, long, double) = nullptr;
  int (*formatNone)(mpg123_handle*) = nullptr;
  int (*format)(mpg123_handle*, long, int, int) = nullptr;
  void (*rates)(const long**, std::size_t*) = nullptr;
  int (*openFd)(mpg123_handle*, int) = nullptr;
  int (*read)(mpg123_handle*, void*, std::size_t, std::size_t*) = nullptr;
  int (*getFormat)(mpg123_handle*, long*, int*, int*) = nullptr;
  std::int64_t (*length)(mpg123_handle*) = nullptr;
  int (*close)(mpg123_handle*) = nullptr;

  ~Api() {
    if (handle) ::dlclose(handle);
  }

  template <typename F>
  bool Bind(F& fn, const char* name) {
    fn = reinterpret_cast<F>(::dlsym(handle, name));
    return fn != nullptr;
  }

  bool BindAll() {
    bool lengthBound = Bind(length, "mpg123_length_64") ||
                       (sizeof(long) == 8 && Bind(length, "mpg123_length"));
    return lengthBound && Bind(init, "mpg123_init") && Bind(create, "mpg123_new") &&
           Bind(destroy, "mpg123_delete") && Bind(param, "mpg123_param") &&
           Bind(formatNone, "mpg123_format_none") && Bind(format, "mpg123_format") &&
           Bind(rates, "mpg123_rates") && Bind(openFd, "mpg123_open_fd") &&
           Bind(read, "mpg123_read") && Bind(getFormat, "mpg123_getformat") &&
           Bind(close, "mpg123_close");
  }
};

Mpg123Library::Mpg123Library(const std::string& programFolder, const std::string& libraryName)
    : api_(std::make_unique<Api>()) {
  if (libraryName.empty() || libraryName.find('/') != std::string::npos) return;
  for (const std::string& file : {WithTrailingSlash(programFolder) + libraryName, libraryName}) {
    api_->handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!api_->handle) continue;
    if (api_->BindAll() && api_->init() == MPG123_OK) {
      link_map* map = nullptr;
      path_ = ::dlinfo(api_->handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name
                  ? map->l_name
                  : file;
      return;
    }
    ::dlclose(api_->handle);
    api_->handle = nullptr;
  }
}

Mpg123Library::~Mpg123Library() = default;

bool Mpg123Library::Loaded() const { return !path_.empty(); }

Mp3Decoding Mpg123Library::Decode(const std::string& fileName, double maxSeconds,
                                  const PcmSink& sink,
                                  const std::function<bool()>& keepGoing) const {
  Mp3Decoding result;
  if (!Loaded()) return result;
  FileHandle file = OpenRead(fileName);
  if (!file.valid()) return result;
  const Api& api = *api_;
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> mh(api.create(nullptr, nullptr),
                                                               api.destroy);
  if (!mh) return result;
  api.param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Only 16-bit integers, at the stream's own rate and channels.
  api.formatNone(mh.get());
  const long* rates = nullptr;
  std::size_t rateCount = 0;
  api.rates(&rates, &rateCount);
  for (std::size_t i = 0; i < rateCount; ++i)
    api.format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (api.openFd(mh.get(), file.get()) != MPG123_OK) return result;

  std::vector<std::int16_t> buffer(16384);
  long rate = 0;
  int channels = 0;
  std::int64_t frames = 0, wanted = 0;
  bool sinking = true;
  for (;;) {
    if (keepGoing && !keepGoing()) {
      api.close(mh.get());
      return result;
    }
    std::size_t done = 0;
    int rc = api.read(mh.get(), buffer.data(), buffer.size() * sizeof(std::int16_t), &done);
    if (rc == MPG123_NEW_FORMAT) {
      long newRate = 0;
      int newChannels = 0, encoding = 0;
      api.getFormat(mh.get(), &newRate, &newChannels, &encoding);
      if (encoding != MPG123_ENC_SIGNED_16 || newRate < 1 || newChannels < 1 ||
          (rate != 0 && (newRate != rate || newChannels != channels)))
        break;
      rate = newRate;
      channels = newChannels;
      wanted = static_cast<std::int64_t>(maxSeconds * static_cast<double>(rate));
      continue;
    }
    if (rate == 0 || (rc != MPG123_OK && rc != MPG123_DONE)) break;
    std::size_t count = done / sizeof(std::int16_t);
    count -= count % static_cast<std::size_t>(channels);
    std::int64_t got = static_cast<std::int64_t>(count) / channels;
    if (sinking && frames < wanted && count > 0) {
      std::int64_t take = std::min(got, wanted - frames);
      sinking = sink(rate, channels, buffer.data(), static_cast<std::size_t>(take * channels));
    }
    frames += got;
    if (rc == MPG123_DONE) break;
    // Once the print has its audio, the length comes from the stream's own
    // count (an info frame, or the size and bit rate); only without one is
    // the rest decoded to count it.
    if ((frames >= wanted || !sinking) && api.length(mh.get()) > 0) {
      frames = api.length(mh.get());
      break;
    }
  }
  api.close(mh.get());
  result.ok = rate > 0 && frames > 0;
  result.seconds = result.ok ? static_cast<double>(frames) / static_cast<double>(rate) : 0;
  return result;
}

}  // namespace velotag
