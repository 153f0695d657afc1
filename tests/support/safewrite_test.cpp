// Safe writes on real files: every kind of target ends old or new, a batch
// reports each file on its own, and copies go through the kernel or memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/largefile.h"
#include "support/paths.h"
#include "support/safewrite.h"
#include "support/tempfiles.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::ToBytes;
using test::WriteFileBytes;

// The names under a folder and below it (a folder's with a "/"), sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    names.push_back(e.path().string().substr(folder.size()) + (e.is_directory() && !e.is_symlink() ? "/" : ""));
  std::sort(names.begin(), names.end());
  return names;
}

SafeWrite Written(const std::string& path, const Bytes& b, int source = -1) {
  SafeWrite w = SafeWrite::Replace(path, TempNaming::Hidden, source);
  if (!w.valid() || LargeFileWrite(w.fd(), b.data(), b.size()) != b.size()) return SafeWrite{};
  return w;
}

// A plain file, a link, a file of two names and a missing file, written alone
// and in a batch (bound to the descriptor it was read through, as the tag
// writer does), committed or dropped: every name then shows the old content
// or the new, a link stays a link, two names keep one inode, and no
// temporary file is left.
TEST(SafeWrite, EveryKindOfTargetEndsOldOrNew) {
  const Bytes old = ToBytes("old content"), fresh = ToBytes("the new content, longer");
  const std::pair<std::string, std::vector<std::string>> cases[] = {  // every name, written first
      {"plain", {"f"}}, {"link", {"link", "real/f"}}, {"two names", {"f", "g"}}, {"missing", {"new"}}};
  for (const auto& [kind, names] : cases) {
    for (int how : {0, 1, 2}) {  // dropped, committed alone, in a batch
      SCOPED_TRACE(testing::Message() << kind << " " << how);
      TempDir dir;
      ::mkdir(dir.file("real").c_str(), 0755);
      if (kind != "missing") WriteFileBytes(dir.file(names.back()), old);
      if (kind == "link") ::symlink("real/f", dir.file("link").c_str());
      if (kind == "two names") ::link(dir.file("g").c_str(), dir.file("f").c_str());
      const std::string path = dir.file(names[0]), last = dir.file(names.back());
      const bool existed = GetPathType(path) == kPathFile;
      ::chmod(path.c_str(), 0640);
      const auto inode = test::InodeOf(last);
      const auto before = Names(dir.path());
      FileHandle source(existed ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1);
      SafeWrite w = Written(path, fresh, source.get());
      ASSERT_TRUE(w.valid());
      bool ok = false;
      if (how == 1) ok = w.Commit().ok;
      if (how == 2) {
        SafeWriteBatch batch;
        batch.Add(std::move(w), [&](const SafeWriteOutcome& o) { ok = o.ok; });
      }
      w = SafeWrite{};
      EXPECT_EQ(ok, how != 0);
      for (const std::string& name : names) {
        const bool there = GetPathType(dir.file(name)) == kPathFile;
        EXPECT_EQ(there ? ReadFileBytes(dir.file(name)) : Bytes{}, how ? fresh : existed ? old : Bytes{})
            << name;
      }
      EXPECT_EQ(Names(dir.path()), how && !existed ? (std::vector<std::string>{"new", "real/"}) : before);
      struct stat st {};
      EXPECT_EQ(::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode), kind == "link");
      if (existed && how) {
        EXPECT_EQ(test::ModeOf(last), 0640u);
        EXPECT_EQ(test::InodeOf(last) == inode, kind == "two names");
      }
    }
  }
}

// A file of two names copied back through its inode, cut short by a limit on
// file sizes (a full disk): the file is damaged, so the complete new content
// stays in the temporary file and the outcome names it.
TEST(SafeWrite, ACopyBackCutShortKeepsTheNewContent) {
  TempDir dir;
  WriteFileBytes(dir.file("f"), Bytes(10000, 'o'));
  ::link(dir.file("f").c_str(), dir.file("g").c_str());
  const Bytes fresh(20000, 'n');
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    SafeWrite w = Written(dir.file("f"), fresh);
    const rlimit limit{12000, 12000};
    const SafeWriteOutcome outcome = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? w.Commit() : SafeWriteOutcome{true, ""};
    ::_exit(!outcome.ok && ReadFileBytes(outcome.keptCopy) == fresh ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto names = test::FolderNames(dir.path());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(ReadFileBytes(dir.file(names[0])), fresh) << "kept: " << names[0];
}

// A folder without write permission, a file with it: no temporary file can
// be made beside the file, so the content is made in $TMPDIR and copied back
// through the inode (a rename into the folder is impossible), and the copy
// goes again. Alone or in a batch (a file of two names takes the same way
// in any folder, above).
TEST(SafeWrite, AFolderWithoutWritePermissionIsWrittenThroughTheInode) {
  const Bytes fresh = ToBytes("the new content, longer than the old");
  for (const bool batch : {false, true}) {
    SCOPED_TRACE(batch);
    TempDir dir, tmp;
    const std::string f = dir.file("f");
    WriteFileBytes(f, ToBytes("old"));
    ::chmod(f.c_str(), 0666);
    ::chmod(dir.path().c_str(), 0555);
    test::OpenToEveryone(tmp.path());
    const auto inode = test::InodeOf(f);
    EXPECT_TRUE(test::RunUnprivileged([&] {
      ::setenv("TMPDIR", tmp.path().c_str(), 1);
      SafeWrite w = Written(f, fresh);
      bool ok = false;
      if (!batch) return w.valid() && w.Commit().ok;
      SafeWriteBatch writes;
      writes.Add(std::move(w), [&](const SafeWriteOutcome& o) { ok = o.ok; });
      writes.Commit();
      return ok;
    }));
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(ReadFileBytes(f), fresh);
    EXPECT_EQ(test::InodeOf(f), inode);
    EXPECT_EQ(test::FolderNames(dir.path()).size(), 1u);
    EXPECT_EQ(test::FolderNames(tmp.path()), std::vector<std::string>{}) << "a copy left in $TMPDIR";
  }
}

// Ended by a signal, the process first ends its helpers and removes the files
// it made for a moment; a file it keeps stays.
TEST(TempFiles, ASignalRemovesThemAndEndsTheHelpers) {
  TempDir dir;
  const pid_t pid = ::fork();
  if (pid == 0) {
    RemoveTempFilesOnSignals();
    TempFile gone(dir.file("gone")), kept(dir.file("kept"));
    WriteFileBytes(gone.path(), ToBytes("x"));
    WriteFileBytes(kept.path(), ToBytes("x"));
    kept.release();
    pid_t sleeper = 0;
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("31.4159"), nullptr};
    if (::posix_spawnp(&sleeper, "sleep", nullptr, nullptr, argv, environ) != 0) ::_exit(3);
    RememberChildProcess(sleeper);
    ::raise(SIGTERM);
    ::_exit(4);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(test::FolderNames(dir.path()), std::vector<std::string>{"kept"});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(test::RunProcess({"pgrep", "-f", "sleep 31.4159"}).out, "");
}

// From a memory file (another file system: the kernel cannot copy, memory
// does), at offsets, to the end or short of a count. Disk files go through
// it in every tag rewrite.
TEST(LargeFile, CopyFromAnotherFileSystem) {
  TempDir dir;
  Bytes data(300000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  FileHandle memory(::memfd_create("src", MFD_CLOEXEC)),
      out(::open(dir.file("dst").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_EQ(LargeFileWrite(memory.get(), data.data(), data.size()), data.size());
  EXPECT_EQ(LargeFileCopy(memory.get(), 1000, out.get(), 7, -1), 299000);
  EXPECT_EQ(LargeFileCopy(memory.get(), 299990, out.get(), 400000, 11), -1);
  const Bytes got = ReadFileBytes(dir.file("dst"));
  EXPECT_TRUE(std::equal(data.begin() + 1000, data.end(), got.begin() + 7));
}

}  // namespace
}  // namespace velotag
