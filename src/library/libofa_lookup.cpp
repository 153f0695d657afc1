#include "library/fingerprint.h"
#include "online/libofa.h"

namespace velotag {

namespace {

class LibofaLookup : public FingerprintLookup {
 public:
  LibofaLookup(const std::string& programFolder, const std::string& serviceHost)
      : ofa_(LibofaOptions{programFolder, serviceHost, {}}) {}

  bool DriverInstalled() const override { return ofa_.DRIVER_INSTALLED(); }
  std::string DriverName() const override { return ofa_.LIBOFA_DLL1(); }
  std::string DriverVersion() const override { return ofa_.LIBOFA_VER(); }
  std::string SupportLibraryName() const override { return ofa_.LIBOFA_DLL2(); }
  std::string LastError() const override { return ofa_.Last_Error(); }
  bool ServiceConfigured() const override { return ofa_.ServiceConfigured(); }
  void SetServiceHost(const std::string& host) override { ofa_.SetServiceHost(host); }
  void SetPump(std::function<void()> pump) override { ofa_.SetPump(std::move(pump)); }
  void Cancel() override { ofa_.Cancel(); }

  std::vector<std::string> GetID3infoByFinger(const std::string& mp3File,
                                              const std::string& dbFile) override {
    std::vector<std::string> lines;
    ofa_.GetID3infoByFinger(mp3File, lines, dbFile, "", "");
    return lines;
  }

 private:
  ClassLibofa ofa_;
};

}  // namespace

std::unique_ptr<FingerprintLookup> MakeLibofaLookup(const std::string& programFolder,
                                                    const std::string& serviceHost) {
  return std::make_unique<LibofaLookup>(programFolder, serviceHost);
}

}  // namespace velotag
