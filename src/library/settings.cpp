#include "library/settings.h"

#include "library/renamer.h"
#include "support/ini.h"
#include "support/largefile.h"
#include "support/numtext.h"
#include "support/safewrite.h"
#include "support/textenc.h"

namespace velotag {

namespace {

constexpr const char* kSection = "options";
constexpr const char* kServers = "servers";

int CheckState(const std::string& text) { return LeadingInteger(text) != 0 ? 1 : 0; }

int OptionIndex(const std::string& text) {
  int v = LeadingInteger(text);
  return (v == 0 || v == 1) ? v : 0;
}

std::string Indexed(const char* name, int i) { return std::string(name) + "(" + std::to_string(i) + ")"; }

}  // namespace

const std::vector<std::string>& RenameVariables() {
  static const std::vector<std::string> kVariables = {"%track%", "%title%", "%artist%",
                                                      "%album%", "%year%",  "%genre%"};
  return kVariables;
}

bool LoadSettings(const std::string& fileName, Settings& s) {
  std::string text;
  bool whole = ReadTextFile(fileName, text, 32768, kTextAuto);
  IniDocument doc;
  ParseIniText(text, doc, true);
  MergeIniDuplicates(doc);
  std::string v;
  GetIniValue(kSection, "LastPath", s.LastPath, doc);
  for (int i = 0; i < kCheckBoxCount; ++i) {
    GetIniValue(kSection, Indexed("ChkID3v1", i), v, doc);
    s.ChkID3v1[static_cast<std::size_t>(i)] = CheckState(v);
  }
  for (int i = 0; i < kTextBoxCount; ++i)
    GetIniValue(kSection, Indexed("TxtID3", i), s.TxtID3[static_cast<std::size_t>(i)], doc);
  GetIniValue(kSection, "OptID3editVer", v, doc);
  s.OptID3editVer = OptionIndex(v);
  GetIniValue(kSection, "OptID3ver", v, doc);
  s.OptID3ver = OptionIndex(v);
  GetIniValue(kSection, "CmbID3v1", s.CmbID3v1, doc);
  GetIniValue(kSection, "ChkID3v1AutoTrack", v, doc);
  s.ChkID3v1AutoTrack = CheckState(v);
  GetIniValue(kSection, "RenamePattern", v, doc);
  s.RenamePattern = IsValidRenamePattern(v, RenameVariables());
  GetIniValue(kServers, "fingerprint", s.Servers.Fingerprint, doc);
  GetIniValue(kServers, "cddb", s.Servers.Cddb, doc);
  GetIniValue(kServers, "cddb2", s.Servers.Cddb2, doc);
  GetIniValue(kServers, "cddb_email", s.Servers.CddbEmail, doc);
  GetIniValue(kServers, "musicbrainz", s.Servers.MusicBrainz, doc);
  GetIniValue(kServers, "update", s.Servers.Update, doc);
  GetIniValue(kServers, "acoustid_key", s.Servers.AcoustIdKey, doc);
  GetIniValue(kServers, "acoustid", s.Servers.AcoustId, doc);
  GetIniValue(kServers, "acoustid_score", s.Servers.AcoustIdScore, doc);
  return whole;
}

std::string BuildSettingsText(const Settings& s) {
  IniDocument doc;
  SetIniValue(kSection, "LastPath", s.LastPath, doc, true);
  for (int i = 0; i < kCheckBoxCount; ++i)
    SetIniValue(kSection, Indexed("ChkID3v1", i),
                std::to_string(s.ChkID3v1[static_cast<std::size_t>(i)]), doc, true);
  for (int i = 0; i < kTextBoxCount; ++i)
    SetIniValue(kSection, Indexed("TxtID3", i), s.TxtID3[static_cast<std::size_t>(i)], doc, true);
  SetIniValue(kSection, "CmbID3v1", s.CmbID3v1, doc, true);
  SetIniValue(kSection, "ChkID3v1AutoTrack", std::to_string(s.ChkID3v1AutoTrack), doc, true);
  SetIniValue(kSection, "RenamePattern", s.RenamePattern, doc, true);
  SetIniValue(kSection, "OptID3editVer", std::to_string(s.OptID3editVer), doc, true);
  SetIniValue(kSection, "OptID3ver", std::to_string(s.OptID3ver), doc, true);
  SetIniValue(kServers, "fingerprint", s.Servers.Fingerprint, doc, true);
  SetIniValue(kServers, "cddb", s.Servers.Cddb, doc, true);
  SetIniValue(kServers, "cddb2", s.Servers.Cddb2, doc, true);
  SetIniValue(kServers, "cddb_email", s.Servers.CddbEmail, doc, true);
  SetIniValue(kServers, "musicbrainz", s.Servers.MusicBrainz, doc, true);
  SetIniValue(kServers, "update", s.Servers.Update, doc, true);
  SetIniValue(kServers, "acoustid_key", s.Servers.AcoustIdKey, doc, true);
  SetIniValue(kServers, "acoustid", s.Servers.AcoustId, doc, true);
  SetIniValue(kServers, "acoustid_score", s.Servers.AcoustIdScore, doc, true);
  RemoveEmptyIniSections(doc);
  return BuildIniText(doc, true);
}

double AcoustIdMinScore(const ServerSettings& servers) {
  std::optional<double> score = ParseNumber(servers.AcoustIdScore);
  return score && *score > 0 && *score <= 1 ? *score : 0.5;
}

// Replaced whole, so that a full disk at closing time keeps the old
// settings instead of leaving an empty file.
bool SaveSettings(const std::string& fileName, const Settings& settings) {
  return ReplaceFileBytes(fileName, StringToAnsi(BuildSettingsText(settings)));
}

}  // namespace velotag
