// What keeps a user's file whole: reading never opens it for writing, a
// write reaches the very file that was read or nothing at all, and writers
// of one file take turns.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "tags/id3v1.h"
#include "tags/id3v2_frames.h"
#include "id3v2_builder.h"

namespace velotag {
namespace {

using namespace test;

// A real MP3 with a title in both tags.
std::string TaggedMp3(const TempDir& dir, const std::string& name) {
  const std::string path = dir.file(name);
  WriteFileBytes(path, ReadFileBytes(DataPath("peers/mutagen/no-tags.mp3")));
  ID3v2Tag tag;
  EXPECT_EQ(OpenID3v2(path, tag, 3), kTagNone);
  SetID3v2Text(tag, "TIT2", "Before", kID3Utf8, false);
  EXPECT_TRUE(WriteID3v2(tag));
  ID3v1Tag v1;
  v1.Title = "Before";
  EXPECT_EQ(WriteID3v1(path, v1), kTagDone);
  return path;
}

std::string Text(const std::string& path, const char* id) {
  ID3v2Tag tag;
  OpenAndRead(path, tag);
  return GetID3v2Text(id, tag, true);
}

// Opens path (for writing or not), reads it and sets TIT2 to title (unless "").
bool OpenAndSet(const std::string& path, ID3v2Tag& tag, const std::string& title,
                bool forWriting = false, int encoding = kID3Utf8) {
  return OpenID3v2(path, tag, 4, forWriting) == kTagDone && ReadID3v2Frames(tag) &&
         (title.empty() || SetID3v2Text(tag, "TIT2", title, encoding, false));
}

// A file replaced by another program after it was read must not receive
// offsets computed for the old one: the write is refused and the newcomer
// keeps every byte. Writes on a record that stayed with its file go on
// working, also one after another across a rewrite. A handle opened for
// writing from the start writes in place to the file it holds; a rewrite or
// removal still checks the name before replacing.
TEST(TagFileAccess, WritesReachTheFileThatWasReadOrNothing) {
  const std::pair<const char*, bool> cases[] = {  // in place, rewrite or remove; opened for writing
      {"in place", false}, {"rewrite", false}, {"remove", false}, {"rewrite", true}, {"remove", true}};
  for (const auto& [op, forWriting] : cases) {
    SCOPED_TRACE(std::string(op) + (forWriting ? " opened for writing" : ""));
    auto apply = [&](ID3v2Tag& tag) {
      if (*op == 'r' && op[2] == 'm') return RemoveID3v2(tag);
      return SetID3v2Text(tag, "TIT2", *op == 'i' ? "After" : std::string(20000, 'x')) && WriteID3v2(tag);
    };
    TempDir dir;
    const std::string path = TaggedMp3(dir, "song.mp3"), other = TaggedMp3(dir, "other.mp3");
    ID3v2Tag tag, fresh;
    ASSERT_TRUE(OpenAndSet(path, tag, "", forWriting));
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    const Bytes newcomer = ReadFileBytes(path);
    EXPECT_FALSE(apply(tag));
    EXPECT_EQ(ReadFileBytes(path), newcomer);
    ASSERT_TRUE(OpenAndSet(path, fresh, "", forWriting));
    EXPECT_TRUE(apply(fresh));
    if (op[2] != 'm') {
      SetID3v2Text(fresh, "TPE1", "Second write");
      EXPECT_TRUE(WriteID3v2(fresh));
      EXPECT_EQ(Text(path, "TPE1"), "Second write");
    }
  }
}

// Two programs saving one file at once: the temporary file another writer
// holds is left alone (its rename by name would otherwise install our
// half-written copy); a leftover of an earlier failure is reused.
TEST(TagFileAccess, ARewriteLeavesAnotherWritersTemporaryFileAlone) {
  TempDir dir;
  const std::string path = TaggedMp3(dir, "song.mp3"), theirs = path + ".id3tmp";
  WriteFileText(theirs, "another writer's copy");
  const int held = ::open(theirs.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  auto rewrite = [&](const std::string& title) {
    ID3v2Tag tag;
    EXPECT_TRUE(OpenAndSet(path, tag, title) && WriteID3v2(tag));
    EXPECT_EQ(Text(path, "TIT2"), title);
  };
  rewrite(std::string(8000, 'w'));
  EXPECT_EQ(ReadFileBytes(theirs), ToBytes("another writer's copy"));
  ::close(held);  // now a leftover
  rewrite(std::string(30000, 'f'));
  EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"song.mp3"});
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
  const std::function<bool()> others[] = {  // each true when it wrote
      [&] {
        ID3v2Tag t;
        return OpenID3v2(path, t, 4, true, brief) == kTagDone && t.Busy && ReadID3v2Frames(t) &&
               SetID3v2Text(t, "TIT2", "Other") && WriteID3v2(t);
      },
      [&] {
        ID3v1Tag v1;
        return WriteID3v1(path, v1, brief) != kTagFailed;
      },
      [&] { return RemoveID3v1(path, brief) != kTagFailed; }};
  {
    ID3v2Tag holder;
    ASSERT_EQ(OpenID3v2(path, holder, 4, true), kTagDone);
    const Bytes before = ReadFileBytes(path);
    for (const auto& other : others) {
      EXPECT_FALSE(other());
      EXPECT_EQ(ReadFileBytes(path), before);
    }
  }
  ID3v2Tag stale, first;  // read without the lock, then the file changes: refused
  ASSERT_TRUE(OpenAndSet(path, stale, "Stale"));
  ASSERT_EQ(RemoveID3v1(path), kTagDone);
  EXPECT_FALSE(WriteID3v2(stale));

  const std::string grown(5000, 'F');  // outgrows the tag: a new file
  ASSERT_TRUE(OpenAndSet(path, first, grown, true));
  std::thread second([&] {
    ID3v2Tag t;
    EXPECT_TRUE(OpenID3v2(path, t, 4, true) == kTagDone && ReadID3v2Frames(t) &&
                SetID3v2Text(t, "TPE1", "Second") && WriteID3v2(t));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(WriteID3v2(first));
  CloseID3v2(first);
  second.join();
  EXPECT_TRUE(Text(path, "TIT2") == grown);
  EXPECT_EQ(Text(path, "TPE1"), "Second");
}

// A tag with a 40 MB picture gets a new picture, its writer killed at random
// moments of the write: the file is the old one or the new one, byte for
// byte (one write of 40 MB in place was cut by the kill and left the new
// title with a picture half new, half old). The temporary file has no name
// until the moment of its rename, so the kill leaves none behind (at most
// that name, which the next write removes).
TEST(TagWrites, AKilledWriteOfA40MBPictureLeavesTheOldFileOrTheNew) {
  constexpr std::size_t kSize = 40 << 20;
  TempDir dir;
  const std::string f = dir.file("big.mp3"), png = dir.file("new.png");
  // Built in place: every copy of 40 MB costs its page faults.
  const Bytes apic = Cat({{0}, ToBytes("image/png"), {0, 3, 0}}),
              frames = Cat({Frame(3, "TIT2", TextBody("Old")), ToBytes("APIC"),
                            BigEndian(static_cast<std::uint32_t>(apic.size() + kSize), 4, false), {0, 0}, apic});
  Bytes before = Cat({Header(3, 0, static_cast<std::uint32_t>(frames.size() + kSize + 4096)), frames});
  const std::size_t at = before.size();
  before.resize(at + kSize + 4096);
  for (std::size_t i = 0; i < kSize; i += 4096) before[at + i] = static_cast<std::uint8_t>(i / 4096);
  const Bytes audio = Audio(60000);
  before.insert(before.end(), audio.begin(), audio.end());
  {
    Bytes image(before.begin() + static_cast<long>(at), before.begin() + static_cast<long>(at + kSize));
    image[kSize / 2] ^= 1;
    image[kSize - 1] = 7;
    WriteFileBytes(png, image);
  }
  WriteFileBytes(f, before);
  ID3v2Tag edited;  // the new frames, made once; each writer takes them over
  ASSERT_TRUE(OpenAndSet(f, edited, "New", false, kID3Ansi));
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
    const Bytes now = ReadFileBytes(f);
    ASSERT_TRUE(now == before || now == after) << "killed " << delay << " s into the write";
    // Nothing but the name linked for a moment before the rename.
    for (const std::string& name : FolderNames(dir.path()))
      EXPECT_TRUE(name == "big.mp3" || name == "new.png" || name == "big.mp3.id3tmp") << name;
  }
  ASSERT_TRUE(write(edited.Frames, [] {}));
  EXPECT_EQ(FolderNames(dir.path()).size(), 2u) << "a temporary file was left";
}

}  // namespace
}  // namespace velotag
