#include "tags/genres.h"

#include <array>
#include <cmath>

#include "support/ini.h"
#include "support/numtext.h"
#include "support/textenc.h"

namespace velotag {

namespace {

// These texts are what stored ID3v1 blocks mean; the odd spellings are kept
// on purpose ("Psychadelic", "Hardcase Rock", "Bebob", "Negerpunk").
constexpr std::array<const char*, kGenreCount> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical",
    "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock",
    "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock",
    "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance",
    "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap",
    "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro",
    "Musical", "Rock & Roll", "Hardcase Rock", "Folk", "Folk-Rock", "National Folk", "Swing",
    "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde",
    "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire",
    "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House",
    "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie",
    "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue",
    "Salsa", "Thrash Metal", "Anime", "Jpop", "Synthpop"};

std::string RemoveBlanks(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out.push_back(c);
  return out;
}

}  // namespace

std::string GenreName(std::uint8_t genre) {
  if (genre < kGenreCount) return kGenres[genre];
  if (genre == kNoGenre) return {};
  return std::to_string(genre);
}

std::uint8_t GenreIndex(std::string& name, bool ignoreSpaces) {
  name = ignoreSpaces ? RemoveBlanks(name) : TrimSpaces(name);
  if (name.empty()) return kNoGenre;
  // Folded once per process: batch copies look up a genre for every file.
  static const auto kFolded = [] {
    std::array<std::array<std::string, kGenreCount>, 2> t;
    for (int i = 0; i < kGenreCount; ++i) {
      t[0][static_cast<std::size_t>(i)] = CaseFold(TrimSpaces(kGenres[static_cast<std::size_t>(i)]));
      t[1][static_cast<std::size_t>(i)] = CaseFold(RemoveBlanks(kGenres[static_cast<std::size_t>(i)]));
    }
    return t;
  }();
  std::string folded = CaseFold(name);
  const auto& table = kFolded[ignoreSpaces ? 1 : 0];
  for (int i = 0; i < kGenreCount; ++i)
    if (table[static_cast<std::size_t>(i)] == folded) return static_cast<std::uint8_t>(i);
  if (auto number = ParseNumber(name); number && *number >= 0 && *number <= 255)
    return static_cast<std::uint8_t>(RoundHalfEven(*number));
  return kNoGenre;
}

}  // namespace velotag
