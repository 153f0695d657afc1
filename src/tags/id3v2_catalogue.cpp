#include "tags/id3v2_catalogue.h"

#include <array>

namespace velotag {

namespace {

constexpr ID3v2CatalogueEntry kV22[] = {
    {"BUF", "Recommended buffer size"},
    {"CNT", "Play counter"},
    {"COM", "Comments"},
    {"CRA", "Audio encryption"},
    {"CRM", "Encrypted meta frame"},
    {"ETC", "Event timing codes"},
    {"EQU", "Equalization"},
    {"GEO", "General encapsulated object"},
    {"IPL", "Involved people list"},
    {"LNK", "Linked information"},
    {"MCI", "Music CD Identifier"},
    {"MLL", "MPEG location lookup table"},
    {"PIC", "Attached picture"},
    {"POP", "Popularimeter"},
    {"REV", "Reverb"},
    {"RVA", "Relative volume adjustment"},
    {"SLT", "Synchronized lyric/text"},
    {"STC", "Synced tempo codes"},
    {"TAL", "Album/Movie/Show title"},
    {"TBP", "BPM (Beats Per Minute)"},
    {"TCM", "Composer"},
    {"TCO", "Content type"},
    {"TCR", "Copyright message"},
    {"TDA", "Date"},
    {"TDY", "Playlist delay"},
    {"TEN", "Encoded by"},
    {"TFT", "File type"},
    {"TIM", "Time"},
    {"TKE", "Initial key"},
    {"TLA", "Language(s)"},
    {"TLE", "Length"},
    {"TMT", "Media type"},
    {"TOA", "Original artist(s)/performer(s)"},
    {"TOF", "Original filename"},
    {"TOL", "Original Lyricist(s)/text writer(s)"},
    {"TOR", "Original release year"},
    {"TOT", "Original album/Movie/Show title"},
    {"TP1", "Lead artist(s)/Lead performer(s)/Soloist(s)/Performing group"},
    {"TP2", "Band/Orchestra/Accompaniment"},
    {"TP3", "Conductor/Performer refinement"},
    {"TP4", "Interpreted, remixed, or otherwise modified by"},
    {"TPA", "Part of a set"},
    {"TPB", "Publisher"},
    {"TRC", "ISRC (International Standard Recording Code)"},
    {"TRD", "Recording dates"},
    {"TRK", "Track number/Position in set"},
    {"TSI", "Size"},
    {"TSS", "Software/hardware and settings used for encoding"},
    {"TT1", "Content group description"},
    {"TT2", "Title/Songname/Content description"},
    {"TT3", "Subtitle/Description refinement"},
    {"TXT", "Lyricist/text writer"},
    {"TXX", "User defined text information frame"},
    {"TYE", "Year"},
    {"UFI", "Unique file identifier"},
    {"ULT", "Unsychronized lyric/text transcription"},
    {"WAF", "Official audio file webpage"},
    {"WAR", "Official artist/performer webpage"},
    {"WAS", "Official audio source webpage"},
    {"WCM", "Commercial information"},
    {"WCP", "Copyright/Legal information"},
    {"WPB", "Publishers official webpage"},
    {"WXX", "User defined URL link frame"},
};

constexpr ID3v2CatalogueEntry kV23[] = {
    {"AENC", "Audio encryption "},
    {"APIC", "Attached picture"},
    {"COMM", "Comments"},
    {"COMR", "Commercial frame"},
    {"ENCR", "Encryption method registration"},
    {"EQUA", "Equalization"},
    {"ETCO", "Event timing codes"},
    {"GEOB", "General encapsulated object"},
    {"GRID", "Group identification registration"},
    {"IPLS", "Involved people list"},
    {"LINK", "Linked information"},
    {"MCDI", "Music CD identifier"},
    {"MLLT", "MPEG location lookup table"},
    {"OWNE", "Ownership frame"},
    {"PRIV", "Private frame"},
    {"PCNT", "Play counter"},
    {"POPM", "Popularimeter"},
    {"POSS", "Position synchronisation frame"},
    {"RBUF", "Recommended buffer size"},
    {"RVAD", "Relative volume adjustment"},
    {"RVRB", "Reverb"},
    {"SYLT", "Synchronized lyric/text"},
    {"SYTC", "Synchronized tempo codes"},
    {"TALB", "Album/Movie/Show title"},
    {"TBPM", "BPM (beats per minute)"},
    {"TCOM", "Composer"},
    {"TCON", "Content type"},
    {"TCOP", "Copyright message"},
    {"TDAT", "Date"},
    {"TDLY", "Playlist delay"},
    {"TENC", "Encoded by"},
    {"TEXT", "Lyricist/Text writer"},
    {"TFLT", "File type"},
    {"TIME", "Time"},
    {"TIT1", "Content group description"},
    {"TIT2", "Title/songname/content description"},
    {"TIT3", "Subtitle/Description refinement"},
    {"TKEY", "Initial key"},
    {"TLAN", "Language(s)"},
    {"TLEN", "Length"},
    {"TMED", "Media type"},
    {"TOAL", "Original album/movie/show title"},
    {"TOFN", "Original filename"},
    {"TOLY", "Original lyricist(s)/text writer(s)"},
    {"TOPE", "Original artist(s)/performer(s)"},
    {"TORY", "Original release year"},
    {"TOWN", "File owner/licensee"},
    {"TPE1", "Lead performer(s)/Soloist(s)"},
    {"TPE2", "Band/orchestra/accompaniment"},
    {"TPE3", "Conductor/performer refinement"},
    {"TPE4", "Interpreted, remixed, or otherwise modified by"},
    {"TPOS", "Part of a set"},
    {"TPUB", "Publisher"},
    {"TRCK", "Track number/Position in set"},
    {"TRDA", "Recording dates"},
    {"TRSN", "Internet radio station name"},
    {"TRSO", "Internet radio station owner"},
    {"TSIZ", "Size"},
    {"TSRC", "ISRC (international standard recording code)"},
    {"TSSE", "Software/Hardware and settings used for encoding"},
    {"TYER", "Year"},
    {"TXXX", "User defined text information frame"},
    {"UFID", "Unique file identifier"},
    {"USER", "Terms of use"},
    {"USLT", "Unsychronized lyric/text transcription"},
    {"WCOM", "Commercial information"},
    {"WCOP", "Copyright/Legal information"},
    {"WOAF", "Official audio file webpage"},
    {"WOAR", "Official artist/performer webpage"},
    {"WOAS", "Official audio source webpage"},
    {"WORS", "Official internet radio station homepage"},
    {"WPAY", "Payment"},
    {"WPUB", "Publishers official webpage"},
    {"WXXX", "User defined URL link frame"},
};

constexpr ID3v2CatalogueEntry kV24[] = {
    {"AENC", "Audio encryption"},
    {"APIC", "Attached picture"},
    {"ASPI", "Audio seek point index"},
    {"COMM", "Comments"},
    {"COMR", "Commercial frame"},
    {"ENCR", "Encryption method registration"},
    {"EQU2", "Equalisation (2)"},
    {"ETCO", "Event timing codes"},
    {"GEOB", "General encapsulated object"},
    {"GRID", "Group identification registration"},
    {"LINK", "Linked information"},
    {"MCDI", "Music CD identifier"},
    {"MLLT", "MPEG location lookup table"},
    {"OWNE", "Ownership frame"},
    {"PRIV", "Private frame"},
    {"PCNT", "Play counter"},
    {"POPM", "Popularimeter"},
    {"POSS", "Position synchronisation frame"},
    {"RBUF", "Recommended buffer size"},
    {"RVA2", "Relative volume adjustment (2)"},
    {"RVRB", "Reverb"},
    {"SEEK", "Seek frame"},
    {"SIGN", "Signature frame"},
    {"SYLT", "Synchronised lyric/text"},
    {"SYTC", "Synchronised tempo codes"},
    {"TALB", "Album/Movie/Show title"},
    {"TBPM", "BPM (beats per minute)"},
    {"TCOM", "Composer"},
    {"TCON", "Content type"},
    {"TCOP", "Copyright message"},
    {"TDEN", "Encoding time"},
    {"TDLY", "Playlist delay"},
    {"TDOR", "Original release time"},
    {"TDRC", "Recording time"},
    {"TDRL", "Release time"},
    {"TDTG", "Tagging time"},
    {"TENC", "Encoded by"},
    {"TEXT", "Lyricist/Text writer"},
    {"TFLT", "File type"},
    {"TIPL", "Involved people list"},
    {"TIT1", "Content group description"},
    {"TIT2", "Title/songname/content description"},
    {"TIT3", "Subtitle/Description refinement"},
    {"TKEY", "Initial key"},
    {"TLAN", "Language(s)"},
    {"TLEN", "Length"},
    {"TMCL", "Musician credits list"},
    {"TMED", "Media type"},
    {"TMOO", "Mood"},
    {"TOAL", "Original album/movie/show title"},
    {"TOFN", "Original filename"},
    {"TOLY", "Original lyricist(s)/text writer(s)"},
    {"TOPE", "Original artist(s)/performer(s)"},
    {"TOWN", "File owner/licensee"},
    {"TPE1", "Lead performer(s)/Soloist(s)"},
    {"TPE2", "Band/orchestra/accompaniment"},
    {"TPE3", "Conductor/performer refinement"},
    {"TPE4", "Interpreted, remixed, or otherwise modified by"},
    {"TPOS", "Part of a set"},
    {"TPRO", "Produced notice"},
    {"TPUB", "Publisher"},
    {"TRCK", "Track number/Position in set"},
    {"TRSN", "Internet radio station name"},
    {"TRSO", "Internet radio station owner"},
    {"TSOA", "Album sort order"},
    {"TSOP", "Performer sort order"},
    {"TSOT", "Title sort order"},
    {"TSRC", "ISRC (international standard recording code)"},
    {"TSSE", "Software/Hardware and settings used for encoding"},
    {"TSST", "Set subtitle"},
    {"TXXX", "User defined text information frame"},
    {"UFID", "Unique file identifier"},
    {"USER", "Terms of use"},
    {"USLT", "Unsynchronised lyric/text transcription"},
    {"WCOM", "Commercial information"},
    {"WCOP", "Copyright/Legal information"},
    {"WOAF", "Official audio file webpage"},
    {"WOAR", "Official artist/performer webpage"},
    {"WOAS", "Official audio source webpage"},
    {"WORS", "Official Internet radio station homepage"},
    {"WPAY", "Payment"},
    {"WPUB", "Publishers official webpage"},
    {"WXXX", "User defined URL link frame"},
};

// Lookup order matters: the first matching row wins, so TDRC goes back to
// the year row and never to TDAT, TIME or TRDA.
constexpr ID3v2Correspondence kRows[] = {
    {"TAL", "TALB", ""},     {"TBP", "TBPM", ""},     {"TCM", "TCOM", ""},
    {"TCO", "TCON", ""},     {"TCR", "TCOP", ""},     {"TYE", "TYER", "TDRC"},
    {"TDA", "TDAT", "TDRC"}, {"TDY", "TDLY", ""},     {"TEN", "TENC", ""},
    {"TFT", "TFLT", ""},     {"TIM", "TIME", "TDRC"}, {"TKE", "TKEY", ""},
    {"TLA", "TLAN", ""},     {"TLE", "TLEN", ""},     {"TMT", "TMED", ""},
    {"TOA", "TOPE", ""},     {"TOF", "TOFN", ""},     {"TOL", "TOLY", ""},
    {"TOR", "TORY", "TDOR"}, {"TOT", "TOAL", ""},     {"TP1", "TPE1", ""},
    {"TP2", "TPE2", ""},     {"TP3", "TPE3", ""},     {"TP4", "TPE4", ""},
    {"TPA", "TPOS", ""},     {"TPB", "TPUB", ""},     {"TRC", "TSRC", ""},
    {"TRD", "TRDA", "TDRC"}, {"TRK", "TRCK", ""},     {"TSI", "TSIZ", ""},
    {"TSS", "TSSE", ""},     {"TT1", "TIT1", ""},     {"TT2", "TIT2", ""},
    {"TT3", "TIT3", ""},     {"TXT", "TEXT", ""},     {"TXX", "TXXX", ""},
    {"BUF", "RBUF", ""},     {"CNT", "PCNT", ""},     {"COM", "COMM", ""},
    {"CRA", "AENC", ""},     {"ETC", "ETCO", ""},     {"EQU", "EQUA", "EQU2"},
    {"GEO", "GEOB", ""},     {"IPL", "IPLS", "TIPL"}, {"LNK", "LINK", ""},
    {"MCI", "MCDI", ""},     {"MLL", "MLLT", ""},     {"PIC", "APIC", ""},
    {"POP", "POPM", ""},     {"REV", "RVRB", ""},     {"RVA", "RVAD", "RVA2"},
    {"SLT", "SYLT", ""},     {"STC", "SYTC", ""},     {"UFI", "UFID", ""},
    {"ULT", "USLT", ""},     {"WAF", "WOAF", ""},     {"WAR", "WOAR", ""},
    {"WAS", "WOAS", ""},     {"WCM", "WCOM", ""},     {"WCP", "WCOP", ""},
    {"WPB", "WPUB", ""},     {"WXX", "WXXX", ""},
};

static_assert(std::size(kV22) == 63 && std::size(kV23) == 74 && std::size(kV24) == 83);
static_assert(std::size(kRows) == 62);

// Identifiers are ASCII, so ASCII case folding is the whole comparison.
bool SameID(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string_view Cell(const ID3v2Correspondence& row, std::int32_t version) {
  switch (version) {
    case 2: return row.v22;
    case 3: return row.v23;
    default: return row.v24.empty() ? row.v23 : row.v24;
  }
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::span<const ID3v2CatalogueEntry> ID3v2Catalogue(std::int32_t version) {
  switch (version) {
    case 2: return kV22;
    case 3: return kV23;
    case 4: return kV24;
    default: return {};
  }
}

std::span<const ID3v2Correspondence> ID3v2CorrespondenceTable() { return kRows; }

std::string ID3v2FrameDescription(std::string_view frameID, std::int32_t version) {
  std::string_view id = TrimBlanks(frameID);
  for (const ID3v2CatalogueEntry& e : ID3v2Catalogue(version))
    if (SameID(e.FrameID, id)) return std::string(e.Description);
  return {};
}

std::string ConvertID3v2FrameID(std::string_view frameID, std::int32_t fromVersion,
                                std::int32_t toVersion) {
  if (fromVersion < 2 || fromVersion > 4 || toVersion < 2 || toVersion > 4) return {};
  if (fromVersion == toVersion) return std::string(frameID);
  for (const ID3v2Correspondence& row : kRows)
    if (SameID(Cell(row, fromVersion), frameID)) return std::string(Cell(row, toVersion));
  return {};
}

}  // namespace velotag
