// Real files from other tag projects (tests/data/peers, described by
// INDEX.tsv): each is opened, read and rewritten on a copy; the 16 fields
// agree with mutagen's reading wherever mutagen reads the tag, and a
// rewrite by us loses nothing that mutagen saw.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "id3v2_builder.h"
#include "mutagen_oracle.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"
#include "testutil.h"

namespace velotag {
namespace {

using namespace test;

constexpr const char* kFieldNames[kID3v2FieldCount] = {
    "album",     "artist",    "band",       "bpm",       "comment", "composer",
    "genre",     "copyright", "partofset",  "encodedby", "origartist", "publisher",
    "title",     "track",     "url",        "year"};

// Where we and mutagen read a file differently on purpose.
struct Difference {
  const char* file;
  const char* field;  // "*" = the whole tag; "mutagen" = mutagen cannot load it at all
  const char* why;
};
constexpr const char* kNonAsciiLanguage =
    "mutagen drops comment frames whose language bytes are not ASCII (\"en\\xCC\"); we keep "
    "them: a comment needs only its four leading bytes";
constexpr const char* kExtendedHeaderTagOnly =
    "mutagen reads the extended header's length a second time past the tag, so it cannot load "
    "a file that is only a tag with an extended header, before or after our rewrite";
const Difference kDifferences[] = {
    {"ozzy.tag", "comment", kNonAsciiLanguage},
    {"thatspot.mp3", "comment", kNonAsciiLanguage},
    {"thatspot.tag", "comment", kNonAsciiLanguage},
    {"id3v24_extended_header.id3", "mutagen", kExtendedHeaderTagOnly},
    {"github-issue-91.id3", "mutagen", kExtendedHeaderTagOnly},
};

const Difference* Known(const std::string& file, const std::string& field) {
  for (const Difference& d : kDifferences)
    if (file == d.file && (field == d.field || std::string(d.field) == "*")) return &d;
  return nullptr;
}

struct PeerFile {
  std::string project, file;
};

std::vector<PeerFile> ReadIndex() {
  std::ifstream in(DataPath("peers/INDEX.tsv"));
  std::vector<PeerFile> out;
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    PeerFile p;
    std::getline(cells, p.project, '\t');
    std::getline(cells, p.file, '\t');
    if (!p.file.empty()) out.push_back(p);
  }
  return out;
}

std::vector<std::string> Fields(const ID3v2Tag& tag) {
  std::vector<std::string> out;
  for (int i = 0; i < kID3v2FieldCount; ++i) out.push_back(GetID3v2Field(tag, i));
  return out;
}

// Frames of mutagen's reading, minus the ones our edits touch.
std::vector<std::string> FramesBut(const Json& tag, const std::set<std::string>& skip) {
  std::vector<std::string> out;
  for (const Json& f : tag["frames"].array)
    if (!skip.count(f["id"].string)) out.push_back(Dump(f));
  return out;
}

TEST(ID3v2Peers, EveryFileOpensReadsAndRewritesLikeMutagenReadsIt) {
  const std::vector<PeerFile> peers = ReadIndex();
  ASSERT_GE(peers.size(), 80u);
  TempDir dir;
  std::vector<std::string> copies;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    // The tag code touches only ".mp3" names.
    copies.push_back(dir.file(std::to_string(i) + ".mp3"));
    WriteFileBytes(copies.back(), ReadFileBytes(DataPath("peers/" + peers[i].project + "/" +
                                                         peers[i].file)));
  }
  const Json mutagenFields = RunMutagen("fields", copies);
  const Json mutagenBefore = RunMutagen("read", copies);

  std::size_t compared = 0;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    const std::string& name = peers[i].file;
    SCOPED_TRACE(peers[i].project + "/" + name);
    const std::string& f = copies[i];
    ID3v2Tag tag;
    const int result = OpenID3v2(f, tag, 4);
    ASSERT_NE(result, kTagFailed);
    const bool whole = ReadID3v2Frames(tag);
    const std::vector<std::string> ours = Fields(tag);

    const Json& theirs = mutagenFields[f];
    if (theirs.has("fields") && !Known(name, "*")) {
      EXPECT_EQ(result, kTagDone) << "mutagen reads a tag here";
      EXPECT_TRUE(whole);
      ++compared;
      for (int k = 0; k < kID3v2FieldCount; ++k) {
        const std::string& expected = theirs["fields"][kFieldNames[k]].string;
        if (Known(name, kFieldNames[k])) continue;
        EXPECT_EQ(ours[k], expected) << kFieldNames[k];
      }
    }

    // In place when it fits, then grown through the temporary file: the
    // other fields stay as they were.
    for (std::size_t grow : {0u, 5000u}) {
      ID3v2Tag edit;
      OpenID3v2(f, edit, 4);
      ReadID3v2Frames(edit);
      ASSERT_TRUE(SetID3v2Text(edit, "TIT3", std::string(grow, 's') + "sub", 3, false));
      ASSERT_TRUE(SetID3v2Text(edit, "TIT2", "velotag", 3, false));
      ASSERT_TRUE(WriteID3v2(edit)) << grow;
      ID3v2Tag back;
      ASSERT_EQ(OpenAndRead(f, back), kTagDone);
      std::vector<std::string> now = Fields(back);
      EXPECT_EQ(now[kFieldTitle], "velotag");
      now[kFieldTitle] = ours[kFieldTitle];
      EXPECT_EQ(now, ours) << "grow " << grow;
    }
  }
  EXPECT_GE(compared, 55u);

  // Whatever mutagen saw before our rewrites, it still sees (the title and
  // subtitle aside, which we changed).
  const Json mutagenAfter = RunMutagen("read", copies);
  const std::set<std::string> changed = {"TIT2", "TIT3", "TT2", "TT3"};
  for (std::size_t i = 0; i < peers.size(); ++i) {
    SCOPED_TRACE(peers[i].project + "/" + peers[i].file);
    const Json& before = mutagenBefore[copies[i]];
    const Json& after = mutagenAfter[copies[i]];
    if (!Known(peers[i].file, "mutagen")) {
      EXPECT_FALSE(after.has("error")) << after["error"].string;
    }
    if (before.has("error") || Known(peers[i].file, "*")) continue;
    EXPECT_EQ(FramesBut(after, changed), FramesBut(before, changed));
  }
}

}  // namespace
}  // namespace velotag
