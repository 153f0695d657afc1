// libFuzzer target: the ID3v2 setters and writer. The input is a list of
// edits followed by an MP3 file:
//   byte 0: the new tag's version (2 + byte % 3) when the file has none
//   byte 1: the number of edits (byte % 16), then per edit
//     kind, frame (index into kIDs), encoding (byte % 6 - 1), flags,
//     text length, text bytes
//   the rest: the file.
// The promise checked: a write either fails and leaves the file as it was,
// or the file reads back with exactly the frames (identifiers in capitals,
// as the writer puts them) and fields the tag held.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "support/strutil.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

using namespace velotag;
using velotag::fuzz::Check;

namespace {

const char* const kIDs[] = {"TIT2", "TPE1", "TALB", "TRCK", "TCON", "TDRC", "TYER", "TCOM",
                            "TPOS", "TBPM", "TXXX", "TT2",  "COMM", "APIC", "WXXX", "TSSE",
                            "PRIV", "XXXX", "",     "TDAT", "tit2", " TPE2 "};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  std::uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  std::string Text() {
    const std::uint8_t length = Byte();
    std::size_t n = std::min<std::size_t>(length, static_cast<std::size_t>(end_ - p_));
    std::string s(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return s;
  }
  const std::uint8_t* rest() const { return p_; }
  std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

struct Snapshot {
  std::vector<std::pair<std::string, Bytes>> frames;
  std::vector<std::string> fields;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const ID3v2Tag& tag) {
  Snapshot s;
  for (const ID3v2Frame& f : tag.Frames)
    if (!f.Data.empty()) s.frames.emplace_back(AsciiUpper(f.FrameID), f.Data);
  for (int i = 0; i < kID3v2FieldCount; ++i) s.fields.push_back(GetID3v2Field(tag, i));
  std::vector<ID3v2UserField> texts;
  GetID3v2UserTexts(tag, texts, false);
  for (const ID3v2UserField& t : texts) s.fields.push_back(t.Description + "=" + t.Value);
  s.fields.push_back(HasID3v2Picture(tag) ? "picture" : "");
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& folder = fuzz::WorkFolder();
  const std::string mp3 = folder + "w.mp3";
  Reader in(data, size);
  const int newVersion = 2 + in.Byte() % 3;
  struct Edit {
    int kind;
    std::string id;
    int encoding;
    std::uint8_t flags;
    std::string text;
  };
  std::vector<Edit> edits(in.Byte() % 16);
  for (Edit& e : edits) {
    e.kind = in.Byte() % 6;
    e.id = kIDs[in.Byte() % std::size(kIDs)];
    e.encoding = in.Byte() % 6 - 1;
    e.flags = in.Byte();
    e.text = in.Text();
  }
  const Bytes original(in.rest(), in.rest() + in.left());
  fuzz::WriteFile(mp3, original.data(), original.size());

  ID3v2Tag tag;
  const int opened = OpenID3v2(mp3, tag, newVersion, true);
  Check(opened != kTagFailed, "a writable .mp3 file opens");
  ReadID3v2Frames(tag);
  bool edited = false;
  for (const Edit& e : edits) {
    const bool append = e.flags & 1;
    const std::string second = e.text.substr(e.text.size() / 2);
    switch (e.kind) {
      case 0: edited |= SetID3v2Text(tag, e.id, e.text, e.encoding, append); break;
      case 1:
        edited |= SetID3v2Comment(tag, e.text.substr(0, e.flags % 5), e.id, second, e.encoding,
                                  append);
        break;
      case 2: edited |= SetID3v2UserURL(tag, e.id, e.text, e.encoding, append); break;
      case 3: {
        const std::string image = folder + "image" + (e.flags & 2 ? ".png" : "");
        fuzz::WriteFile(image, reinterpret_cast<const std::uint8_t*>(e.text.data()), e.text.size());
        edited |= SetID3v2Picture(tag, second, image, e.encoding, append);
        ::unlink(image.c_str());
        break;
      }
      case 4: edited |= DeleteID3v2Frame(tag, e.id, e.flags % 7 == 0); break;
      default: ComputeID3v2Size(tag); break;
    }
  }
  // Edits leave no emptied frames behind.
  Check(!edited || std::none_of(tag.Frames.begin(), tag.Frames.end(),
                                [](const ID3v2Frame& f) { return f.FrameID.empty(); }),
        "every listed frame has an identifier");

  const Snapshot before = Take(tag);
  const int version = tag.Version;
  if (!WriteID3v2(tag)) {
    CloseID3v2(tag);
    Check(fuzz::ReadFile(mp3) == original, "a failed write leaves the file as it was");
    return 0;
  }
  CloseID3v2(tag);
  ID3v2Tag back;
  if (before.frames.empty()) {
    // Nothing to write may leave no tag at all.
    if (OpenID3v2(mp3, back, 4) != kTagDone) return 0;
  } else {
    Check(OpenID3v2(mp3, back, 4) == kTagDone, "the written tag is found");
  }
  Check(ReadID3v2Frames(back) || before.frames.empty(), "the written tag reads whole");
  Check(back.Version == version, "the tag keeps its version");
  Check(Take(back) == before, "the file reads back with what the tag held");
  return 0;
}
