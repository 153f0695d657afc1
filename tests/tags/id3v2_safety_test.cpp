// What keeps a user's file whole: reading never opens it for writing, a
// write reaches the very file that was read or nothing at all, and tags of
// other writers' dialects are read whole before they are written back.
#include <gtest/gtest.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

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
      if (f.FrameID == "APIC") apic = std::to_string(f.Size);
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

}  // namespace
}  // namespace velotag
