// The field panel's buttons (CmdID3v1): clearing inputs, choosing a picture,
// and the batch operations Change, Copy and Clear over the media list.
#include <algorithm>

#include "library/form1.h"
#include "support/numtext.h"
#include "support/safewrite.h"
#include "support/textenc.h"
#include "tags/genres.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

namespace velotag {

// Rewrites of whole files join `writes`, which flushes them together and
// reports each when it is in place; a row counts only then.
struct Form1::BatchRun {
  SafeWriteBatch writes;
  // A file listed twice (or under two names) is read again only once its
  // earlier write is in place.
  void BeforeOpening(const std::string& path) {
    if (writes.Holds(path)) writes.Commit();
  }
};

namespace {

std::string LastChars(const std::string& s, std::size_t n) {
  return s.size() <= n ? s : s.substr(s.size() - n);
}

// The number a file name starts with, sign dropped; the row's index when
// there is none.
long long AutoTrackNumber(const std::string& fileName, std::int32_t rowIndex) {
  long long t = std::llabs(static_cast<long long>(LeadingInteger(fileName)));
  return t == 0 ? rowIndex : t;
}

// The ID3v1 track byte from a file name: the number modulo 256 first, so
// that "256 c.mp3" falls back to the row like a name without a number.
std::uint8_t AutoTrackByte(const std::string& fileName, std::int32_t rowIndex) {
  long long t = std::llabs(static_cast<long long>(LeadingInteger(fileName))) % 256;
  return static_cast<std::uint8_t>(t == 0 ? rowIndex % 256 : t);
}

}  // namespace

LockWait Form1::WriteWait(BatchRun* run) {
  LockWait wait;
  wait.whileBusy = [this, run] {
    if (run && run->writes.Pending() > 0) run->writes.Commit();
    PumpMessages();
    return busyCount_ != 0;
  };
  return wait;
}

void Form1::CmdID3v1_Click(int index) {
  if ((index >= 0 && index <= 15) || index == kCmdClearAllFields) {
    ClearFieldTool(index);
  } else if (index == kCmdBrowsePicture) {
    ChoosePicture();
  } else if (index >= kCmdChangeAll && index <= kCmdClearTagSel) {
    RunBatch(static_cast<BatchKind>((index - kCmdChangeAll) / 2), index % 2 == 0);
  }
  SetFrame2(kFrame2Idle);
}

// Buttons 0..15 clear the field of their number.
void Form1::ClearFieldTool(int index) {
  if (index == kCmdClearAllFields) {
    for (const PanelFieldInfo& f : kPanelFields)
      if (panel_.Enabled(f.field)) panel_.Input(f.field).clear();
  } else {
    panel_.Input(static_cast<PanelField>(index)).clear();
  }
  ui_.FieldPanelChanged();
}

void Form1::ChoosePicture() {
  panel_.Input(PanelField::Picture) = ui_.ChooseFile(panelCaptions_[kCmdBrowsePicture], options_.LastPath,
                                     "Pictures|*.jpe;*.jpg;*.jpeg;*.bmp;*.png;*.gif");
  ui_.FieldPanelChanged();
}

BatchResult Form1::RunBatch(BatchKind kind, bool allRows) {
  result_ = {};
  const int index = kCmdChangeAll + 2 * static_cast<int>(kind) + (allRows ? 0 : 1);
  const std::string caption = panelCaptions_[static_cast<std::size_t>(index)];
  if (busyCount_ != 0) {
    Refuse("Still working...");
    return TakeResult();
  }
  if (grid_.ItemCount() == 0) {
    Refuse("Please load MP3 to media browser");
    return TakeResult();
  }
  if (kind == BatchKind::Change &&
      std::count(panel_.ChkID3v1.begin(), panel_.ChkID3v1.end(), 1) == 0) {
    Refuse("Please select editable ID3 tag field");
    return TakeResult();
  }
  if (kind == BatchKind::Clear &&
      !ui_.AskYesNo("Do you really want to clear ID3 tag(s)?", caption)) {
    result_.refused = true;
    return TakeResult();
  }
  ++busyCount_;
  AddStatusLine("WORKING: " + caption);
  AddStatusLine("Please don't close the program while working!");

  std::uint8_t typedTrack = 0, typedGenre = kNoGenre;
  if (kind == BatchKind::Change) {
    typedTrack = static_cast<std::uint8_t>(LeadingInteger(panel_.Input(PanelField::Track)) & 0xFF);
    std::string genre = panel_.Input(PanelField::Genre);
    typedGenre = GenreIndex(genre, true);
  }
  BatchRun run;
  std::vector<std::string> row;
  for (std::int32_t i = grid_.ItemCount() - 1; i >= 0; --i) {
    if ((allRows || grid_.GetItemSelected(i)) && grid_.GetItem(i, row)) {
      row.resize(kMediaColumnCount);
      const auto rows = static_cast<std::size_t>(grid_.ItemCount());
      ui_.WorkingOn(row[kColPath], rows - 1 - static_cast<std::size_t>(i), rows);
      switch (kind) {
        case BatchKind::Change: ChangeRow(run, i, row, typedTrack, typedGenre); break;
        case BatchKind::Copy: CopyRow(run, row); break;
        case BatchKind::Clear: ClearRow(run, i, row); break;
      }
    }
    std::int32_t n = grid_.ItemCount();
    SetFrame2Progress((n > 0 ? (n - i) * 100.0 / n : 100.0));
    PumpMessages();
    if (Killed()) break;
  }
  // Rows are not renumbered while the batch runs, so the pending ones are
  // still where they were.
  run.writes.Commit();
  const int done = result_.done;
  switch (kind) {
    case BatchKind::Clear: AddStatusLine("Cleared " + std::to_string(done) + " ID3(s)"); break;
    case BatchKind::Copy: AddStatusLine("Copied " + std::to_string(done) + " ID3(s)"); break;
    case BatchKind::Change: AddStatusLine("Changed " + std::to_string(done) + " MP3(s)"); break;
  }
  if (kind == BatchKind::Copy) {
    LowerBusy();
    if (done > 0) CmdInput_Click(kCmdReload);
  } else {
    if (done > 0) RefreshChangedList();
    LowerBusy();
  }
  return TakeResult();
}

void Form1::ClearRow(BatchRun& run, std::int32_t i, std::vector<std::string>& row) {
  const std::string path = row[kColPath];
  if (optID3editVer_ == 0) {
    if (RemoveAllID3v1(path, WriteWait(&run)) < 1) {
      ID3v1Tag still;
      if (ReadID3v1(path, still) == kTagDone) LogFileWriteError(path);
      return;
    }
    if (optID3ver_ == 0)
      for (int c = kColTrack; c <= kColComment; ++c) row[static_cast<std::size_t>(c)].clear();
    row[kColSize] = FormatFileSize(GetLargeFileSize(path));
    row[kColID3v1] = "0";
    grid_.EditItem(i, row, false);
    ++result_.done;
    return;
  }
  run.BeforeOpening(path);
  ID3v2Tag tag;
  int r = OpenID3v2(path, tag, 4, true, WriteWait(&run));
  if (r == kTagFailed) {
    LogFileOpenError(path);
  } else if (r == kTagDone) {
    if (optID3ver_ == 1)
      for (int c = kColTrack; c <= kColComment; ++c) row[static_cast<std::size_t>(c)].clear();
    row[kColID3v2] = "0";
    RemoveID3v2(tag, run.writes, [this, i, path, row](const ID3v2Written& w) mutable {
      if (!w.Written) return LogFileWriteError(path, w.KeptCopy);
      ++result_.done;
      row[kColSize] = FormatFileSize(w.FileSize);
      grid_.EditItem(i, row, false);
    });
  }
  CloseID3v2(tag);
}

void Form1::CopyRow(BatchRun& run, const std::vector<std::string>& row) {
  const std::string path = row[kColPath];
  if (optID3editVer_ == 0) {
    ID3v1Tag v1;
    if (ReadID3v1(path, v1) != kTagDone) return;
    run.BeforeOpening(path);
    ID3v2Tag tag;
    if (OpenID3v2(path, tag, 4, true, WriteWait(&run)) == kTagFailed) return LogFileOpenError(path);
    ReadID3v2Frames(tag);
    if (v1.Track != 0) SetID3v2Text(tag, "TRCK", std::to_string(v1.Track), kID3Utf8, false);
    SetID3v2Text(tag, "TPE1", v1.Artist, kID3Utf8, false);
    SetID3v2Text(tag, "TIT2", v1.Title, kID3Utf8, false);
    SetID3v2Text(tag, "TALB", v1.Album, kID3Utf8, false);
    if (v1.Year != 0) SetID3v2Text(tag, "TDRC", std::to_string(v1.Year), kID3Utf8, false);
    SetID3v2Text(tag, "TCON", GenreName(v1.Genre), kID3Utf8, false);
    SetID3v2Comment(tag, "hun", "", v1.Comment, kID3Utf8, false);
    WriteID3v2(tag, run.writes, [this, path](const ID3v2Written& w) {
      if (w.Written) ++result_.done;
      else LogFileWriteError(path, w.KeptCopy);
    });
    return;
  }
  ID3v2Tag tag;
  int r = OpenID3v2(path, tag, 4);
  if (r == kTagFailed) return LogFileOpenError(path);
  if (r != kTagDone) return;
  ReadID3v2Frames(tag);
  ID3v1Tag v1;
  v1.Track = static_cast<std::uint8_t>(LeadingInteger(GetID3v2Field(tag, kFieldTrack)) & 0xFF);
  for (const PanelFieldInfo& f : kPanelFields)
    if (f.v1Text) v1.*f.v1Text = GetID3v2Field(tag, f.id3v2Field);
  v1.Year = LeadingInteger(GetID3v2Field(tag, kFieldYear));
  std::string genre = GetID3v2Field(tag, kFieldGenre);
  v1.Genre = GenreIndex(genre, true);
  CloseID3v2(tag);
  if (WriteID3v1(path, v1, WriteWait(&run)) == kTagDone) ++result_.done;
  else LogFileWriteError(path);
}

void Form1::ChangeRow(BatchRun& run, std::int32_t i, std::vector<std::string>& row,
                      std::uint8_t typedTrack, std::uint8_t typedGenre) {
  const std::string path = row[kColPath];
  const FieldPanel& p = panel_;
  if (optID3editVer_ == 0) {
    auto edit = [&](ID3v1Tag& v1) {
      if (p.Checked(PanelField::Track))
        v1.Track = p.ChkID3v1AutoTrack ? AutoTrackByte(row[kColFileName], i) : typedTrack;
      if (p.Checked(PanelField::Year)) v1.Year = LeadingInteger(p.Input(PanelField::Year));
      if (p.Checked(PanelField::Genre)) v1.Genre = typedGenre;
      for (const PanelFieldInfo& f : kPanelFields)
        if (f.v1Text && p.Checked(f.field)) v1.*f.v1Text = p.Input(f.field);
    };
    ID3v1Tag v1;
    if (EditID3v1(path, edit, v1, WriteWait(&run)) != kTagDone) return LogFileWriteError(path);
    if (optID3ver_ == 0) {
      for (const PanelFieldInfo& f : kPanelFields)
        if (f.v1Text) row[static_cast<std::size_t>(f.column)] = Utf8Left(v1.*f.v1Text, f.v1Width);
      row[kColTrack] = v1.Track ? LastChars("00" + std::to_string(v1.Track), 3) : "";
      row[kColYear] = v1.Year ? LastChars("000" + std::to_string(v1.Year), 4) : "";
      row[kColGenre] = GenreName(v1.Genre);
    }
    row[kColSize] = FormatFileSize(GetLargeFileSize(path));
    row[kColID3v1] = "1";
    grid_.EditItem(i, row, false);
    ++result_.done;
    return;
  }

  run.BeforeOpening(path);
  ID3v2Tag tag;
  if (OpenID3v2(path, tag, 4, true, WriteWait(&run)) == kTagFailed) {
    LogFileOpenError(path);
    row[kColID3v2] = "?";
    grid_.EditItem(i, row, false);
    return;
  }
  ReadID3v2Frames(tag);
  std::string trackText;
  for (const PanelFieldInfo& f : kPanelFields) {
    if (!p.Checked(f.field)) continue;
    const std::string& input = p.Input(f.field);
    if (f.field == PanelField::Track) {
      trackText = p.ChkID3v1AutoTrack ? std::to_string(AutoTrackNumber(row[kColFileName], i))
                                      : input;
      SetID3v2Text(tag, f.frame, trackText, kID3Utf8, false);
    } else if (f.field == PanelField::Comment) {
      SetID3v2Comment(tag, "hun", "", input, kID3Utf8, false);
    } else if (f.field == PanelField::Url) {
      SetID3v2UserURL(tag, "", input, kID3Ansi, false);
    } else if (f.field == PanelField::Picture) {
      // An empty path removes the pictures. An image that cannot be
      // loaded (unreadable, empty, too big for a tag) leaves them alone
      // rather than losing them for nothing, and is said.
      std::vector<ID3v2Frame> before = tag.Frames;
      DeleteID3v2Frame(tag, "APIC", false);
      if (!input.empty() && !SetID3v2Picture(tag, "", input, kID3Utf8, false)) {
        tag.Frames = std::move(before);
        LogFileOpenError(input);
      }
    } else {
      SetID3v2Text(tag, f.frame, input, kID3Utf8, false);
    }
  }
  // What the row shows once the file is written: the inputs of this row's
  // moment, as a later edit of a box applies only to the rows to come.
  row[kColID3v2] = std::to_string(tag.Version);
  if (optID3ver_ == 1) {
    for (const PanelFieldInfo& f : kPanelFields)
      if (f.column >= 0 && p.Checked(f.field))
        row[static_cast<std::size_t>(f.column)] = f.field == PanelField::Track ? trackText : p.Input(f.field);
    if (HasID3v2Picture(tag)) row[kColID3v2] = "p" + row[kColID3v2];
  }
  WriteID3v2(tag, run.writes, [this, i, path, row](const ID3v2Written& w) mutable {
    if (!w.Written) return LogFileWriteError(path, w.KeptCopy);
    ++result_.done;
    row[kColSize] = FormatFileSize(w.FileSize);
    grid_.EditItem(i, row, false);
  });
  CloseID3v2(tag);
}

}  // namespace velotag
