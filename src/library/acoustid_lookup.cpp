#include "library/about.h"
#include "library/fingerprint.h"
#include "online/acoustid.h"
#include "online/musicbrainz.h"
#include "support/strutil.h"

namespace velotag {

namespace {

// AcoustID when a key is set, the fingerprint service otherwise; the two
// share the local database, each under section names of its own.
class AutoTagLookup : public FingerprintLookup {
 public:
  AutoTagLookup(const std::string& programFolder, const std::string& serviceHost)
      : libofa_(MakeLibofaLookup(programFolder, serviceHost)),
        acoustId_(Options(programFolder)) {}

  bool DriverInstalled() const override { return UseAcoustId() || libofa_->DriverInstalled(); }
  std::string DriverName() const override { return libofa_->DriverName(); }
  std::string DriverVersion() const override { return libofa_->DriverVersion(); }
  std::string SupportLibraryName() const override { return libofa_->SupportLibraryName(); }
  std::string LastError() const override {
    return usedAcoustId_ ? acoustId_.Last_Error() : libofa_->LastError();
  }
  bool ServiceConfigured() const override { return UseAcoustId() || libofa_->ServiceConfigured(); }
  void SetServiceHost(const std::string& host) override { libofa_->SetServiceHost(host); }
  void SetPump(std::function<void()> pump) override {
    libofa_->SetPump(pump);
    acoustId_.SetPump(std::move(pump));
  }
  void Cancel() override {
    libofa_->Cancel();
    acoustId_.Cancel();
  }
  void SetAcoustId(const std::string& key, const std::string& server, double minScore) override {
    acoustId_.SetApiKey(TrimSpaces(key));
    acoustId_.SetServer(server);
    acoustId_.SetMinScore(minScore);
  }

  std::vector<std::string> GetID3infoByFinger(const std::string& mp3File,
                                              const std::string& dbFile) override {
    usedAcoustId_ = UseAcoustId();
    if (!usedAcoustId_) return libofa_->GetID3infoByFinger(mp3File, dbFile);
    std::vector<std::string> lines;
    acoustId_.GetID3infoByFinger(mp3File, lines, dbFile);
    return lines;
  }

 private:
  static AcoustIdOptions Options(const std::string& programFolder) {
    AcoustIdOptions options;
    options.programFolder = programFolder;
    options.userAgent = ServiceUserAgent();
    return options;
  }
  bool UseAcoustId() const { return !acoustId_.Options().apiKey.empty(); }

  std::unique_ptr<FingerprintLookup> libofa_;
  ClassAcoustId acoustId_;
  bool usedAcoustId_ = false;
};

}  // namespace

std::unique_ptr<FingerprintLookup> MakeFingerprintLookup(const std::string& programFolder,
                                                         const std::string& serviceHost) {
  return std::make_unique<AutoTagLookup>(programFolder, serviceHost);
}

std::string ServiceUserAgent() { return MusicBrainzUserAgent(kVersionText, kEmail); }

}  // namespace velotag
