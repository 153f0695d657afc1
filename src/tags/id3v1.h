// The 128-byte ID3v1 / ID3v1.1 block at the end of an MP3 file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/filelock.h"
#include "tags/status.h"

namespace velotag {

struct ID3v1Tag {
  std::string Title;
  std::string Artist;
  std::string Album;
  std::int32_t Year = 0;      // 0 = none
  std::string Comment;
  std::uint8_t Genre = 255;   // 255 = none
  std::uint8_t Track = 0;     // 0 = none
};

// True when the name ends in ".mp3" in any letter case; only such files are touched.
bool IsMp3FileName(const std::string& fileName);

int ReadID3v1(const std::string& fileName, ID3v1Tag& tag);
// The same on a file the caller already has open (the media list reads both
// tags through one handle); fileName only decides whether it is an MP3 name,
// and fileSize, when known (not -1), saves asking the handle.
int ReadID3v1FromHandle(const std::string& fileName, int handle, ID3v1Tag& tag,
                        std::int64_t fileSize = -1);
// The writers hold the file's write lock (support/filelock.h) from looking
// for a block to the end of the write, waiting as `wait` says while another
// writer holds it; kTagFailed when it cannot be had.
// Turns the line breaks of tag.Comment into blanks, in the caller's record too.
int WriteID3v1(const std::string& fileName, ID3v1Tag& tag, const LockWait& wait = {});
// The file's block (an empty record when it has none) as `edit` changes it,
// read and written under one lock, so that another writer's change between
// the two is never lost; `tag` receives what was written.
int EditID3v1(const std::string& fileName, const std::function<void(ID3v1Tag&)>& edit,
              ID3v1Tag& tag, const LockWait& wait = {});
int RemoveID3v1(const std::string& fileName, const LockWait& wait = {});
int RemoveAllID3v1(const std::string& fileName, const LockWait& wait = {});

}  // namespace velotag
