// How the tag code holds a file: reading never opens it for writing, and a
// write reaches the very file that was read or nothing at all.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/largefile.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
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
  const struct {
    const char* name;
    Op op;
  } cases[] = {{"in place", Op::InPlace}, {"rewrite", Op::Rewrite}, {"remove", Op::Remove}};
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
    ASSERT_EQ(OpenID3v2(path, tag, 4), kTagDone) << c.name;
    ReadID3v2Frames(tag);
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    test::Bytes newcomer = test::ReadFileBytes(path);
    EXPECT_FALSE(apply(tag, c.op)) << c.name;
    EXPECT_EQ(test::ReadFileBytes(path), newcomer) << c.name;

    ID3v2Tag fresh;
    ASSERT_EQ(OpenID3v2(path, fresh, 4), kTagDone) << c.name;
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

}  // namespace
}  // namespace velotag
