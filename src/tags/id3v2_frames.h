// ID3v2 frames whose body holds several strings: comments (COMM / COM),
// user links (WXXX / WXX), user texts (TXXX / TXX) and attached pictures
// (APIC / PIC).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tags/id3v2.h"

namespace velotag {

struct ID3v2Comment {
  std::string Language;
  std::string Description;
  std::string Text;
};

// Value is the URL of a WXXX frame and the value of a TXXX frame.
struct ID3v2UserField {
  std::string Description;
  std::string Value;
};

// A decoded picture frame. Image points into the frame's Data and is valid
// as long as that frame is.
struct ID3v2Picture {
  std::string MimeType;
  std::uint8_t PictureType = 0;
  std::string Description;
  const std::uint8_t* Image = nullptr;
  std::size_t ImageSize = 0;
};

// Setters: with append false they replace the first frame of their kind and
// remove the others. Texts use the frame's encoding; a URL and a MIME type
// are always ISO-8859-1, as every reader expects them.
bool SetID3v2Comment(ID3v2Tag& tag, const std::string& language, const std::string& description,
                     const std::string& text, std::int32_t encoding = kID3Utf8,
                     bool append = false);
bool SetID3v2UserURL(ID3v2Tag& tag, const std::string& description, const std::string& url,
                     std::int32_t encoding = kID3Ansi, bool append = false);
// A front cover from an image file; false (tag unchanged) when the file
// cannot be read, is empty, or is too big for any tag.
bool SetID3v2Picture(ID3v2Tag& tag, const std::string& description,
                     const std::string& imageFile, std::int32_t encoding = kID3Utf8,
                     bool append = false);
bool HasID3v2Picture(const ID3v2Tag& tag);

std::int32_t GetID3v2Comments(const ID3v2Tag& tag, std::vector<ID3v2Comment>& items,
                              bool firstOnly);
std::int32_t GetID3v2UserURLs(const ID3v2Tag& tag, std::vector<ID3v2UserField>& items,
                              bool firstOnly);
std::int32_t GetID3v2UserTexts(const ID3v2Tag& tag, std::vector<ID3v2UserField>& items,
                               bool firstOnly);

// Writes every picture into folder ("" = the MP3 file's folder) and lists
// the files written. Names come from the picture's description but can
// never leave the folder, and never name a file that exists. A picture that
// could not be written whole leaves no file behind; its name goes to
// `failed` when given.
std::int32_t ExtractID3v2Pictures(const ID3v2Tag& tag, const std::string& folder,
                                  std::vector<std::string>& paths,
                                  std::vector<std::string>* failed = nullptr);

std::string PictureTypeName(std::uint8_t code);
// "image/" and the subtype that the image file's extension stands for.
std::string PictureMimeType(const std::string& imageFile);

// One frame of the tag decoded on its own; false when the body is not one
// of that kind or is malformed.
bool DecodeID3v2Comment(const ID3v2Tag& tag, const ID3v2Frame& frame, ID3v2Comment& out);
bool DecodeID3v2UserField(const ID3v2Tag& tag, const ID3v2Frame& frame, ID3v2UserField& out);
bool DecodeID3v2Picture(const ID3v2Tag& tag, const ID3v2Frame& frame, ID3v2Picture& out);
// A text frame's first value; a link frame's (WOAR ...) URL.
bool DecodeID3v2TextFrame(const ID3v2Tag& tag, const ID3v2Frame& frame, std::string& text);
bool DecodeID3v2LinkFrame(const ID3v2Tag& tag, const ID3v2Frame& frame, std::string& url);

}  // namespace velotag
