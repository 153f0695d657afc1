// Writing files so that nothing is lost when a write fails half-way: new
// files of names no one else holds, and whole-file replacements that leave
// the old file in place until the new one is complete.
#pragma once

#include <string>

#include "support/largefile.h"

namespace velotag {

// $TMPDIR, else "/tmp".
std::string TempFolder();

// A new empty file folder/prefix + six characters + suffix, opened for
// reading and writing with mode 0600; -1 when none can be made. `name`
// receives its path.
int CreateUniqueFile(const std::string& folder, const std::string& prefix,
                     const std::string& suffix, std::string& name);

// Makes a rename or a new name in the file's folder durable.
void SyncFolderOf(const std::string& fileName);

// The bytes of a file written anew. For an existing regular file they go to
// a hidden file beside it, which takes the file's owner and permissions and
// replaces it in one rename once complete and on the medium: a failure at
// any point leaves the old file as it was. A symbolic link to a file keeps
// pointing to it. A new file is created where it belongs and removed again
// when its writing fails. Devices and pipes (/dev/stdout) are written
// directly and never removed.
class FileReplacement {
 public:
  explicit FileReplacement(const std::string& target);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // -1 when the file cannot be written at all.
  int fd() const { return file_.get(); }
  // Makes the written bytes the file's content; false leaves the old file
  // (or none) in place.
  bool Commit();

 private:
  enum class Kind { Direct, Created, Replacing };
  std::string target_, temp_;
  FileHandle file_;
  Kind kind_ = Kind::Direct;
  bool done_ = false;
};

// The whole file replaced by `bytes` as FileReplacement does; false when it
// could not be, the old content then being untouched.
bool ReplaceFileBytes(const std::string& fileName, const Bytes& bytes);

}  // namespace velotag
