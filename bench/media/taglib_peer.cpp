// TagLib doing the media benchmarks' work.
//   taglib_peer scan DIR           the media list's ID3v2 fields of every file
//   taglib_peer change DIR ARTIST  the artist of every file, saved as ID3v2.3
//   taglib_peer tag DIR            a fresh ID3v2.3 tag of six fields on every file, and an
//                                  ID3v1 tag on every second one: the test files, as a
//                                  program other than ours leaves them (1 KB of padding)
#include <dirent.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const bool change = std::strcmp(argv[1], "change") == 0, tag = std::strcmp(argv[1], "tag") == 0;
  if (change && argc != 4) return 2;
  DIR* d = opendir(argv[2]);
  if (!d) return 1;
  long files = 0, chars = 0;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mp3") != 0) continue;
    std::string path = std::string(argv[2]) + "/" + name;
    // No audio properties: only the tags are wanted.
    TagLib::MPEG::File f(path.c_str(), false);
    TagLib::ID3v2::Tag* id3 = f.ID3v2Tag(true);
    if (tag) {
      const std::string n = std::to_string(files);
      id3->setTitle("Title number " + n);
      id3->setArtist("Artist " + std::to_string(files % 97));
      id3->setAlbum("Album " + std::to_string(files % 31));
      id3->setTrack(static_cast<unsigned>(files % 20 + 1));
      id3->setYear(2001);
      id3->setGenre("Rock");
      int which = TagLib::MPEG::File::ID3v2;
      if (files % 2 == 0) {
        TagLib::Tag::duplicate(id3, static_cast<TagLib::Tag*>(f.ID3v1Tag(true)), true);
        which |= TagLib::MPEG::File::ID3v1;
      }
      if (!f.save(which, TagLib::File::StripOthers, TagLib::ID3v2::v3)) return 1;
    } else if (change) {
      id3->setArtist(TagLib::String(argv[3], TagLib::String::UTF8));
      if (!f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3,
                  TagLib::File::DoNotDuplicate))
        return 1;
    } else {
      chars += id3->title().size() + id3->artist().size() + id3->album().size() +
               id3->genre().size() + id3->comment().size() +
               static_cast<long>(id3->year() + id3->track()) % 2;
      chars += f.hasID3v1Tag();
    }
    ++files;
  }
  closedir(d);
  std::printf("%ld files, %ld characters\n", files, chars);
  return 0;
}
