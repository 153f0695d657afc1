// The settings file: program folder + executable name + ".ini", section
// "options" (and "servers", the hosts of the online services).
#pragma once

#include <array>
#include <string>
#include <vector>

namespace velotag {

inline constexpr int kCheckBoxCount = 17;  // field panel check boxes 0..16
inline constexpr int kTextBoxCount = 16;   // field panel text boxes 0..15

struct ServerSettings {
  std::string Fingerprint;  // HOST[:PORT]; empty: none configured
  std::string Cddb;         // the CD window's "FreeDB" entry; empty: the built-in default
  // A second CDDB server. Its entry of the server box, "MusicBrainz", now
  // asks the MusicBrainz web service instead (MusicBrainz closed its CDDB
  // gateway); the value is kept so that the file loses nothing.
  std::string Cddb2;
  std::string MusicBrainz;  // the web service's base URL; empty: https://musicbrainz.org
  std::string CddbEmail;    // greeted with in the CDDB "hello"; empty: the built-in values
  std::string Update;       // empty: the built-in default
  // The AcoustID service: its application key (empty: auto tagging uses the
  // fingerprint service), its base URL (empty: the public one) and the
  // lowest score taken ("0.5" when empty or out of range).
  std::string AcoustIdKey;
  std::string AcoustId;
  std::string AcoustIdScore;
};

// AcoustIdScore as a number in (0, 1].
double AcoustIdMinScore(const ServerSettings& servers);

struct Settings {
  std::string LastPath;
  std::array<std::string, kTextBoxCount> TxtID3;
  std::array<int, kCheckBoxCount> ChkID3v1{};
  std::string CmbID3v1;
  int ChkID3v1AutoTrack = 0;
  std::string RenamePattern;
  int OptID3editVer = 0;  // 0 "Edit ID3v1", 1 "Edit ID3v2"
  int OptID3ver = 0;      // 0 "Show ID3v1", 1 "Show ID3v2"
  ServerSettings Servers;
};

// The rename variables in their fixed order.
const std::vector<std::string>& RenameVariables();

// Fills settings from the file; true when the whole file was read. A missing
// or broken value reads as its default (0, empty); LastPath stays empty when
// missing and the caller puts the program folder there. A stored rename
// pattern that is not valid reads as empty.
bool LoadSettings(const std::string& fileName, Settings& settings);
std::string BuildSettingsText(const Settings& settings);
// Replaces the file; true when written.
bool SaveSettings(const std::string& fileName, const Settings& settings);

}  // namespace velotag
