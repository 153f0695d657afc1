// The fields the main window works with: the media list's columns and the
// field panel's fields, each panel field described once for the batch, the
// window and the command line.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "library/settings.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

namespace velotag {

// The twelve media list columns.
enum MediaColumn : int {
  kColFileName = 0, kColTrack, kColArtist, kColTitle, kColAlbum, kColYear, kColGenre,
  kColComment, kColPath, kColSize, kColID3v1, kColID3v2, kMediaColumnCount
};

// The panel's fields in their order: field k has check box k (the settings'
// ChkID3v1(k)) and clear button k; the picture has "browse" in that place.
enum class PanelField : int {
  Track, Title, Artist, Album, Year, Genre, Comment, Disc, AlbumArtist, Composer,
  Publisher, OrigArtist, Copyright, Url, Encoded, Bpm, Picture
};
inline constexpr int kPanelFieldCount = kCheckBoxCount;

struct PanelFieldInfo {
  PanelField field;
  const char* name;     // velotag-cli's FIELD name
  const char* caption;  // the check box's caption
  // The ID3v2 text frame the field writes; "" where it writes a frame of
  // its own kind (comment, user link, picture).
  const char* frame;
  int id3v2Field;  // what GetID3v2Field reads it from; -1: the picture
  int column;      // the media list column that shows it; -1: none
  std::string ID3v1Tag::*v1Text;  // the ID3v1 text it edits; null for numbers
  std::size_t v1Width;  // what its input is cut to while ID3v1 is edited; 0: not cut
  bool v2Only;          // takes input only while ID3v2 is edited
};

inline constexpr std::array<PanelFieldInfo, kPanelFieldCount> kPanelFields = {{
    {PanelField::Track, "track", "Track #", "TRCK", kFieldTrack, kColTrack, nullptr, 3, false},
    {PanelField::Title, "title", "Title", "TIT2", kFieldTitle, kColTitle, &ID3v1Tag::Title, 30, false},
    {PanelField::Artist, "artist", "Artist", "TPE1", kFieldArtist, kColArtist, &ID3v1Tag::Artist, 30, false},
    {PanelField::Album, "album", "Album", "TALB", kFieldAlbum, kColAlbum, &ID3v1Tag::Album, 30, false},
    {PanelField::Year, "year", "Year", "TDRC", kFieldYear, kColYear, nullptr, 4, false},
    {PanelField::Genre, "genre", "Genre", "TCON", kFieldGenre, kColGenre, nullptr, 0, false},
    {PanelField::Comment, "comment", "Comment", "", kFieldComment, kColComment, &ID3v1Tag::Comment, 30, false},
    {PanelField::Disc, "disc", "Disc #", "TPOS", kFieldPartOfSet, -1, nullptr, 0, true},
    {PanelField::AlbumArtist, "albumartist", "Album artist", "TPE2", kFieldBand, -1, nullptr, 0, true},
    {PanelField::Composer, "composer", "Composer", "TCOM", kFieldComposer, -1, nullptr, 0, true},
    {PanelField::Publisher, "publisher", "Publisher", "TPUB", kFieldPublisher, -1, nullptr, 0, true},
    {PanelField::OrigArtist, "origartist", "Orig. Artist", "TOPE", kFieldOrigArtist, -1, nullptr, 0, true},
    {PanelField::Copyright, "copyright", "Copyright", "TCOP", kFieldCopyright, -1, nullptr, 0, true},
    {PanelField::Url, "url", "URL", "", kFieldUrl, -1, nullptr, 0, true},
    {PanelField::Encoded, "encoded", "Encoded", "TENC", kFieldEncodedBy, -1, nullptr, 0, true},
    {PanelField::Bpm, "bpm", "BPM", "TBPM", kFieldBpm, -1, nullptr, 0, true},
    {PanelField::Picture, "picture", "Picture", "", -1, -1, nullptr, 0, true},
}};

static_assert([] {
  for (int k = 0; k < kPanelFieldCount; ++k)
    if (static_cast<int>(kPanelFields[static_cast<std::size_t>(k)].field) != k) return false;
  return true;
}(), "kPanelFields lists the fields in their order");

inline const PanelFieldInfo& FieldInfo(PanelField f) {
  return kPanelFields[static_cast<std::size_t>(f)];
}

// The field's text box: the genre has the genre box instead, so the boxes
// after it are numbered one lower than their fields. -1 for the genre.
inline int TextBoxOf(PanelField f) {
  const int k = static_cast<int>(f);
  return k < static_cast<int>(PanelField::Genre) ? k : f == PanelField::Genre ? -1 : k - 1;
}

// The field panel: plain state that the window's widgets are bound to.
struct FieldPanel {
  std::array<std::string, kTextBoxCount> TxtID3;
  std::array<int, kCheckBoxCount> ChkID3v1{};
  std::string CmbID3v1;
  std::string CmbID3v1ToolTip;
  int ChkID3v1AutoTrack = 0;
  int ChkID3 = 0;
  std::vector<std::string> CmbTXXX;  // "description=value" of the loaded file
  int CmbTXXXIndex = -1;
  // The ID3v2-only fields and the TXXX box take input (ID3v2 is edited).
  bool ID3v2Enabled = false;

  // The field's input: its text box, or the genre box.
  std::string& Input(PanelField f) {
    return f == PanelField::Genre ? CmbID3v1 : TxtID3[static_cast<std::size_t>(TextBoxOf(f))];
  }
  const std::string& Input(PanelField f) const { return const_cast<FieldPanel*>(this)->Input(f); }
  int& Check(PanelField f) { return ChkID3v1[static_cast<std::size_t>(f)]; }
  bool Checked(PanelField f) const { return ChkID3v1[static_cast<std::size_t>(f)] == 1; }
  bool Enabled(PanelField f) const { return ID3v2Enabled || !FieldInfo(f).v2Only; }
};

}  // namespace velotag
