// What keeps a user's file whole: reading never opens it for writing, a
// write reaches the very file that was read or nothing at all, and tags of
// other writers' dialects are read whole before they are written back.
#include <gtest/gtest.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "support/largefile.h"
#include "support/paths.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "id3v2_builder.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::TempDir;

std::string TaggedMp3(const TempDir& dir, const std::string& name) {
  std::string path = dir.file(name);
  test::WriteFileBytes(path, test::ReadFileBytes(test::DataPath("peers/mutagen/no-tags.mp3")));
  ID3v2Tag tag;
  EXPECT_EQ(OpenID3v2(path, tag, 3), kTagNone);
  SetID3v2Text(tag, "TIT2", "Before", kID3Utf8, false);
  EXPECT_TRUE(WriteID3v2(tag));
  ID3v1Tag v1;
  v1.Title = "Before";
  EXPECT_EQ(WriteID3v1(path, v1), kTagDone);
  return path;
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

// The events a folder watcher saw since the last call.
std::string DrainEvents(int fd) {
  std::string seen;
  alignas(inotify_event) char buf[4096];
  while (poll(std::array<pollfd, 1>{{{fd, POLLIN, 0}}}.data(), 1, 0) > 0) {
    ssize_t n = read(fd, buf, sizeof buf);
    for (ssize_t i = 0; i < n;) {
      auto* e = reinterpret_cast<inotify_event*>(buf + i);
      if (e->mask & IN_CLOSE_WRITE) seen += "close-write ";
      if (e->mask & IN_MODIFY) seen += "modify ";
      if (e->mask & IN_ATTRIB) seen += "attrib ";
      i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return seen;
}

// Music daemons and indexers rescan a file when a handle that could write
// it is closed: listing a folder must not make them rescan the library.
TEST(TagFileAccess, ReadingLooksUnchangedToWatchers) {
  TempDir dir;
  std::string path = TaggedMp3(dir, "song.mp3");
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB),
            0);
  {
    ID3v2Tag tag;
    ASSERT_EQ(OpenID3v2(path, tag, 4), kTagDone);
    ASSERT_TRUE(ReadID3v2Frames(tag));
    EXPECT_EQ(GetID3v2Text("TIT2", tag, true), "Before");
    ID3v1Tag v1;
    EXPECT_EQ(ReadID3v1FromHandle(path, tag.FileHandle.get(), v1, tag.FileSize), kTagDone);
    EXPECT_EQ(v1.Title, "Before");
  }
  EXPECT_EQ(DrainEvents(watch), "");

  {  // the watch does see a real write
    ID3v2Tag tag;
    ASSERT_EQ(OpenID3v2(path, tag, 4), kTagDone);
    ReadID3v2Frames(tag);
    SetID3v2Text(tag, "TIT2", "After", kID3Utf8, false);
    EXPECT_TRUE(WriteID3v2(tag));
  }
  EXPECT_NE(DrainEvents(watch).find("close-write"), std::string::npos);
  close(watch);
}

// A file replaced by another program after it was read must not receive
// offsets computed for the old one: the write is refused and the newcomer
// keeps every byte. Writes on a record that stayed with its file go on
// working, also one after another across a rewrite.
TEST(TagFileAccess, WritesReachTheFileThatWasReadOrNothing) {
  enum class Op { InPlace, Rewrite, Remove };
  // A handle opened for writing from the start writes in place to the file
  // it holds; a rewrite or removal still checks the name before replacing.
  const struct {
    const char* name;
    Op op;
    bool forWriting;
  } cases[] = {{"in place", Op::InPlace, false},
               {"rewrite", Op::Rewrite, false},
               {"remove", Op::Remove, false},
               {"rewrite, opened for writing", Op::Rewrite, true},
               {"remove, opened for writing", Op::Remove, true}};
  auto apply = [](ID3v2Tag& tag, Op op) {
    if (op == Op::Remove) return RemoveID3v2(tag);
    SetID3v2Text(tag, "TIT2", op == Op::InPlace ? "After" : std::string(20000, 'x'), kID3Utf8,
                 false);
    return WriteID3v2(tag);
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string path = TaggedMp3(dir, "song.mp3");
    std::string other = TaggedMp3(dir, "other.mp3");
    ID3v2Tag tag;
    ASSERT_EQ(OpenID3v2(path, tag, 4, c.forWriting), kTagDone) << c.name;
    ReadID3v2Frames(tag);
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    test::Bytes newcomer = test::ReadFileBytes(path);
    EXPECT_FALSE(apply(tag, c.op)) << c.name;
    EXPECT_EQ(test::ReadFileBytes(path), newcomer) << c.name;

    ID3v2Tag fresh;
    ASSERT_EQ(OpenID3v2(path, fresh, 4, c.forWriting), kTagDone) << c.name;
    ReadID3v2Frames(fresh);
    EXPECT_TRUE(apply(fresh, c.op)) << c.name;
    if (c.op != Op::Remove) {
      SetID3v2Text(fresh, "TPE1", "Second write", kID3Utf8, false);
      EXPECT_TRUE(WriteID3v2(fresh)) << c.name;
      ID3v2Tag check;
      ASSERT_EQ(OpenID3v2(path, check, 4), kTagDone) << c.name;
      ReadID3v2Frames(check);
      EXPECT_EQ(GetID3v2Text("TPE1", check, true), "Second write") << c.name;
    }
  }
}

// Two programs saving one file at once: the temporary file another writer
// holds is left alone (its rename by name would otherwise install our
// half-written copy); a leftover of an earlier failure is reused.
TEST(TagFileAccess, ARewriteLeavesAnotherWritersTemporaryFileAlone) {
  TempDir dir;
  const std::string path = TaggedMp3(dir, "song.mp3"), theirs = path + ".id3tmp";
  test::WriteFileText(theirs, "another writer's copy");
  int held = ::open(theirs.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  auto rewrite = [&](const std::string& title, std::size_t grow) {
    ID3v2Tag tag;
    EXPECT_EQ(OpenID3v2(path, tag, 4), kTagDone);
    ReadID3v2Frames(tag);
    SetID3v2Text(tag, "TIT2", title + std::string(grow, ' '), kID3Utf8, false);
    EXPECT_TRUE(WriteID3v2(tag)) << title;
    ID3v2Tag check;
    OpenID3v2(path, check, 4);
    ReadID3v2Frames(check);
    EXPECT_EQ(GetID3v2Text("TIT2", check, true).substr(0, title.size()), title);
  };
  rewrite("While another writes", 8000);
  EXPECT_EQ(test::ReadFileBytes(theirs), test::ToBytes("another writer's copy"));
  ::close(held);

  rewrite("After a failure", 30000);
  std::vector<FolderEntry> entries;
  ListFolder(dir.path(), entries);
  ASSERT_EQ(entries.size(), 1u) << "temporary files left: " << entries.back().Name;
}

// iTunes wrote 2.4 frame sizes as plain integers. Read as synchsafe, a
// 514-byte picture became 258 bytes and the frames after it garbage, and the
// next write kept only that. Both readings must agree with mutagen's, and a
// write must carry every frame over whole.
TEST(TagDialects, PlainSizedFramesOfA24TagSurviveAWrite) {
  using namespace test;
  Bytes picture = Cat({{0}, ToBytes("image/png"), {0, 3, 0}, Bytes(500, 0xAB)});
  Bytes frames;
  for (const auto& [id, body] : {std::pair{std::string("TIT2"), TextBody("Title")},
                                 {"APIC", picture},
                                 {"TALB", TextBody("Album after the picture")}})
    frames = Cat({frames, ToBytes(id), BigEndian(static_cast<std::uint32_t>(body.size()), 4, false),
                  {0, 0}, body});
  TempDir dir;
  const std::string path = dir.file("itunes.mp3");
  WriteFileBytes(path, Cat({Tag(4, frames, 64), Audio()}));

  auto ours = [&] {
    ID3v2Tag tag;
    EXPECT_EQ(OpenAndRead(path, tag), kTagDone);
    std::string apic;
    for (const ID3v2Frame& f : tag.Frames)
      if (f.FrameID == "APIC") apic = std::to_string(f.Data.size());
    return GetID3v2Text("TIT2", tag, true) + "|" + apic + "|" + GetID3v2Text("TALB", tag, true);
  };
  auto mutagen = [&] {
    ProcessResult r = RunProcess({PythonPath(), ToolPath("mutagen_id3v2.py"), "read", path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  };
  EXPECT_EQ(ours(), "Title|" + std::to_string(picture.size()) + "|Album after the picture");
  const std::string before = mutagen();
  EXPECT_NE(before.find("Album after the picture"), std::string::npos) << before;

  {
    ID3v2Tag tag;
    ASSERT_EQ(OpenAndRead(path, tag), kTagDone);
    SetID3v2Text(tag, "TPE1", "Artist", kID3Utf8, false);
    ASSERT_TRUE(WriteID3v2(tag));
  }
  EXPECT_EQ(ours(), "Title|" + std::to_string(picture.size()) + "|Album after the picture");
  const std::string after = mutagen();
  EXPECT_NE(after.find("Album after the picture"), std::string::npos) << after;
  std::string image;
  for (int i = 0; i < 500; ++i) image += "ab";
  EXPECT_NE(after.find("\"data\": \"" + image + "\""), std::string::npos) << "picture cut";
}


// Writers of one file take turns: while one holds a file (opened for writing),
// every other writer waits for it and, when the wait runs out, writes
// nothing; a record read without the lock is written only when the file is
// still as it was read. A writer that waited while the file was replaced
// writes the new file, never the old one no name leads to any more.
TEST(TagFileAccess, WritersTakeTurnsOnTheFileItself) {
  TempDir dir;
  const std::string path = TaggedMp3(dir, "song.mp3");
  const LockWait brief{50, {}};
  const struct {
    const char* name;
    std::function<bool()> write;  // true when it wrote
  } others[] = {
      {"ID3v2", [&] {
         ID3v2Tag t;
         return OpenID3v2(path, t, 4, true, brief) == kTagDone && t.Busy && ReadID3v2Frames(t) &&
                SetID3v2Text(t, "TIT2", "Other") && WriteID3v2(t);
       }},
      {"ID3v1", [&] {
         ID3v1Tag v1;
         return WriteID3v1(path, v1, brief) != kTagFailed;
       }},
      {"ID3v1 removal", [&] { return RemoveID3v1(path, brief) != kTagFailed; }},
  };
  {
    ID3v2Tag holder;
    ASSERT_EQ(OpenID3v2(path, holder, 4, true), kTagDone);
    const test::Bytes before = test::ReadFileBytes(path);
    for (const auto& other : others) {
      EXPECT_FALSE(other.write()) << other.name;
      EXPECT_EQ(test::ReadFileBytes(path), before) << other.name;
    }
  }
  // Read without the lock, then the file changes: refused.
  ID3v2Tag stale;
  ASSERT_EQ(test::OpenAndRead(path, stale), kTagDone);
  ASSERT_EQ(RemoveID3v1(path), kTagDone);
  SetID3v2Text(stale, "TIT2", "Stale");
  EXPECT_FALSE(WriteID3v2(stale));

  // One writer waits while the other replaces the file.
  ID3v2Tag first;
  ASSERT_EQ(OpenID3v2(path, first, 4, true), kTagDone);
  ReadID3v2Frames(first);
  std::thread second([&] {
    ID3v2Tag t;
    EXPECT_EQ(OpenID3v2(path, t, 4, true), kTagDone);
    ReadID3v2Frames(t);
    SetID3v2Text(t, "TPE1", "Second");
    EXPECT_TRUE(WriteID3v2(t));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string grown(5000, 'F');  // outgrows the tag: a new file
  SetID3v2Text(first, "TIT2", grown);
  EXPECT_TRUE(WriteID3v2(first));
  CloseID3v2(first);
  second.join();
  ID3v2Tag both;
  ASSERT_EQ(test::OpenAndRead(path, both), kTagDone);
  EXPECT_TRUE(GetID3v2Text("TIT2", both, true) == grown);
  EXPECT_EQ(GetID3v2Text("TPE1", both, true), "Second");
}

// A write in place lands whole or not at all: only the bytes that differ are
// written, in one write inside one page; changes spread wider (frames that
// move, a new picture) go through a temporary file with the tag keeping its
// extent, so that the file is the same either way.
TEST(TagWrites, InPlaceOnlyWhatFitsInOnePage) {
  using namespace test;
  auto picture = [](std::uint8_t last) {
    Bytes image(100000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
    image.back() = last;
    return image;
  };
  const Bytes apic = Cat({{0}, ToBytes("image/png"), {0, 3, 0}, picture(1)});
  const Bytes before =
      Cat({Tag(3, Cat({Frame(3, "TIT2", TextBody("Old")), Frame(3, "APIC", apic)}), 3000), Audio()});
  const struct {
    const char* title;  // "" keeps it
    std::uint8_t last;  // the picture's last byte
    bool inPlace;
  } cases[] = {{"", 1, true},  {"New", 1, true}, {"", 2, true},
               {"Newer", 1, false}, {"New", 2, false}};
  TempDir dir;
  WriteFileBytes(dir.file("p.png"), picture(2));
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.title << "\" " << int(c.last));
    const std::string f = dir.file("m.mp3");
    WriteFileBytes(f, before);
    const ino_t inode = Inode(f);
    ID3v2Tag tag;
    ASSERT_EQ(OpenID3v2(f, tag, 4, true), kTagDone);
    ReadID3v2Frames(tag);
    if (*c.title) SetID3v2Text(tag, "TIT2", c.title, kID3Ansi);
    if (c.last != 1) {
      DeleteID3v2Frame(tag, "APIC");
      ASSERT_TRUE(SetID3v2Picture(tag, "", dir.file("p.png"), kID3Ansi, false));
    }
    ASSERT_TRUE(WriteID3v2(tag));
    CloseID3v2(tag);
    EXPECT_EQ(Inode(f) == inode, c.inPlace);
    const Bytes after = ReadFileBytes(f);
    ASSERT_EQ(after.size(), before.size()) << "the tag keeps its extent";
    EXPECT_EQ(Slice(after, 0, 10), Slice(before, 0, 10));
    ASSERT_EQ(OpenAndRead(f, tag), kTagDone);
    EXPECT_EQ(GetID3v2Text("TIT2", tag, true), *c.title ? c.title : "Old");
    ASSERT_EQ(tag.Frames.size(), 2u);
    EXPECT_EQ(tag.Frames[1].Data.back(), c.last);
    std::vector<FolderEntry> left;
    EXPECT_EQ(ListFolder(dir.path(), left), 2);
  }
}

// Whether the file holds exactly these bytes, read a piece at a time.
bool FileIs(const std::string& path, const test::Bytes& bytes) {
  FileHandle in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  test::Bytes piece(1 << 20);
  std::size_t at = 0;
  for (std::size_t n; (n = LargeFileReadAt(in.get(), piece.data(), piece.size(), at)) > 0; at += n)
    if (at + n > bytes.size() || std::memcmp(piece.data(), bytes.data() + at, n) != 0) return false;
  return at == bytes.size();
}

// A tag with a 40 MB picture gets a new picture, its writer killed at random
// moments of the write: the file is the old one or the new one, byte for
// byte (one write of 40 MB in place was cut by the kill and left the new
// title with a picture half new, half old). The temporary file has no name
// until the moment of its rename, so the kill leaves none behind (at most
// that name, which the next write removes).
TEST(TagWrites, AKilledWriteOfA40MBPictureLeavesTheOldFileOrTheNew) {
  using namespace test;
  constexpr std::size_t kSize = 40 << 20;
  TempDir dir;
  const std::string f = dir.file("big.mp3"), png = dir.file("new.png");
  // Built in place: every copy of 40 MB costs its page faults.
  const Bytes apic = Cat({{0}, ToBytes("image/png"), {0, 3, 0}}),
              frames = Cat({Frame(3, "TIT2", TextBody("Old")), ToBytes("APIC"),
                            BigEndian(static_cast<std::uint32_t>(apic.size() + kSize), 4, false), {0, 0}, apic}),
              audio = Audio(60000);
  Bytes before = Header(3, 0, static_cast<std::uint32_t>(frames.size() + kSize + 4096));
  const std::size_t at = before.size() + frames.size();
  before.reserve(at + kSize + 4096 + audio.size());
  before.insert(before.end(), frames.begin(), frames.end());
  before.resize(at + kSize + 4096);
  for (std::size_t i = 0; i < kSize; i += 4096) before[at + i] = static_cast<std::uint8_t>(i / 4096);
  before.insert(before.end(), audio.begin(), audio.end());
  Bytes image(before.begin() + static_cast<long>(at), before.begin() + static_cast<long>(at + kSize));
  image[kSize / 2] ^= 1;
  image[kSize - 1] = 7;
  WriteFileBytes(png, image);
  image = Bytes();
  WriteFileBytes(f, before);
  // The new frames, made once; each writer takes them over.
  ID3v2Tag edited;
  ASSERT_EQ(OpenAndRead(f, edited), kTagDone);
  SetID3v2Text(edited, "TIT2", "New", kID3Ansi);
  DeleteID3v2Frame(edited, "APIC");
  ASSERT_TRUE(SetID3v2Picture(edited, "", png, kID3Ansi, false));
  auto write = [&](std::vector<ID3v2Frame> frames, const std::function<void()>& ready) {
    ID3v2Tag tag;
    OpenID3v2(f, tag, 4, true);
    tag.Frames = std::move(frames);
    ready();
    return WriteID3v2(tag);
  };
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(write(edited.Frames, [&] { start = std::chrono::steady_clock::now(); }));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const Bytes after = ReadFileBytes(f);
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 5; ++round) {
    WriteFileBytes(f, before);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0)
      ::_exit(write(std::move(edited.Frames), [&] { (void)!::write(ready[1], "w", 1); }) ? 0 : 1);
    char w;
    ASSERT_EQ(::read(ready[0], &w, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    const double delay = std::uniform_real_distribution<double>(0, took.count())(random);
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(FileIs(f, before) || FileIs(f, after)) << "killed " << delay << " s into the write";
    // Nothing but the name linked for a moment before the rename.
    std::vector<FolderEntry> left;
    for (ListFolder(dir.path(), left); const FolderEntry& e : left)
      EXPECT_TRUE(e.Name == f || e.Name == png || e.Name == f + ".id3tmp") << e.Name;
  }
  ASSERT_TRUE(write(edited.Frames, [] {}));
  std::vector<FolderEntry> left;
  EXPECT_EQ(ListFolder(dir.path(), left), 2) << "a temporary file was left";
}

}  // namespace
}  // namespace velotag
