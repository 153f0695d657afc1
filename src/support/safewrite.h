// Writing files so that nothing is lost when a write fails half-way or the
// program is killed: new files of names no one else holds, and whole-file
// replacements that leave the old file in place until the new content is
// complete and on the medium. A batch of replacements shares its flushes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "support/largefile.h"

namespace velotag {

// Exactly `size` bytes in a file that did not exist before, or no file at
// all: a name that appeared meanwhile is never overwritten.
bool WriteNewFile(const std::string& path, const void* data, std::size_t size);

// How the temporary file of a replacement is named, the moment it has a
// name at all: where the file system can make nameless files it is written
// without one, so that a kill or a failure leaves nothing, and is linked
// under its name only to be renamed over the file.
enum class TempNaming {
  // ".velotag-XXXXXX.tmp" beside the file.
  Hidden,
  // The file's name + ".id3tmp", the name a tag rewrite is known by. Its
  // writers hold the lock of the file itself (support/filelock.h), so the
  // name is theirs alone; a leftover no live process holds locked (the
  // remains of a killed writer) is removed first. One that another process
  // holds is never touched: a hidden name beside the file is taken instead.
  Id3tmp,
};

// How one replacement ended.
struct SafeWriteOutcome {
  bool ok = false;
  // A failure while the new content was being copied back into the file
  // (one of several names, or in a folder without write permission) leaves
  // it damaged: the complete new content is then kept under this name (""
  // in every other case).
  std::string keptCopy;
};

// The new content of one file.
//
// An existing regular file gets its content in a temporary file beside it,
// which takes the file's owner and permissions, reaches the medium, and is
// renamed over the file: whatever happens (a full disk, a kill, a power cut)
// the name shows either the old file or the new one. The replacement goes
// ahead only while the name still leads to the file it was made from.
// - A symbolic link stays a link: the file it leads to is replaced.
// - A file of several names (hard links) keeps its inode, so that every name
//   sees the new content: the complete, flushed temporary file is copied
//   back into it, flushed, and removed. Only this way can a failure (or a
//   kill) leave the file damaged, and then the temporary file stays, under
//   a name of its own, and is named in the outcome.
// - A file in a folder where no file can be made (no write permission on
//   the folder, the file itself writable) is written the same way, from
//   "$TMPDIR/QRNxxxxxx": renaming into such a folder is impossible.
// The file's blocks are reserved before anything is copied back, so that a
// full disk stops the write while the file is still whole.
// A missing file is created where it belongs and removed again unless
// committed. Devices and pipes (/dev/stdout) are written directly. Every
// file made on the way is removed on every failure, and by the signal
// handler of support/tempfiles.h should the process be ended meanwhile.
class SafeWrite {
 public:
  SafeWrite() = default;
  // `source`: the caller's open descriptor of the file, when it read the
  // old content through it; the replacement is bound to that very file, and
  // a lock held through it lasts until the new file is in place.
  static SafeWrite Replace(const std::string& path, TempNaming naming = TempNaming::Hidden,
                           int source = -1);
  SafeWrite(SafeWrite&& other) noexcept;
  SafeWrite& operator=(SafeWrite&& other) noexcept;
  SafeWrite(const SafeWrite&) = delete;
  SafeWrite& operator=(const SafeWrite&) = delete;
  ~SafeWrite();

  // Where the new content goes; -1 when the file cannot be written at all.
  int fd() const { return out_.get(); }
  bool valid() const { return out_.valid(); }
  // The new content is complete: one file on its own is flushed, put in
  // place, and its folder flushed.
  SafeWriteOutcome Commit();

 private:
  friend class SafeWriteBatch;
  enum class Kind { None, Direct, Created, Replacing };
  enum class Step { Writing, Flushed, Renamed, CopiedBack, Done, Failed };

  bool Flush();
  void PutInPlace();
  bool FinishCopyBack();
  void Fail(bool keep);
  // Links the nameless temporary file under `preferred`, else under a new
  // name prefix + six characters + suffix in `folder`.
  bool GiveName(const std::string& folder, const std::string& preferred, const char* prefix,
                const char* suffix, bool removeOnSignal);
  void Forget();
  // Closes everything and removes what the outcome does not keep.
  void Abandon();

  Kind kind_ = Kind::None;
  Step step_ = Step::Writing;
  TempNaming naming_ = TempNaming::Hidden;
  std::string target_;  // the file replaced (a link's target)
  std::string work_;    // the temporary file's name, while it has one of ours
  FileHandle out_;
  FileHandle source_;   // the file being replaced, held (and its lock) until it is
  FileHandle copyBack_;  // the file written through its inode
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  bool beside_ = false;  // the temporary file is in the file's folder
  int slot_ = -1;        // work_ in the signal handler's table
  std::string keptCopy_;
};

// Many replacements committed together. A group's temporary files are
// flushed in one go (a few threads at once, so that the file system's journal
// commits them together), then each is put in place, then each folder that
// got a new name and each file written through its inode is flushed once.
// A failure of any step is reported for its file alone, which is left as it
// was. A full group goes through all that on a thread of its own while the
// caller writes the next one; its outcomes are reported on the caller's
// thread, when the next group is full or at the latest by Commit (also run
// when the batch is destroyed).
class SafeWriteBatch {
 public:
  using Done = std::function<void(const SafeWriteOutcome&)>;
  SafeWriteBatch();
  ~SafeWriteBatch();
  SafeWriteBatch(const SafeWriteBatch&) = delete;
  SafeWriteBatch& operator=(const SafeWriteBatch&) = delete;

  // Takes a write whose content is complete; `done` hears how it ended.
  void Add(SafeWrite write, Done done);
  // Puts everything in place and reports it.
  void Commit();
  // Whether a write of the file at `path` is still on its way: a new write
  // of it must wait for Commit, or it would start from the old content.
  bool Holds(const std::string& path) const;
  std::size_t Pending() const { return pending_.size() + inFlight_.size(); }

 private:
  struct Entry {
    SafeWrite write;
    Done done;
  };
  // Flush, put in place, flush the folders; runs on any thread.
  static void Finish(std::vector<Entry>& group);
  // The pending group goes its way on a thread of its own.
  void Launch();
  // Waits for the group on its way and reports it.
  void Settle();

  std::vector<Entry> pending_, inFlight_;
  std::thread worker_;
  std::uint64_t pendingBytes_ = 0;
  std::size_t maxFiles_;
};

// The whole file replaced by `bytes` as SafeWrite does; false when it could
// not be, the old content then being untouched.
bool ReplaceFileBytes(const std::string& fileName, const Bytes& bytes);

}  // namespace velotag
