// Builds the demo library: a few copies of one short real MP3 tone, tagged
// by Velotag's own tag code with a spread of tags (ID3v1 only, 2.3, 2.4 with a
// cover and non-ASCII texts, stacked ID3v1 blocks, no tag at all, a file in a
// subfolder). Only the files it names are written; nothing else is touched.
//
//   make_demo SOURCE_FOLDER OUTPUT_FOLDER
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/largefile.h"
#include "support/paths.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

namespace {

using namespace velotag;

struct DemoFile {
  const char* name;
  int v2Version;  // 0 = no ID3v2 tag
  std::map<std::string, std::string> frames;
  bool cover;
  int v1Blocks;   // ID3v1 blocks at the end
  ID3v1Tag v1;
};

ID3v1Tag V1(const char* title, const char* artist, const char* album, int year, int track,
            int genre, const char* comment = "") {
  ID3v1Tag t;
  t.Title = title;
  t.Artist = artist;
  t.Album = album;
  t.Year = year;
  t.Track = static_cast<std::uint8_t>(track);
  t.Genre = static_cast<std::uint8_t>(genre);
  t.Comment = comment;
  return t;
}

bool Make(const Bytes& audio, const std::string& cover, const std::string& path,
          const DemoFile& f) {
  if (!WriteBytesToFile(path, audio)) return false;
  if (f.v2Version != 0) {
    ID3v2Tag tag;
    if (OpenID3v2(path, tag, f.v2Version) == kTagFailed) return false;
    for (const auto& [id, text] : f.frames) {
      if (id == "COMM") SetID3v2Comment(tag, "eng", "", text, kID3Utf8, false);
      else SetID3v2Text(tag, id, text, kID3Utf8, false);
    }
    if (f.cover && !SetID3v2Picture(tag, "", cover, kID3Utf8, false)) return false;
    if (!WriteID3v2(tag)) return false;
  }
  for (int i = 0; i < f.v1Blocks; ++i) {
    // WriteID3v1 overwrites an existing block, so further blocks are appended by hand.
    ID3v1Tag t = f.v1;
    if (i == 0) {
      if (WriteID3v1(path, t) != kTagDone) return false;
    } else {
      Offset64 size = GetLargeFileSize(path);
      FileHandle h = OpenReadWrite(path);
      Bytes block(128);
      LargeFileSeek(h.get(), size - 128, true);
      if (LargeFileRead(h.get(), block.data(), 128) != 128) return false;
      LargeFileSeek(h.get(), 0, false);
      if (LargeFileWrite(h.get(), block.data(), 128) != 128) return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_demo SOURCE_FOLDER OUTPUT_FOLDER\n");
    return 2;
  }
  std::string source = WithTrailingSlash(argv[1]);
  std::string out = WithTrailingSlash(argv[2]);
  if (out[0] != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return 1;
    out = WithTrailingSlash(cwd) + out;
  }
  Bytes audio;
  {
    FileHandle h = OpenRead(source + "tone.mp3");
    Offset64 size = LargeFileSize(h.get());
    if (size <= 0) {
      std::fprintf(stderr, "make_demo: cannot read %stone.mp3\n", source.c_str());
      return 1;
    }
    audio.resize(static_cast<std::size_t>(size));
    if (LargeFileRead(h.get(), audio.data(), audio.size()) != audio.size()) return 1;
  }
  const std::vector<DemoFile> files = {
      {"01 - Morning Light.mp3", 0, {}, false, 1,
       V1("Morning Light", "Kallio Ensemble", "Northern Sketches", 2003, 1, 26, "ID3v1 only")},
      {"02 - Harbour Lights.mp3", 3,
       {{"TIT2", "Harbour Lights"}, {"TPE1", "Kallio Ensemble"}, {"TALB", "Northern Sketches"},
        {"TRCK", "2/6"}, {"TDRC", "2003"}, {"TCON", "Jazz"}, {"COMM", "ID3v2.3"}},
       false, 0, {}},
      {"03 - Árvíztűrő tükörfúrógép.mp3", 4,
       {{"TIT2", "Árvíztűrő tükörfúrógép"}, {"TPE1", "Mária Kovács & Björk Guðmundsdóttir"},
        {"TALB", "Ősz / 秋"}, {"TRCK", "3"}, {"TDRC", "2011"}, {"TCON", "Folk"},
        {"TPE2", "Sigur Rós"}, {"COMM", "ID3v2.4 with a cover"}},
       true, 1, V1("Arvizturo tukorfurogep", "Maria Kovacs", "Osz", 2011, 3, 80)},
      {"04 - Stacked.mp3", 0, {}, false, 2,
       V1("Stacked", "Old Tagger", "Leftovers", 1999, 4, 12, "two ID3v1 blocks")},
      {"05 untagged.mp3", 0, {}, false, 0, {}},
      {"Live/06 - Encore.mp3", 3,
       {{"TIT2", "Encore"}, {"TPE1", "Kallio Ensemble"}, {"TALB", "Live at the Harbour"},
        {"TRCK", "6"}, {"TDRC", "2005"}, {"TCON", "Live"}},
       false, 1, V1("Encore", "Kallio Ensemble", "Live at the Harbour", 2005, 6, 17)},
  };
  if (!CreatePath(out + "Live/")) {
    std::fprintf(stderr, "make_demo: cannot create %s\n", out.c_str());
    return 1;
  }
  for (const DemoFile& f : files) {
    if (!Make(audio, source + "cover.png", out + f.name, f)) {
      std::fprintf(stderr, "make_demo: cannot write %s%s\n", out.c_str(), f.name);
      return 1;
    }
  }
  return 0;
}
