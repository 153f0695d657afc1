// Downloading the new program: the first mirror that yields an archive with
// the published checksum, and what a downloaded file is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velotag {

enum class DownloadKind { Other, Zip, Rar, Executable };

// By the file's first bytes: "PK" (ZIP), "Rar!" (RAR), "\x7F" "ELF" (an
// executable, where Windows has "MZ").
DownloadKind DetectDownloadKind(const std::string& file);

// The file's SHA-256 in lower-case hex; "" when it cannot be read.
std::string FileSha256(const std::string& file);

// One HTTP download of url into localPath (a folder ending in "/" names the
// file after the URL), both updated as HttpDownload updates them; maxBytes
// -1 for no limit.
using DownloadFn = std::function<bool(std::string& url, std::string& localPath, int timeoutMs,
                                      std::int64_t maxBytes)>;

// The most an archive download may bring.
inline constexpr std::int64_t kMaxArchiveBytes = std::int64_t{512} << 20;

// Tries each non-empty URL in order until one gives a file that is an
// archive (or an executable) whose SHA-256 equals sha256. A file that does
// not count is removed; note() hears of a checksum that did not match.
// Returns the file's path ("" when none counted); localPath is set to it.
std::string DownloadFirstMirror(std::string& localPath, const std::vector<std::string>& urls,
                                int timeoutMs, const DownloadFn& download,
                                const std::string& sha256,
                                const std::function<void(const std::string&)>& note = {});

// The version a Velotag executable carries in its version stamp, read from
// the file's bytes (never by running it); "" when there is none.
std::string ReadVersionStamp(const std::string& file);

// The question that offers to open a downloaded file, with the kind that
// decides what "Yes" opens.
std::string OfferDownloadedText(const std::string& path, DownloadKind& kind);

// What the version stamp begins with; the executables carry it followed by
// their version.
inline constexpr const char* kVersionStampPrefix = "@(#)velotag ";

}  // namespace velotag
