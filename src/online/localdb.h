// The local fingerprint database ("LocalDB.ini" in the program folder): one
// section per identified fingerprint, appended and never edited. Written in
// the single-byte code page with the INI escapes, so any text survives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velotag {

inline constexpr const char* kLocalDbFileName = "LocalDB.ini";

// Appends one section: a "[name]" header line and value lines separated by
// CR LF. Only "art=", "ttl=" and "uid=" lines are kept (escaped), and nothing
// is written unless the header is valid and at least two of them remain,
// nor into a file that LocalDbProblem refuses. True when the whole text was
// written.
bool AddDBSection(const std::string& dbFile, const std::string& sectionText);
// The same for answers of another kind: only lines whose first four
// characters are, in lower case, one of keys ("aid=") are kept.
bool AddDBSection(const std::string& dbFile, const std::string& sectionText,
                  const std::vector<std::string>& keys);

// The value lines of the first section named sectionName (case ignored),
// unescaped, in file order. Returns their count: 0 when the file cannot be
// read or has no such section, -1 when dbFile or the name is empty. Only a
// regular file of at most kMaxLocalDbBytes is read, and a line longer than
// kMaxLocalDbLine is skipped: a link to a device or a damaged file can
// neither hang a lookup nor take the memory.
std::int32_t GetDBSection(const std::string& dbFile, const std::string& sectionName,
                          std::vector<std::string>& lines);

inline constexpr std::int64_t kMaxLocalDbBytes = std::int64_t{1} << 30;
inline constexpr std::size_t kMaxLocalDbLine = 65536;

// Why the database cannot be used ("LocalDB.ini is not a regular file: ..."),
// or "" when it can; a missing file can (the first answer makes it).
std::string LocalDbProblem(const std::string& dbFile);

}  // namespace velotag
