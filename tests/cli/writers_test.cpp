// Several velotag-cli processes writing one folder at once, as scripts beside
// the window do: they take turns on each file, and every file stays whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "id3v2_builder.h"
#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

// The file as tag writers may leave it: an ID3v2 tag, the audio exactly, at
// most one ID3v1 block; the block's title ("" for none), or "broken: ...".
std::string WholeFile(const Bytes& file, const Bytes& audio) {
  if (file.size() < 10 || std::memcmp(file.data(), "ID3", 3) != 0) return "broken: no ID3v2 tag";
  const std::size_t end = 10 + static_cast<std::size_t>(DecodeBigEndian(file.data(), 6, 9, true));
  if (file.size() < end + audio.size() || !std::equal(audio.begin(), audio.end(), file.begin() + static_cast<long>(end)))
    return "broken: the audio does not follow the tag";
  const std::size_t rest = file.size() - end - audio.size();
  if (rest == 0) return "";
  if (rest != 128 || std::memcmp(&file[file.size() - 128], "TAG", 3) != 0)
    return "broken: " + std::to_string(rest) + " bytes after the audio";
  const char* title = reinterpret_cast<const char*>(&file[file.size() - 125]);
  return std::string(title, strnlen(title, 30));
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
    const std::vector<std::vector<std::string>> writers = {
        {"--edit", "v2", "change", "artist=" + artist},
        {"--edit", "v2", "change", "album=" + album},
        {"--edit", "v1", "change", "title=" + title},
        {"-y", "--edit", "v1", "clear"}};
    std::vector<ProcessResult> results(writers.size());
    std::vector<std::thread> running;
    for (std::size_t w = 0; w < writers.size(); ++w) {
      std::vector<std::string> args = {VELOTAG_CLI, "--home", home.path(), "-q"};
      args.insert(args.end(), writers[w].begin(), writers[w].end());
      args.push_back(music.path());
      running.emplace_back([&results, w, args] { results[w] = RunProcess(args); });
    }
    for (std::thread& t : running) t.join();
    for (std::size_t w = 0; w < writers.size(); ++w)
      EXPECT_EQ(results[w].exitCode, 0) << "round " << round << ": " << writers[w][3] << "\n" << results[w].err;

    std::vector<std::string> args = {PythonPath(), ToolPath("mutagen_id3v2.py"), "fields"};
    args.insert(args.end(), files.begin(), files.end());
    const ProcessResult read = RunProcess(args);
    ASSERT_EQ(read.exitCode, 0) << read.err;
    const Json tags = ParseJson(read.out);
    for (const std::string& f : files) {
      SCOPED_TRACE(f + ", round " + r);
      const std::string v1 = WholeFile(ReadFileBytes(f), audio);
      ASSERT_TRUE(v1.empty() || v1 == title) << v1;
      EXPECT_EQ(tags[f]["fields"]["artist"].string, artist);
      EXPECT_EQ(tags[f]["fields"]["album"].string, album);
    }
    std::vector<FolderEntry> left;
    ASSERT_EQ(ListFolder(music.path(), left), kFiles) << "temporary files were left";
  }
}

}  // namespace
}  // namespace velotag
