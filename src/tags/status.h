// The status results of the tag operations. Callers test for the exact value.
#pragma once

namespace velotag {

inline constexpr int kTagDone = -1;       // done, or found
inline constexpr int kTagFailed = 0;      // not an ".mp3" name, or the file cannot be opened
inline constexpr int kTagNone = 1;        // opened, but no tag there (or a short write)
inline constexpr int kTagBadHeader = 2;   // "ID3" found, but a header that cannot be used

}  // namespace velotag
