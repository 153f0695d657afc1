// libFuzzer target: arbitrary bytes as an MP3 file. Reads every field and
// frame, edits, writes (in place or through the temporary file), reads the
// result back and removes the tag, all inside a private temporary folder.
//
// Besides the sanitizers it checks what a write promises: a tag written is
// found again and holds what was set, and nothing after the tag is lost.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "support/paths.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

using namespace velotag;
using velotag::fuzz::Check;
using velotag::fuzz::ReadFile;

namespace {

void ReadEverything(const ID3v2Tag& tag) {
  for (int i = 0; i < kID3v2FieldCount; ++i) (void)GetID3v2Field(tag, i);
  std::vector<ID3v2Comment> comments;
  std::vector<ID3v2UserField> fields;
  GetID3v2Comments(tag, comments, false);
  GetID3v2Comments(tag, comments, true);
  GetID3v2UserURLs(tag, fields, false);
  GetID3v2UserTexts(tag, fields, false);
  (void)HasID3v2Picture(tag);
  for (const ID3v2Frame& f : tag.Frames) {
    std::string text;
    ID3v2Picture pic;
    DecodeID3v2TextFrame(tag, f, text);
    DecodeID3v2LinkFrame(tag, f, text);
    if (DecodeID3v2Picture(tag, f, pic) && pic.ImageSize) {
      volatile std::uint8_t last = pic.Image[pic.ImageSize - 1];
      (void)last;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = fuzz::WorkFolder();
  const std::string mp3 = folder + "input.mp3";
  fuzz::WriteFile(mp3, data, size);

  ID3v2Tag tag;
  const int opened = OpenID3v2(mp3, tag, 4);
  Check(opened == kTagDone || opened == kTagNone || opened == kTagBadHeader, "open result");
  ReadID3v2Frames(tag);
  ReadEverything(tag);

  // Pictures go to a folder of their own; nothing may land outside it.
  const std::string pictures = folder + "pictures/";
  ::mkdir(pictures.c_str(), 0700);
  std::vector<std::string> paths;
  ExtractID3v2Pictures(tag, pictures, paths);
  for (const std::string& p : paths) {
    Check(p.rfind(pictures, 0) == 0 && p.find('/', pictures.size()) == std::string::npos,
          "picture stays in its folder");
    ::unlink(p.c_str());
  }

  // Where the old tag could not be vouched for (none, an unknown header, a
  // body past the end) the new tag goes in front and every byte is kept;
  // a tag that lies wholly in the file is replaced, and what follows it kept.
  const bool replaces = opened == kTagDone &&
                        tag.TagOffset + 10 + tag.TagSize <= static_cast<Offset64>(size);
  const std::size_t insertAt = tag.TagOffset >= 0 ? static_cast<std::size_t>(tag.TagOffset) : 0;
  const std::size_t after = replaces ? static_cast<std::size_t>(tag.TagOffset + 10 + tag.TagSize + 10)
                                     : insertAt;
  const std::vector<std::uint8_t> input(data, data + size);

  const std::string title = "fuzz title \xC3\xA9";
  Check(SetID3v2Text(tag, "TIT2", title, 3, false), "title set");
  SetID3v2Text(tag, "TDRC", "2024", -1, false);
  SetID3v2Comment(tag, "eng", "d", "comment", 1, false);
  SetID3v2UserURL(tag, "", "http://x/", 0, false);
  DeleteID3v2Frame(tag, "TPE1", false);
  if (size % 3 == 0) SetID3v2Text(tag, "TIT3", std::string(3000, 's'), 3, false);
  Check(WriteID3v2(tag), "a writable file takes a tag");

  ID3v2Tag back;
  Check(OpenID3v2(mp3, back, 4) == kTagDone, "the written tag is found");
  Check(ReadID3v2Frames(back), "the written tag reads whole");
  Check(GetID3v2Field(back, kFieldTitle) == title, "the title reads back");
  Check(GetID3v2Field(back, kFieldArtist).empty(), "the deleted frame stays deleted");
  ReadEverything(back);
  const std::vector<std::uint8_t> now = ReadFile(mp3);
  Check(std::equal(input.begin(), input.begin() + static_cast<long>(insertAt), now.begin()),
        "the bytes before the tag are kept");
  if (after < size) {
    const std::size_t tail = size - after;
    Check(now.size() >= tail && std::equal(input.end() - static_cast<long>(tail), input.end(),
                                           now.end() - static_cast<long>(tail)),
          "the bytes after the tag are kept");
  }

  Check(RemoveID3v2(back), "the tag written can be removed");
  if (!replaces) Check(ReadFile(mp3) == input, "write and remove give the file back");
  CloseID3v2(back);
  ::unlink(mp3.c_str());
  ::unlink((mp3 + ".id3tmp").c_str());
  return 0;
}
