#include "support/safewrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <utility>

#include "support/paths.h"
#include "support/tempfiles.h"

namespace velotag {

namespace {

// A group is committed once it holds this many files or bytes: each pending
// file holds two descriptors, and a Stop or a kill should not find much
// written but not yet in place.
constexpr std::size_t kMaxGroupFiles = 128;
constexpr std::uint64_t kMaxGroupBytes = std::uint64_t{256} << 20;
// Enough flushes at once for the journal to commit them together; more
// only queue up in the device.
constexpr std::size_t kFlushThreads = 8;

int OpenFile(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd == -1 && errno == EINTR);
  return fd;
}

std::string FolderOf(const std::string& path) {
  std::string folder = GetFolderPart(path);
  return folder.empty() ? "./" : folder;
}

bool SyncFolder(const std::string& folder) {
  FileHandle dir(OpenFile(folder, O_RDONLY | O_DIRECTORY));
  return dir.valid() && ::fsync(dir.get()) == 0;
}

// job(0) .. job(count - 1), on a few threads at once.
template <class Job>
void InParallel(std::size_t count, const Job& job) {
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) job(i);
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < std::min(count, kFlushThreads); ++t) {
    try {
      pool.emplace_back(worker);
    } catch (const std::system_error&) {
      break;  // fewer helpers; this thread does the rest
    }
  }
  worker();
  for (std::thread& t : pool) t.join();
}

// A nameless file can be linked under a name later only through /proc.
bool CanLinkNameless() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

// A new file in `folder` that has no name (O_TMPFILE): a kill or a failure
// leaves nothing behind. -1 with errno set when it cannot be made;
// NamelessUnsupported(errno) when the file system (or the system) cannot
// make such files at all.
int OpenNameless(const std::string& folder) {
  if (!CanLinkNameless()) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return OpenFile(folder, O_TMPFILE | O_RDWR, 0600);
}

bool NamelessUnsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

bool FolderRefused(int error) { return error == EACCES || error == EPERM; }

// The lock of a temporary file is taken before any other writer can reach
// the file: a nameless one is locked before it gets its name; a named one
// right after its creation, under the lock of the file it replaces, which
// every writer of that name holds.
bool LockNew(int fd) {
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool LinkNameless(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// The remains of a killed writer: name.id3tmp when no live process holds it
// locked. The caller holds the lock of the file it replaces, so no writer
// of ours is making that name meanwhile.
void RemoveLeftover(const std::string& name) {
  FileHandle old(OpenFile(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
  struct stat held {}, named {};
  if (old.valid() && ::fstat(old.get(), &held) == 0 && S_ISREG(held.st_mode) &&
      LockNew(old.get()) && ::lstat(name.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
      named.st_ino == held.st_ino)
    ::unlink(name.c_str());
}

// `preferred` (name.id3tmp) created and locked, else prefix + a random part
// + suffix in the folder; -1 with errno set when the folder takes no new
// file. `name` receives the name, `slot` its place in the signal handler's
// table (-1 when there is none to give back).
int CreateNamedBeside(const std::string& folder, const std::string& preferred,
                      const char* prefix, const char* suffix, std::string& name, int& slot) {
  name.clear();
  if (!preferred.empty()) {
    FileHandle fd(CreateRememberedFile(preferred, 0600, slot));
    if (fd.valid() && LockNew(fd.get())) {
      name = preferred;
      return fd.release();
    }
    if (fd.valid()) {  // another reached it first: never shared
      ::unlink(preferred.c_str());
      ForgetTempFile(slot);
    } else if (FolderRefused(errno)) {
      return -1;
    }
  }
  FileHandle fd(CreateRememberedUniqueFile(folder, prefix, suffix, name, slot));
  if (fd.valid() && !LockNew(fd.get())) {
    ::unlink(name.c_str());
    ForgetTempFile(slot);
    slot = -1;
    name.clear();
    return -1;
  }
  return fd.release();
}

}  // namespace

bool WriteNewFile(const std::string& path, const void* data, std::size_t size) {
  int slot = -1;
  FileHandle out(CreateRememberedFile(path, 0666, slot));
  if (!out.valid()) return false;
  bool ok = LargeFileWrite(out.get(), data, size) == size;
  ok = ::close(out.release()) == 0 && ok;
  if (!ok) ::unlink(path.c_str());  // removed unless complete
  ForgetTempFile(slot);
  return ok;
}

// ---- one file ----

SafeWrite SafeWrite::Replace(const std::string& path, TempNaming naming, int source) {
  SafeWrite w;
  w.target_ = path;
  if (path.empty()) return w;
  struct stat st {};
  const bool link = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  if (link) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      w.target_ = real;
      std::free(real);
    }
  }
  if (source != -1) {
    if (::fstat(source, &st) != 0 || !S_ISREG(st.st_mode)) return w;
    w.source_.reset(::fcntl(source, F_DUPFD_CLOEXEC, 0));
    if (!w.source_.valid()) return w;
  } else if (const bool missing = ::stat(w.target_.c_str(), &st) != 0 && errno == ENOENT;
             missing || !S_ISREG(st.st_mode)) {
    if (missing && !link) {
      // Only a file made here is removed on failure, never one that
      // appeared under the name in the meantime.
      w.out_.reset(CreateRememberedFile(w.target_, 0666, w.slot_));
      w.kind_ = w.out_.valid() ? Kind::Created : Kind::None;
      if (w.out_.valid()) w.work_ = w.target_;
    } else {
      // A device, a pipe, a link to nothing yet: written where it is (a
      // folder does not open).
      w.out_ = OpenWrite(path);
      w.kind_ = w.out_.valid() ? Kind::Direct : Kind::None;
    }
    return w;
  }

  w.dev_ = st.st_dev;
  w.ino_ = st.st_ino;
  w.naming_ = naming;
  const std::string folder = FolderOf(w.target_);
  const char* suffix = naming == TempNaming::Id3tmp ? ".id3tmp" : ".tmp";
  if (naming == TempNaming::Id3tmp) RemoveLeftover(w.target_ + ".id3tmp");
  w.out_.reset(OpenNameless(folder));
  // A copy that goes back through the inode may have to be kept: it never
  // takes the name a later write removes as a leftover.
  if (!w.out_.valid() && NamelessUnsupported(errno))
    w.out_.reset(CreateNamedBeside(
        folder, naming == TempNaming::Id3tmp && st.st_nlink <= 1 ? w.target_ + ".id3tmp" : "",
        ".velotag-", suffix, w.work_, w.slot_));
  w.beside_ = w.out_.valid();
  if (w.beside_) {
    // Before any data, so that the flush of the data carries them too.
    (void)::fchown(w.out_.get(), st.st_uid, st.st_gid);
    (void)::fchmod(w.out_.get(), st.st_mode & 07777);
  } else if (FolderRefused(errno)) {
    // A folder we may not write in: the content is made in the temporary
    // folder and copied back through the inode, which works from anywhere.
    w.out_.reset(OpenNameless(TempFolder()));
    if (!w.out_.valid() && NamelessUnsupported(errno))
      w.out_.reset(CreateNamedBeside(TempFolder(), "", "QRN", "", w.work_, w.slot_));
  }
  if (!w.out_.valid()) {
    w.Forget();
    w.work_.clear();
    return w;
  }
  if (w.work_.empty()) LockNew(w.out_.get());  // nameless: no one else can hold it
  w.kind_ = Kind::Replacing;
  return w;
}

SafeWrite::SafeWrite(SafeWrite&& other) noexcept { *this = std::move(other); }

SafeWrite& SafeWrite::operator=(SafeWrite&& other) noexcept {
  if (this == &other) return *this;
  Abandon();
  kind_ = std::exchange(other.kind_, Kind::None);
  step_ = std::exchange(other.step_, Step::Writing);
  naming_ = other.naming_;
  target_ = std::move(other.target_);
  work_ = std::exchange(other.work_, std::string());
  out_ = std::move(other.out_);
  source_ = std::move(other.source_);
  copyBack_ = std::move(other.copyBack_);
  dev_ = other.dev_;
  ino_ = other.ino_;
  beside_ = other.beside_;
  slot_ = std::exchange(other.slot_, -1);
  keptCopy_ = std::move(other.keptCopy_);
  return *this;
}

SafeWrite::~SafeWrite() { Abandon(); }

void SafeWrite::Forget() {
  ForgetTempFile(slot_);
  slot_ = -1;
}

void SafeWrite::Abandon() {
  // A name of ours goes while the file is still open and locked; a copy
  // that is the only complete one is never removed.
  if (step_ != Step::Done && !work_.empty() && keptCopy_.empty() &&
      (kind_ == Kind::Created || kind_ == Kind::Replacing))
    ::unlink(work_.c_str());
  Forget();
  work_.clear();
  out_.reset();
  copyBack_.reset();
  source_.reset();
  kind_ = Kind::None;
  step_ = Step::Writing;
}

void SafeWrite::Fail(bool keep) {
  step_ = Step::Failed;
  if (keep) keptCopy_ = work_;
}

bool SafeWrite::GiveName(const std::string& folder, const std::string& preferred,
                         const char* prefix, const char* suffix, bool removeOnSignal) {
  if (!work_.empty()) return true;
  // Known to the signal handler before the name exists.
  auto link = [&](const std::string& name) {
    if (removeOnSignal) slot_ = RememberTempFile(name);
    if (LinkNameless(out_.get(), name)) return true;
    const int error = errno;
    Forget();
    errno = error;
    return false;
  };
  std::string name = preferred;
  bool linked = !name.empty() && link(name);
  for (int tries = 0; !linked && tries < 100; ++tries) {
    if (!name.empty() && errno != EEXIST && errno != ENAMETOOLONG) break;
    name = WithTrailingSlash(folder) + prefix + RandomNamePart() + suffix;
    linked = link(name);
  }
  if (linked) work_ = name;
  return linked;
}

// The file's data and size on the medium, retried when a signal cut in.
static bool DataSync(int fd) {
  int r;
  do {
    r = ::fdatasync(fd);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool SafeWrite::Flush() {
  if (step_ != Step::Writing || !out_.valid()) return false;
  // fdatasync carries the size and the blocks; owner and mode went to the
  // journal before them.
  if (!DataSync(out_.get())) {
    Fail(false);
    return false;
  }
  step_ = Step::Flushed;
  return true;
}

void SafeWrite::PutInPlace() {
  if (step_ != Step::Flushed) return;
  if (kind_ == Kind::Created) {
    Forget();
    step_ = Step::Renamed;  // in place already; only its name needs the folder flushed
    return;
  }
  // The new content replaces the file it was made from, never one that
  // another program has put under its name since.
  struct stat now {};
  if (::stat(target_.c_str(), &now) != 0 || now.st_dev != dev_ || now.st_ino != ino_)
    return Fail(false);
  const std::string folder = FolderOf(target_);
  const char* suffix = naming_ == TempNaming::Id3tmp ? ".id3tmp" : ".tmp";
  if (now.st_nlink <= 1 && beside_) {
    // Named only now, for the rename: a kill between the two leaves a
    // complete copy under the name a later write removes.
    if (!GiveName(folder, naming_ == TempNaming::Id3tmp ? target_ + ".id3tmp" : "",
                  ".velotag-", suffix, true))
      return Fail(false);
    // Renamed while still open and locked, so that no other writer can take
    // the name over in between; the data is on the medium already.
    if (::rename(work_.c_str(), target_.c_str()) != 0) return Fail(false);
    Forget();
    work_.clear();
    step_ = Step::Renamed;
    return;
  }
  // Every name of the file must see the new content: it goes back through
  // the inode, from the complete copy, which from here on may be the only
  // whole one. It gets a name of its own first, one that neither the signal
  // handler nor a later write removes.
  FileHandle file(OpenFile(target_, O_WRONLY | O_NOFOLLOW | O_NONBLOCK));
  if (!file.valid() || ::fstat(file.get(), &now) != 0 || now.st_dev != dev_ ||
      now.st_ino != ino_)
    return Fail(false);
  const Offset64 size = LargeFileSize(out_.get());
  if (size < 0 || !GiveName(beside_ ? folder : TempFolder(), "", beside_ ? ".velotag-" : "QRN",
                            beside_ ? suffix : "", false))
    return Fail(false);
  Forget();
  // A full disk stops the write here, while the file is whole.
  if (size > now.st_size &&
      ::fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
      errno != EOPNOTSUPP)
    return Fail(false);
  keptCopy_ = work_;
  if (LargeFileCopy(out_.get(), 0, file.get(), 0, size) != size ||
      ::ftruncate(file.get(), static_cast<off_t>(size)) != 0)
    return Fail(true);
  copyBack_ = std::move(file);
  step_ = Step::CopiedBack;
}

bool SafeWrite::FinishCopyBack() {
  if (step_ != Step::CopiedBack) return false;
  if (!DataSync(copyBack_.get())) {
    Fail(true);
    return false;
  }
  copyBack_.reset();
  ::unlink(work_.c_str());
  work_.clear();
  out_.reset();
  keptCopy_.clear();
  step_ = Step::Done;
  return true;
}

SafeWriteOutcome SafeWrite::Commit() {
  if (!out_.valid() || step_ != Step::Writing) return {};
  if (kind_ == Kind::Direct) {
    step_ = Step::Done;
    return {::close(out_.release()) == 0, ""};
  }
  if (Flush()) PutInPlace();
  if (step_ == Step::Renamed) {
    out_.reset();
    SyncFolder(FolderOf(target_));
    step_ = Step::Done;
  }
  FinishCopyBack();
  return {step_ == Step::Done, keptCopy_};
}

// ---- many files ----

SafeWriteBatch::SafeWriteBatch() {
  // Room for the program's other files beside two descriptors per file.
  struct rlimit limit {};
  std::size_t files = kMaxGroupFiles;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    files = std::min<std::size_t>(files, static_cast<std::size_t>(limit.rlim_cur / 8));
  maxFiles_ = std::max<std::size_t>(files, 1);
}

SafeWriteBatch::~SafeWriteBatch() { Commit(); }

void SafeWriteBatch::Add(SafeWrite write, Done done) {
  if (write.kind_ != SafeWrite::Kind::Replacing || write.step_ != SafeWrite::Step::Writing) {
    SafeWriteOutcome outcome = write.Commit();
    if (done) done(outcome);
    return;
  }
  // The data starts on its way to the medium now, while the next files are
  // written; the group's flush then mostly finds it there.
  ::sync_file_range(write.fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
  const Offset64 size = LargeFileSize(write.fd());
  pendingBytes_ += static_cast<std::uint64_t>(std::max<Offset64>(size, 0));
  pending_.push_back({std::move(write), std::move(done)});
  if (pending_.size() >= maxFiles_ || pendingBytes_ >= kMaxGroupBytes) Launch();
}

void SafeWriteBatch::Commit() {
  Launch();
  Settle();
}

bool SafeWriteBatch::Holds(const std::string& path) const {
  if (pending_.empty() && inFlight_.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  for (const std::vector<Entry>* group : {&pending_, &inFlight_})
    for (const Entry& e : *group)
      if (e.write.dev_ == st.st_dev && e.write.ino_ == st.st_ino) return true;
  return false;
}

void SafeWriteBatch::Launch() {
  Settle();
  if (pending_.empty()) return;
  inFlight_.swap(pending_);
  pendingBytes_ = 0;
  try {
    worker_ = std::thread([this] { Finish(inFlight_); });
  } catch (const std::system_error&) {
    Finish(inFlight_);
  }
}

void SafeWriteBatch::Settle() {
  if (worker_.joinable()) worker_.join();
  std::vector<Entry> group;
  group.swap(inFlight_);
  for (Entry& e : group)
    if (e.done) e.done({e.write.step_ == SafeWrite::Step::Done, e.write.keptCopy_});
}

void SafeWriteBatch::Finish(std::vector<Entry>& group) {
  // No file goes in place before its new content is on the medium.
  InParallel(group.size(), [&](std::size_t i) { group[i].write.Flush(); });
  for (Entry& e : group) e.write.PutInPlace();

  // Then each folder that got a new name, and each file written through its
  // inode, is flushed once. The replaced files are let go of here too: the
  // last close of a file that lost its name frees its blocks, which takes
  // its time.
  std::vector<std::string> folders;
  std::vector<SafeWrite*> copiedBack;
  for (Entry& e : group) {
    SafeWrite& w = e.write;
    if (w.step_ == SafeWrite::Step::Renamed) folders.push_back(FolderOf(w.target_));
    else if (w.step_ == SafeWrite::Step::CopiedBack) copiedBack.push_back(&w);
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  InParallel(folders.size() + copiedBack.size() + group.size(), [&](std::size_t i) {
    if (i < folders.size()) return void(SyncFolder(folders[i]));
    i -= folders.size();
    if (i < copiedBack.size()) return void(copiedBack[i]->FinishCopyBack());
    SafeWrite& w = group[i - copiedBack.size()].write;
    if (w.step_ == SafeWrite::Step::Renamed) {
      w.out_.reset();
      w.source_.reset();
    }
  });
  for (Entry& e : group)
    if (e.write.step_ == SafeWrite::Step::Renamed) e.write.step_ = SafeWrite::Step::Done;
}

bool ReplaceFileBytes(const std::string& fileName, const Bytes& bytes) {
  SafeWrite out = SafeWrite::Replace(fileName);
  return out.valid() && LargeFileWrite(out.fd(), bytes.data(), bytes.size()) == bytes.size() &&
         out.Commit().ok;
}

}  // namespace velotag
