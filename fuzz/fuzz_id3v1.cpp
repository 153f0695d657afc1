// libFuzzer target: the ID3v1 block at the end of arbitrary files. Reads,
// writes back what was read with one change, reads again, and strips every
// block.
//
// Promises: what a write stores reads back as stored, and a second write of
// that is byte for byte the same file; the bytes before the block are never
// touched; removal takes 128 bytes per block and leaves no block behind.
#include <algorithm>
#include <string>

#include "fuzz_util.h"
#include "tags/id3v1.h"

using namespace velotag;
using velotag::fuzz::Bytes;
using velotag::fuzz::Check;

namespace {

bool Same(const ID3v1Tag& a, const ID3v1Tag& b) {
  return a.Title == b.Title && a.Artist == b.Artist && a.Album == b.Album && a.Year == b.Year &&
         a.Comment == b.Comment && a.Genre == b.Genre && a.Track == b.Track;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string mp3 = fuzz::WorkFolder() + "v1.mp3";
  fuzz::WriteFile(mp3, data, size);
  const Bytes original(data, data + size);

  ID3v1Tag tag;
  const int read = ReadID3v1(mp3, tag);
  Check(read == kTagDone || read == kTagNone, "a readable .mp3 file reads");
  const std::size_t audio = read == kTagDone ? size - 128 : size;
  // One change a person makes: a title of the input's first bytes.
  tag.Title = std::string(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 12));
  tag.Title.erase(std::find(tag.Title.begin(), tag.Title.end(), '\0'), tag.Title.end());
  Check(WriteID3v1(mp3, tag) == kTagDone, "a writable file takes a block");
  const Bytes once = fuzz::ReadFile(mp3);
  Check(once.size() == audio + 128 && std::equal(original.begin(), original.begin() + audio, once.begin()),
        "the audio before the block is kept");
  ID3v1Tag back;
  Check(ReadID3v1(mp3, back) == kTagDone, "the written block is found");
  // A year that reads as negative ("-5") is no year a write can keep.
  if (tag.Year >= 0) {
    Check(WriteID3v1(mp3, back) == kTagDone && fuzz::ReadFile(mp3) == once,
          "writing what was read changes nothing");
    ID3v1Tag again;
    Check(ReadID3v1(mp3, again) == kTagDone && Same(again, back), "a block reads the same twice");
  }

  fuzz::WriteFile(mp3, data, size);
  const int removed = RemoveAllID3v1(mp3);
  ID3v1Tag none;
  Check(ReadID3v1(mp3, none) == kTagNone, "no block is left behind");
  const Bytes stripped = fuzz::ReadFile(mp3);
  Check(stripped.size() == size - 128 * static_cast<std::size_t>(removed) &&
            std::equal(stripped.begin(), stripped.end(), original.begin()),
        "removal only cuts blocks off the end");
  return 0;
}
