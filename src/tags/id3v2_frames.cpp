#include "tags/id3v2_frames.h"

#include <cstring>

#include "support/largefile.h"
#include "support/paths.h"
#include "support/safewrite.h"
#include "support/strutil.h"
#include "support/textenc.h"
#include "tags/id3v2_internal.h"

namespace velotag {

using namespace id3v2;

namespace {

constexpr std::uint8_t kFrontCover = 3;

bool IsOneOf(const std::string& frameID, const char* a, const char* b) {
  std::string id = AsciiUpper(frameID);
  return id == a || id == b;
}

// Language codes are three characters, lower case, one byte each.
Bytes LanguageBytes(const std::string& language) {
  std::vector<std::uint32_t> cps = Utf8CodePoints("  " + (language.empty() ? "hun" : language));
  Bytes out;
  for (std::size_t i = cps.size() - 3; i < cps.size(); ++i) {
    std::uint32_t c = cps[i];
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c += 0x20;
    out.push_back(c <= 0xFF ? static_cast<std::uint8_t>(c) : '?');
  }
  return out;
}

void Append(Bytes& body, const Bytes& more) { body.insert(body.end(), more.begin(), more.end()); }

// A terminated string of a body at `from`: its text and where the next
// field starts. False when there is no terminator.
bool TerminatedString(int encoding, const std::uint8_t* data, std::size_t size,
                      std::size_t from, std::string& text, std::size_t& next) {
  std::size_t end = FindTerminator(encoding, data, size, from);
  if (end == std::string::npos) return false;
  text = DecodeString(encoding, data + from, end - from);
  next = end + TerminatorLength(encoding);
  return true;
}

std::string CutAtNul(std::string s) {
  std::size_t nul = s.find('\0');
  if (nul != std::string::npos) s.erase(nul);
  return s;
}

// The description and the string after it, as COMM, WXXX and TXXX hold them.
bool TwoStrings(const Payload& p, std::size_t descAt, std::string& first, std::string& second) {
  const int enc = p.data[0];
  std::size_t next = 0;
  if (!TerminatedString(enc, p.data, p.size, descAt, first, next)) return false;
  if (next >= p.size) return false;
  second = CutAtNul(DecodeString(enc, p.data + next, p.size - next));
  return true;
}

// A URL or MIME type of a frame in UTF-16. The format keeps both in
// ISO-8859-1, but frames written with them in the frame's encoding exist;
// they start with a byte-order mark (encoding 1) or a zero byte (2), which
// neither field can start with.
bool WideLatinField(int encoding, const std::uint8_t* data, std::size_t size, std::size_t at) {
  if (at + 2 > size) return false;
  if (encoding == 1)
    return (data[at] == 0xFF && data[at + 1] == 0xFE) || (data[at] == 0xFE && data[at + 1] == 0xFF);
  return encoding == 2 && data[at] == 0 && data[at + 1] != 0;
}

// The three-letter image format of a 2.2 picture frame.
std::string V22ImageFormat(const std::string& mime) {
  std::string sub = mime.size() > 6 ? mime.substr(6) : "";
  if (sub == "jpeg") return "JPG";
  sub = AsciiUpper(sub);
  sub.resize(3, ' ');
  return sub;
}

template <typename Item, typename Decode>
std::int32_t ListFrames(const ID3v2Tag& tag, std::vector<Item>& items, bool firstOnly,
                        const char* v22, const char* v23, Decode decode) {
  items.clear();
  for (const ID3v2Frame& f : tag.Frames) {
    if (f.Data.empty() || !IsOneOf(f.FrameID, v22, v23)) continue;
    Item item;
    if (decode(tag, f, item)) items.push_back(std::move(item));
    if (firstOnly) break;
  }
  return static_cast<std::int32_t>(items.size());
}

}  // namespace

std::string PictureTypeName(std::uint8_t code) {
  static constexpr const char* kNames[] = {
      "Other",          "icon32px",           "Other Icon",       "Cover (front)",
      "Cover (back)",   "Leaflet page",       "Media",            "Lead Artist",
      "Artist",         "Conductor",          "Band",             "Composer",
      "Lyricist",       "Recording Location", "During Recording", "During Performance",
      "Movie",          "fish",               "Illustration",     "Artist logotype",
      "Studio logotype"};
  return code < std::size(kNames) ? kNames[code] : "Unknown";
}

std::string PictureMimeType(const std::string& imageFile) {
  std::string ext = AsciiLower(GetExtension(imageFile));
  if (ext == "jpg" || ext == "jpeg" || ext == "jpe") ext = "jpeg";
  return "image/" + ext;
}

bool SetID3v2Comment(ID3v2Tag& tag, const std::string& language, const std::string& description,
                     const std::string& text, std::int32_t encoding, bool append) {
  ID3v2Frame& slot = ChooseSlot(tag, tag.Version == 2 ? "COM" : "COMM", append);
  const int enc = DecideEncoding(tag, slot, encoding);
  Bytes body{static_cast<std::uint8_t>(enc)};
  Append(body, LanguageBytes(language));
  Append(body, EncodeString(enc, description));
  Append(body, EncodeString(enc, text));
  slot.Data = std::move(body);
  return true;
}

bool SetID3v2UserURL(ID3v2Tag& tag, const std::string& description, const std::string& url,
                     std::int32_t encoding, bool append) {
  ID3v2Frame& slot = ChooseSlot(tag, tag.Version == 2 ? "WXX" : "WXXX", append);
  const int enc = DecideEncoding(tag, slot, encoding);
  Bytes body{static_cast<std::uint8_t>(enc)};
  Append(body, EncodeString(enc, description));
  // The URL is ISO-8859-1 whatever the frame's encoding: that is where
  // every other reader looks for it.
  Append(body, EncodeString(kID3Ansi, url));
  slot.Data = std::move(body);
  return true;
}

bool SetID3v2Picture(ID3v2Tag& tag, const std::string& description,
                     const std::string& imageFile, std::int32_t encoding, bool append) {
  const std::string mime = PictureMimeType(imageFile);
  Bytes image;
  {
    Offset64 size = -1;
    FileHandle h = OpenRead(imageFile, &size);
    if (!h.valid()) return false;
    // An empty file is no picture, and one beyond the largest tag could
    // never be written.
    if (size <= 0 || size > kID3v2MaxTagSize) return false;
    image.resize(static_cast<std::size_t>(size));
    if (LargeFileRead(h.get(), image.data(), image.size()) != image.size()) return false;
  }
  ID3v2Frame& slot = ChooseSlot(tag, tag.Version == 2 ? "PIC" : "APIC", append);
  const int enc = DecideEncoding(tag, slot, encoding);
  Bytes body{static_cast<std::uint8_t>(enc)};
  if (tag.Version == 2) {
    // 2.2 names the format in three letters, not as a MIME string; every
    // other reader takes the first three bytes as the format.
    std::string format = V22ImageFormat(mime);
    body.insert(body.end(), format.begin(), format.end());
  } else {
    // Like a URL, the MIME type is ISO-8859-1 with one zero byte.
    Append(body, EncodeString(kID3Ansi, mime));
  }
  body.push_back(kFrontCover);
  Append(body, EncodeString(enc, description));
  Append(body, image);
  slot.Data = std::move(body);
  return true;
}

bool HasID3v2Picture(const ID3v2Tag& tag) {
  const char* id = tag.Version == 2 ? "PIC" : "APIC";
  // A slot without data holds no picture (and is not written back).
  for (const ID3v2Frame& f : tag.Frames)
    if (!f.Data.empty() && SameID(f.FrameID, id)) return true;
  return false;
}

bool DecodeID3v2Comment(const ID3v2Tag& tag, const ID3v2Frame& frame, ID3v2Comment& out) {
  Payload p = FramePayload(tag, frame);
  if (!p.valid || p.size < 4) return false;
  ID3v2Comment c;
  if (!TwoStrings(p, 4, c.Description, c.Text)) return false;
  c.Language = AnsiToString(p.data + 1, 3);
  out = std::move(c);
  return true;
}

bool DecodeID3v2UserField(const ID3v2Tag& tag, const ID3v2Frame& frame, ID3v2UserField& out) {
  Payload p = FramePayload(tag, frame);
  if (!p.valid || p.size < 1) return false;
  ID3v2UserField u;
  if (!IsOneOf(frame.FrameID, "WXX", "WXXX")) {
    if (!TwoStrings(p, 1, u.Description, u.Value)) return false;
  } else {
    const int enc = p.data[0];
    std::size_t next = 0;
    if (!TerminatedString(enc, p.data, p.size, 1, u.Description, next) || next >= p.size)
      return false;
    // The URL is ISO-8859-1 by the format, but writers that store it in the
    // frame's encoding exist: UTF-16 shows by its mark or zero byte, UTF-8
    // is read leniently (bytes that are no UTF-8 stay ISO-8859-1).
    const bool inFrameEncoding = WideLatinField(enc, p.data, p.size, next) || enc == kID3Utf8;
    u.Value = CutAtNul(inFrameEncoding ? DecodeString(enc, p.data + next, p.size - next)
                                       : AnsiToString(p.data + next, p.size - next));
  }
  out = std::move(u);
  return true;
}

bool DecodeID3v2Picture(const ID3v2Tag& tag, const ID3v2Frame& frame, ID3v2Picture& out) {
  Payload p = FramePayload(tag, frame);
  if (!p.valid || p.size < 1) return false;
  const int enc = p.data[0];
  ID3v2Picture pic;
  std::size_t next = 0;
  const bool mimeString = !SameID(frame.FrameID, "PIC") || WideLatinField(enc, p.data, p.size, 1) ||
                          (p.size >= 7 && SameID(std::string(p.data + 1, p.data + 7), "image/"));
  if (mimeString) {
    const int mimeEncoding = WideLatinField(enc, p.data, p.size, 1) ? enc : kID3Ansi;
    if (!TerminatedString(mimeEncoding, p.data, p.size, 1, pic.MimeType, next)) return false;
  } else {
    // A 2.2 picture as other programs write it: a three-letter format.
    if (p.size < 4) return false;
    std::string format = AsciiLower(CutAtNul(AnsiToString(p.data + 1, 3)));
    while (!format.empty() && format.back() == ' ') format.pop_back();
    pic.MimeType = "image/" + (format == "jpg" ? std::string("jpeg") : format);
    next = 4;
  }
  if (next >= p.size) return false;
  pic.PictureType = p.data[next];
  if (!TerminatedString(enc, p.data, p.size, next + 1, pic.Description, next)) return false;
  pic.Image = p.data + next;
  pic.ImageSize = next < p.size ? p.size - next : 0;
  out = std::move(pic);
  return true;
}

bool DecodeID3v2TextFrame(const ID3v2Tag& tag, const ID3v2Frame& frame, std::string& text) {
  Payload p = FramePayload(tag, frame);
  if (!p.valid || p.size < 1) return false;
  text = CutAtNul(DecodeString(p.data[0], p.data + 1, p.size - 1));
  return true;
}

bool DecodeID3v2LinkFrame(const ID3v2Tag& tag, const ID3v2Frame& frame, std::string& url) {
  Payload p = FramePayload(tag, frame);
  if (!p.valid) return false;
  url = CutAtNul(AnsiToString(p.data, p.size));
  return true;
}

std::int32_t GetID3v2Comments(const ID3v2Tag& tag, std::vector<ID3v2Comment>& items,
                              bool firstOnly) {
  return ListFrames(tag, items, firstOnly, "COM", "COMM", DecodeID3v2Comment);
}

std::int32_t GetID3v2UserURLs(const ID3v2Tag& tag, std::vector<ID3v2UserField>& items,
                              bool firstOnly) {
  return ListFrames(tag, items, firstOnly, "WXX", "WXXX", DecodeID3v2UserField);
}

std::int32_t GetID3v2UserTexts(const ID3v2Tag& tag, std::vector<ID3v2UserField>& items,
                               bool firstOnly) {
  return ListFrames(tag, items, firstOnly, "TXX", "TXXX", DecodeID3v2UserField);
}

// An image subtype is a short word; a longer one is cut.
constexpr std::size_t kMaxExtensionBytes = 16;

std::int32_t ExtractID3v2Pictures(const ID3v2Tag& tag, const std::string& folder,
                                  std::vector<std::string>& paths,
                                  std::vector<std::string>* failed) {
  paths.clear();
  if (failed) failed->clear();
  std::string dir = folder.empty() ? GetFolderPart(tag.FileName) : folder;
  if (dir.empty()) dir = ".";  // a bare file name lives in the current folder
  if (GetPathType(dir) < kPathFolder) return 0;
  dir = WithTrailingSlash(dir);
  for (const ID3v2Frame& f : tag.Frames) {
    if (f.Data.empty() || !IsOneOf(f.FrameID, "PIC", "APIC")) continue;
    ID3v2Picture pic;
    if (!DecodeID3v2Picture(tag, f, pic) || pic.ImageSize == 0) continue;
    std::string typeName = PictureTypeName(pic.PictureType);
    for (char& c : typeName)
      if (c == ' ') c = '_';
    std::string extension;
    std::string lowerMime = AsciiLower(pic.MimeType);
    std::size_t image = lowerMime.find("image/");
    if (image != std::string::npos)
      extension = "." + Utf8CutToBytes(pic.MimeType.substr(image + 6), kMaxExtensionBytes);
    // A long description is cut so that the name, with room for a "(001)"
    // numbering, still fits in a file name.
    std::string stem = GetBaseName(tag.FileName) + "_" + pic.Description;
    std::string tail = "(" + typeName + ")" + extension;
    std::size_t room = kMaxFileNameBytes - 5;
    stem = Utf8CutToBytes(stem, room > tail.size() ? room - tail.size() : 0);
    // The description and the MIME type are foreign text: neither may add
    // a folder step to the name.
    std::string path =
        GetUniqueFileName(MakeValidFileName(dir + SafeFileNameComponent(stem + tail)));
    if (WriteNewFile(path, pic.Image, pic.ImageSize)) paths.push_back(path);
    else if (failed) failed->push_back(path);
  }
  return static_cast<std::int32_t>(paths.size());
}

}  // namespace velotag
