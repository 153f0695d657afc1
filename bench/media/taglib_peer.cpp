// TagLib doing the media benchmarks' work.
//   taglib_peer scan DIR           the media list's ID3v2 fields of every file
//   taglib_peer change DIR ARTIST  the artist of every file, saved as ID3v2.3
#include <dirent.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  bool change = std::strcmp(argv[1], "change") == 0;
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
    TagLib::ID3v2::Tag* tag = f.ID3v2Tag(true);
    if (change) {
      tag->setArtist(TagLib::String(argv[3], TagLib::String::UTF8));
      if (!f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3,
                  TagLib::File::DoNotDuplicate))
        return 1;
    } else {
      chars += tag->title().size() + tag->artist().size() + tag->album().size() +
               tag->genre().size() + tag->comment().size() +
               static_cast<long>(tag->year() + tag->track()) % 2;
      chars += f.hasID3v1Tag();
    }
    ++files;
  }
  closedir(d);
  std::printf("%ld files, %ld characters\n", files, chars);
  return 0;
}
