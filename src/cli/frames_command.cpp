// `frames`: what the reader sees in each file's ID3v2 tag, header and
// frames, as text for people or as JSON for scripts.
#include <cstdio>

#include "commands.h"
#include "json.h"
#include "library/form1.h"
#include "support/paths.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "terminal_text.h"

namespace velotag::cli {

namespace {

constexpr const char* kFieldKeys[kID3v2FieldCount] = {
    "album",   "artist",   "band",      "bpm",        "comment", "composer",
    "genre",   "copyright", "partofset", "encodedby", "origartist", "publisher",
    "title",   "track",    "url",       "year"};

bool Is(const ID3v2Frame& f, const char* v22, const char* v23) {
  std::string id = f.FrameID;
  for (char& c : id)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return id == v22 || id == v23;
}

bool IsUserText(const ID3v2Frame& f) { return Is(f, "TXX", "TXXX"); }
bool IsText(const ID3v2Frame& f) {
  return !f.FrameID.empty() && (f.FrameID[0] == 'T' || f.FrameID[0] == 't') && !IsUserText(f);
}
bool IsPlainLink(const ID3v2Frame& f) {
  return !f.FrameID.empty() && (f.FrameID[0] == 'W' || f.FrameID[0] == 'w') &&
         !Is(f, "WXX", "WXXX");
}

// The decoded strings of one frame, as the readers return them. Each kind
// fills only its own members; `kind` says which.
struct Decoded {
  enum Kind { kNone, kText, kComment, kUserUrl, kUserText, kPicture, kLink } kind = kNone;
  std::string text;
  ID3v2Comment comment;
  ID3v2UserField user;
  ID3v2Picture picture;
};

Decoded Decode(const ID3v2Tag& tag, const ID3v2Frame& f) {
  Decoded d;
  if (f.Data.empty()) return d;
  if (Is(f, "COM", "COMM")) {
    if (DecodeID3v2Comment(tag, f, d.comment)) d.kind = Decoded::kComment;
  } else if (Is(f, "WXX", "WXXX")) {
    if (DecodeID3v2UserField(tag, f, d.user)) d.kind = Decoded::kUserUrl;
  } else if (IsUserText(f)) {
    if (DecodeID3v2UserField(tag, f, d.user)) d.kind = Decoded::kUserText;
  } else if (Is(f, "PIC", "APIC")) {
    if (DecodeID3v2Picture(tag, f, d.picture)) d.kind = Decoded::kPicture;
  } else if (IsText(f)) {
    if (DecodeID3v2TextFrame(tag, f, d.text)) d.kind = Decoded::kText;
  } else if (IsPlainLink(f)) {
    if (DecodeID3v2LinkFrame(tag, f, d.text)) d.kind = Decoded::kLink;
  }
  return d;
}

// Control characters would break the one-line-per-frame layout.
std::string Printable(const std::string& s) { return EscapeControls(s); }

std::string Hex(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
  return buf;
}

std::string Quoted(const std::string& s) { return "\"" + Printable(s) + "\""; }

std::string DescribeHuman(const std::string& path, int result, const ID3v2Tag& tag,
                          bool bodyRead) {
  std::string out = Printable(path) + "\n";
  if (result == kTagFailed) return out + "  cannot be opened\n";
  if (result == kTagNone) return out + "  no ID3v2 tag\n";
  if (result == kTagBadHeader)
    return out + "  no usable ID3v2 tag (\"ID3\" at offset " + std::to_string(tag.TagOffset) +
           " with a cut header or an unknown version)\n";
  out += "  ID3v2." + std::to_string(tag.Version) + "." + std::to_string(tag.Revision) +
         " at offset " + std::to_string(tag.TagOffset) + ", flags " +
         Hex(tag.HeaderOnDisk[5], 2) + ", size " + std::to_string(tag.TagSize) + ", " +
         std::to_string(tag.Frames.size()) + " frame(s)\n";
  if (!bodyRead) out += "  the tag body runs past the end of the file; no frames read\n";
  for (const ID3v2Frame& f : tag.Frames) {
    char head[64];
    std::snprintf(head, sizeof head, "  %-4s %8zu  %s", Printable(f.FrameID).c_str(), f.Data.size(),
                  Hex(f.Flags, 4).c_str());
    out += head;
    Decoded d = Decode(tag, f);
    switch (d.kind) {
      case Decoded::kText: out += "  " + Quoted(d.text); break;
      case Decoded::kLink: out += "  " + Quoted(d.text); break;
      case Decoded::kComment:
        out += "  [" + Printable(d.comment.Language) + "] " + Quoted(d.comment.Description) +
               ": " + Quoted(d.comment.Text);
        break;
      case Decoded::kUserUrl:
      case Decoded::kUserText:
        out += "  " + Quoted(d.user.Description) + ": " + Quoted(d.user.Value);
        break;
      case Decoded::kPicture:
        out += "  " + Printable(d.picture.MimeType) + ", " +
               PictureTypeName(d.picture.PictureType) + ", " + Quoted(d.picture.Description) +
               ", " + std::to_string(d.picture.ImageSize) + " bytes";
        break;
      case Decoded::kNone: break;
    }
    out += "\n";
  }
  return out;
}

void DescribeJson(JsonWriter& j, const std::string& path, int result, const ID3v2Tag& tag,
                  bool bodyRead) {
  j.BeginObject();
  j.Key("path");
  j.String(path);
  if (result == kTagFailed) {
    j.Key("error");
    j.String("cannot be opened");
  }
  j.Key("tag");
  if (result != kTagDone) {
    j.Null();
    if (result == kTagBadHeader) {
      j.Key("unusable_header_offset");
      j.Number(tag.TagOffset);
    }
    j.EndObject();
    return;
  }
  j.BeginObject();
  j.Key("offset");
  j.Number(tag.TagOffset);
  j.Key("version");
  j.Number(tag.Version);
  j.Key("revision");
  j.Number(tag.Revision);
  j.Key("flags");
  j.Number(tag.HeaderOnDisk[5]);
  j.Key("size");
  j.Number(tag.TagSize);
  j.Key("body_read");
  j.Bool(bodyRead);
  j.Key("fields");
  j.BeginObject();
  for (int i = 0; i < kID3v2FieldCount; ++i) {
    j.Key(kFieldKeys[i]);
    j.String(GetID3v2Field(tag, i));
  }
  j.EndObject();
  j.Key("frames");
  j.BeginArray();
  for (const ID3v2Frame& f : tag.Frames) {
    j.BeginObject();
    j.Key("id");
    j.String(f.FrameID);
    j.Key("size");
    j.Number(static_cast<std::int64_t>(f.Data.size()));
    j.Key("flags");
    j.Number(f.Flags);
    Decoded d = Decode(tag, f);
    switch (d.kind) {
      case Decoded::kText:
        j.Key("text");
        j.String(d.text);
        break;
      case Decoded::kLink:
        j.Key("url");
        j.String(d.text);
        break;
      case Decoded::kComment:
        j.Key("language");
        j.String(d.comment.Language);
        j.Key("description");
        j.String(d.comment.Description);
        j.Key("text");
        j.String(d.comment.Text);
        break;
      case Decoded::kUserUrl:
        j.Key("description");
        j.String(d.user.Description);
        j.Key("url");
        j.String(d.user.Value);
        break;
      case Decoded::kUserText:
        j.Key("description");
        j.String(d.user.Description);
        j.Key("value");
        j.String(d.user.Value);
        break;
      case Decoded::kPicture:
        j.Key("mime");
        j.String(d.picture.MimeType);
        j.Key("type");
        j.Number(d.picture.PictureType);
        j.Key("description");
        j.String(d.picture.Description);
        j.Key("data_size");
        j.Number(static_cast<std::int64_t>(d.picture.ImageSize));
        break;
      case Decoded::kNone: break;
    }
    j.EndObject();
  }
  j.EndArray();
  j.EndObject();
  j.EndObject();
}

}  // namespace

int RunFrames(CommandContext& context) {
  // One file at a time, printed as it is read: a long list never piles up.
  const bool json = context.options.format == "json";
  bool first = true;
  if (json) context.console.Print("[");
  // The files the PATH arguments stand for, listed as the window lists a folder.
  std::vector<std::string> files;
  for (const std::string& p : context.paths) {
    if (GetPathType(p) >= kPathFolder) {
      for (const FolderEntry& e : CollectMediaFiles(p, context.options.recursive))
        files.push_back(e.Name);
    } else {
      files.push_back(p);
    }
  }
  for (const std::string& path : files) {
    ID3v2Tag tag;
    int result = OpenID3v2(path, tag, 4);
    bool bodyRead = false;
    if (result == kTagFailed) {
      context.console.FileFailed("File open error: " + path);
    } else if (result == kTagDone) {
      bodyRead = ReadID3v2Frames(tag);
    }
    if (json) {
      JsonWriter j;
      DescribeJson(j, path, result, tag, bodyRead);
      context.console.Print((first ? "\n" : ",\n") + j.str());
    } else {
      context.console.Print(DescribeHuman(path, result, tag, bodyRead));
    }
    first = false;
  }
  if (json) context.console.Print(first ? "]\n" : "\n]\n");
  return context.console.failed() ? kExitFailed : kExitDone;
}

}  // namespace velotag::cli
