// Several velotag-cli processes writing one folder at once, as scripts beside
// the window do: they take turns on each file, and every file stays whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../tags/id3v2_builder.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

// An ID3v2 header's tag size (7 bits a byte), decoded here rather than by
// the code under test.
std::size_t Synchsafe(const std::uint8_t* b) {
  return std::size_t{b[0]} << 21 | std::size_t{b[1]} << 14 | std::size_t{b[2]} << 7 | b[3];
}

// The file as tag writers may leave it: an ID3v2 tag, the audio exactly, at
// most one ID3v1 block; the block's title ("" for none), or "broken: ...".
std::string WholeFile(const Bytes& file, const Bytes& audio) {
  const std::size_t end =
      file.size() < 10 || std::memcmp(file.data(), "ID3", 3) != 0 ? file.size() : 10 + Synchsafe(file.data() + 6);
  if (file.size() < end + audio.size() || !std::equal(audio.begin(), audio.end(), file.begin() + static_cast<long>(end)))
    return "broken: no ID3v2 tag, or the audio does not follow it";
  const std::string rest(file.begin() + static_cast<long>(end + audio.size()), file.end());
  if (!rest.empty() && (rest.size() != 128 || !rest.starts_with("TAG")))
    return "broken: " + std::to_string(rest.size()) + " bytes after the audio";
  return rest.empty() ? "" : rest.substr(3, rest.find('\0', 3) - 3).substr(0, 30);
}

// Four writers on 40 files, round after round: two change ID3v2 fields (one
// of them growing the tag every other round, so that files are rewritten
// while others write them in place), one writes ID3v1 titles and one
// removes the ID3v1 blocks. Every writer waits its turn and writes every
// file (exit status 0); every file is whole, ends with each ID3v2 writer's
// value of the round (mutagen reads them) and has one ID3v1 block of this
// round's title or none. Writers sharing a temporary file once put 300 KB of
// junk after the audio, and two appends made two blocks.
TEST(ConcurrentWriters, TakeTurnsAndLeaveEveryFileWhole) {
  constexpr int kFiles = 40, kRounds = 5;
  TempDir music, home;
  const Bytes audio = Audio(20000);
  std::vector<std::string> files;
  for (int i = 0; i < kFiles; ++i) {
    files.push_back(music.file("song" + std::to_string(i) + ".mp3"));
    WriteFileBytes(files.back(), Cat({Tag(3, Frame(3, "TIT2", TextBody("Song")), 200), audio}));
  }
  for (int round = 0; round < kRounds; ++round) {
    const std::string r = std::to_string(round);
    const std::string artist = "A" + r + std::string(round % 2 ? 3000 : 10, 'a'), album = "B" + r, title = "C" + r;
    std::vector<std::vector<std::string>> writers = {{"--edit", "v2", "change", "artist=" + artist},
                                                     {"--edit", "v2", "change", "album=" + album},
                                                     {"--edit", "v1", "change", "title=" + title},
                                                     {"--edit", "v1", "-y", "clear"}};
    std::vector<ProcessResult> results(writers.size());
    std::vector<std::thread> running;
    for (std::size_t w = 0; w < writers.size(); ++w) {
      writers[w].insert(writers[w].begin(), {VELOTAG_CLI, "--home", home.path(), "-q"});
      writers[w].push_back(music.path());
      running.emplace_back([&results, &writers, w] { results[w] = RunProcess(writers[w]); });
    }
    for (std::thread& t : running) t.join();
    for (std::size_t w = 0; w < writers.size(); ++w)
      EXPECT_EQ(results[w].exitCode, 0) << "round " << round << ": " << writers[w][7] << "\n" << results[w].err;

    const Json tags = Mutagen("fields", files);
    for (const std::string& f : files) {
      SCOPED_TRACE(f + ", round " + r);
      const std::string v1 = WholeFile(ReadFileBytes(f), audio);
      ASSERT_TRUE(v1.empty() || v1 == title) << v1;
      EXPECT_EQ(tags[f]["fields"]["artist"].string, artist);
      EXPECT_EQ(tags[f]["fields"]["album"].string, album);
    }
    ASSERT_EQ(FolderNames(music.path()).size(), std::size_t{kFiles}) << "temporary files were left";
  }
}

}  // namespace
}  // namespace velotag
