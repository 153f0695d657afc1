// What the auto-tag command needs of the fingerprint lookup: the one
// fingerprint object of the program, seen through the calls the command makes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velotag {

class FingerprintLookup {
 public:
  virtual ~FingerprintLookup() = default;
  // DRIVER_INSTALLED: the fingerprint library could be loaded.
  virtual bool DriverInstalled() const = 0;
  // The fingerprint library's file and version, and the library it needs.
  virtual std::string DriverName() const = 0;
  virtual std::string DriverVersion() const = 0;
  virtual std::string SupportLibraryName() const = 0;
  // Last_Error: why the last lookup gave nothing.
  virtual std::string LastError() const = 0;
  // GetID3infoByFinger: "KEY=value" lines ("ART=...", "TTL=..."), empty when
  // nothing was found; dbFile is the local answer cache.
  virtual std::vector<std::string> GetID3infoByFinger(const std::string& mp3File,
                                                      const std::string& dbFile) = 0;
  // False when no fingerprint service is set: only cached answers are found.
  virtual bool ServiceConfigured() const { return true; }
  // "host[:port]" of the fingerprint service; "" for none.
  virtual void SetServiceHost(const std::string& /*host*/) {}
  // Runs while a lookup waits (the decoder, the network), so Stop works.
  virtual void SetPump(std::function<void()> /*pump*/) {}
  // Ends a lookup that is running (called from within the pump).
  virtual void Cancel() {}
  // The AcoustID service: with a key it answers the lookups (lines "art=",
  // "ttl=", "alb=" and its IDs), without one the fingerprint service does.
  // An empty server means the public one; minScore is the lowest score taken.
  virtual void SetAcoustId(const std::string& /*key*/, const std::string& /*server*/,
                           double /*minScore*/) {}
};

// The real lookup: libofa, the decoder and the fingerprint service at
// serviceHost ("" = none configured), with the program folder's files.
std::unique_ptr<FingerprintLookup> MakeLibofaLookup(const std::string& programFolder,
                                                    const std::string& serviceHost);

// The program's lookup: the one above, and AcoustID once a key is set.
std::unique_ptr<FingerprintLookup> MakeFingerprintLookup(const std::string& programFolder,
                                                         const std::string& serviceHost);

// "Velotag/<version> ( <contact> )", how the program introduces itself to
// the web services that ask for it.
std::string ServiceUserAgent();

}  // namespace velotag
