// Safe writes on real files: every kind of target ends old or new, a batch
// reports each file on its own, and copies go through the kernel or memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>

#include "support/largefile.h"
#include "support/paths.h"
#include "support/safewrite.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::ToBytes;
using test::WriteFileBytes;

struct stat LStat(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<FolderEntry> entries;
  ListFolder(folder, entries, false);
  std::vector<std::string> names;
  for (const FolderEntry& e : entries) {
    std::string name = e.Name.substr(WithTrailingSlash(folder).size());
    if (!name.empty() && name.back() == '/') name.pop_back();
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool WriteAll(SafeWrite& w, const Bytes& b) {
  return w.valid() && LargeFileWrite(w.fd(), b.data(), b.size()) == b.size();
}

// A plain file, a link, a file of two names and a missing file, each written
// alone and in a batch, committed or dropped half-way: afterwards every name
// shows the old content or the new one, links are still links, a file of
// several names keeps its inode, and no temporary file is left.
TEST(SafeWrite, EveryKindOfTargetEndsOldOrNew) {
  struct Case {
    const char* name;
    std::function<std::string(const TempDir&)> make;  // returns the path written to
    std::vector<std::string> names;  // every name that must show the result
    bool keepsInode;
  };
  const Bytes old = ToBytes("old content"), fresh = ToBytes("the new content, longer");
  const std::vector<Case> cases = {
      {"plain", [&](const TempDir& d) { WriteFileBytes(d.file("f"), old); return d.file("f"); },
       {"f"}, false},
      {"link",
       [&](const TempDir& d) {
         ::mkdir(d.file("real").c_str(), 0755);
         WriteFileBytes(d.file("real/f"), old);
         ::symlink("real/f", d.file("link").c_str());
         return d.file("link");
       },
       {"link", "real/f"}, false},
      {"hard links",
       [&](const TempDir& d) {
         WriteFileBytes(d.file("f"), old);
         ::link(d.file("f").c_str(), d.file("g").c_str());
         return d.file("f");
       },
       {"f", "g"}, true},
      {"missing", [](const TempDir& d) { return d.file("new"); }, {"new"}, false},
  };
  for (const Case& c : cases) {
    for (bool batched : {false, true}) {
      for (bool commit : {false, true}) {
        SCOPED_TRACE(testing::Message() << c.name << (batched ? " in a batch" : " alone")
                                        << (commit ? "" : ", dropped"));
        TempDir dir;
        const std::string path = c.make(dir);
        const bool existed = LStat(path).st_nlink > 0;
        if (existed) ::chmod(path.c_str(), 0640);
        const ino_t inode = existed ? LStat(dir.file(c.names.back())).st_ino : 0;
        auto folders = [&] { return std::pair(Names(dir.path()), Names(dir.file("real"))); };
        const auto before = folders();
        {
          SafeWrite w = SafeWrite::Replace(path);
          ASSERT_TRUE(WriteAll(w, fresh));
          if (commit && batched) {
            SafeWriteBatch batch;
            bool reported = false;
            batch.Add(std::move(w), [&](const SafeWriteOutcome& o) { reported = o.ok; });
            batch.Commit();
            EXPECT_TRUE(reported);
          } else if (commit) {
            EXPECT_TRUE(w.Commit().ok);
          }
        }
        for (const std::string& name : c.names) {
          EXPECT_EQ(GetPathType(dir.file(name)) == kPathFile ? ReadFileBytes(dir.file(name)) : Bytes{},
                    commit ? fresh : existed ? old : Bytes{})
              << name;
        }
        auto after = before;
        if (commit && !existed) after.first = {"new"};
        EXPECT_EQ(folders(), after) << "no temporary file left";
        if (c.names.size() > 1 && !c.keepsInode) {
          EXPECT_TRUE(S_ISLNK(LStat(path).st_mode));
        }
        if (existed && commit) {
          EXPECT_EQ(LStat(dir.file(c.names.back())).st_mode & 07777, 0640u);
          EXPECT_EQ(LStat(dir.file(c.names.back())).st_ino == inode, c.keepsInode);
        }
      }
    }
  }
}

// One batch over five files, run as an ordinary user: one sits in a folder
// without write permission, one is removed and one replaced by another
// program after its new content was written. Those three are reported as
// failed and left as they are (the removed one stays removed); the other two
// are replaced.
TEST(SafeWriteBatch, EachFileFailsOnItsOwn) {
  TempDir dir;
  test::OpenToEveryone(dir.path());
  ::mkdir(dir.file("locked").c_str(), 0777);
  for (const char* name : {"a", "b", "gone", "swapped", "locked/c"}) {
    WriteFileBytes(dir.file(name), ToBytes(std::string("old ") + name));
    ::chmod(dir.file(name).c_str(), 0666);
  }
  ::chmod(dir.file("locked").c_str(), 0555);
  const Bytes fresh = ToBytes("new");
  EXPECT_TRUE(test::RunUnprivileged([&] {
    std::map<std::string, bool> outcome;
    SafeWriteBatch batch;
    for (const char* name : {"a", "locked/c", "gone", "swapped", "b"}) {
      SafeWrite w = SafeWrite::Replace(dir.file(name));
      if (w.valid() && !WriteAll(w, fresh)) return false;
      batch.Add(std::move(w), [&outcome, name](const SafeWriteOutcome& o) { outcome[name] = o.ok; });
    }
    if (batch.Pending() != 4) return false;  // the locked one failed at once
    ::unlink(dir.file("gone").c_str());
    WriteFileBytes(dir.file("other"), ToBytes("theirs"));
    ::rename(dir.file("other").c_str(), dir.file("swapped").c_str());
    batch.Commit();
    const std::map<std::string, bool> expected = {
        {"a", true}, {"b", true}, {"gone", false}, {"swapped", false}, {"locked/c", false}};
    return outcome == expected && ReadFileBytes(dir.file("a")) == fresh &&
           ReadFileBytes(dir.file("b")) == fresh && GetPathType(dir.file("gone")) == kPathMissing &&
           ReadFileBytes(dir.file("swapped")) == ToBytes("theirs") &&
           ReadFileBytes(dir.file("locked/c")) == ToBytes("old locked/c");
  }));
  ::chmod(dir.file("locked").c_str(), 0755);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"a", "b", "locked", "swapped"}));
}

// A file of two names copied back through its inode, cut short by a limit on
// file sizes (a full disk): the file is damaged, so the whole new content
// stays in the temporary file and the outcome names it.
TEST(SafeWrite, ACopyBackCutShortKeepsTheNewContent) {
  TempDir dir;
  const std::string f = dir.file("f");
  WriteFileBytes(f, Bytes(10000, 'o'));
  ::link(f.c_str(), dir.file("g").c_str());
  const Bytes fresh(20000, 'n');
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    SafeWrite w = SafeWrite::Replace(f);
    const rlimit limit{12000, 12000};
    bool ok = WriteAll(w, fresh) && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    const SafeWriteOutcome outcome = w.Commit();
    ok = ok && !outcome.ok && !outcome.keptCopy.empty() && ReadFileBytes(outcome.keptCopy) == fresh;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto names = Names(dir.path());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(ReadFileBytes(dir.file(names[0])), fresh) << "kept: " << names[0];
}

// Whole, at offsets, up to the end, and short of a count the source cannot
// give; within one file system (the kernel copies) and from a memory file
// (another file system: through memory).
TEST(LargeFile, CopyBetweenFiles) {
  TempDir dir;
  Bytes data(300000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  WriteFileBytes(dir.file("src"), data);
  FileHandle disk(::open(dir.file("src").c_str(), O_RDONLY | O_CLOEXEC));
  FileHandle memory(::memfd_create("src", MFD_CLOEXEC));
  ASSERT_EQ(LargeFileWrite(memory.get(), data.data(), data.size()), data.size());
  struct Case {
    Offset64 from, to, count, result;
  };
  const Case cases[] = {{0, 0, -1, 300000}, {1000, 7, -1, 299000}, {5, 3, 4096, 4096},
                        {299990, 0, 10, 10}, {299990, 0, 11, -1}, {300000, 0, -1, 0}};
  for (int source : {disk.get(), memory.get()}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (source == disk.get() ? "disk " : "memory ") << c.from
                                      << " -> " << c.to << " count " << c.count);
      WriteFileBytes(dir.file("dst"), Bytes(c.to, 0xEE));
      FileHandle out(::open(dir.file("dst").c_str(), O_RDWR | O_CLOEXEC));
      ASSERT_EQ(LargeFileCopy(source, c.from, out.get(), c.to, c.count), c.result);
      if (c.result < 0) continue;
      Bytes want(c.to, 0xEE);
      want.insert(want.end(), data.begin() + c.from, data.begin() + c.from + c.result);
      EXPECT_EQ(ReadFileBytes(dir.file("dst")), want);
    }
  }
}

}  // namespace
}  // namespace velotag
