// The media browser's commands (CmdInput): filling and emptying the list,
// selection, search, loading one file into the panel, pictures, rename,
// auto tag, CSV and the local database.
#include <ctime>

#include "library/form1.h"
#include "library/renamer.h"
#include "online/localdb.h"
#include "support/numtext.h"
#include "support/paths.h"
#include "support/textenc.h"
#include "tags/genres.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

namespace velotag {

namespace {

std::string Padded(long long value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*lld", digits, value);
  return buf;
}

// An entry of a folder listing that may become a row: its extension occurs
// in "*.mp3" (so x.mp and y.3 qualify, as they always did), and it is a file
// or a link to one, never a folder.
bool QualifiesAsMedia(const FolderEntry& e) {
  if (e.Attributes & kAttrDirectory) return false;
  if ((e.Attributes & kAttrLink) && GetPathType(e.Name) != kPathFile) return false;
  std::string ext = GetExtension(e.Name);
  if (ext.empty() || ext.size() > 5) return false;
  // Only ASCII letters can fold into "*.mp3".
  for (char& c : ext) {
    if (static_cast<unsigned char>(c) >= 0x80) return CaseFold("*.mp3").find(CaseFold(ext)) != std::string::npos;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return std::string_view("*.mp3").find(ext) != std::string_view::npos;
}

}  // namespace

int ListFilesRecursive(const std::string& folder, std::vector<FolderEntry>& entries,
                       const std::function<void()>& pump) {
  entries.clear();
  if (GetPathType(folder) < kPathFolder) return 0;
  std::vector<std::string> level = {WithTrailingSlash(folder)};
  while (true) {
    if (pump) pump();
    std::vector<std::string> next;
    bool listed = false;
    for (std::string& dir : level) {
      if (dir.empty() || GetPathType(dir) < kPathFolder) continue;
      std::vector<FolderEntry> items;
      ListFolderNames(dir, items);
      listed = true;
      for (FolderEntry& e : items) {
        if ((e.Attributes & kAttrDirectory) && !(e.Attributes & kAttrLink)) {
          next.push_back(e.Name);
        } else if (!(e.Attributes & kAttrDirectory) &&
                   (!(e.Attributes & kAttrLink) || GetPathType(e.Name) == kPathFile)) {
          entries.push_back(std::move(e));
        }
      }
      dir.clear();
    }
    if (!listed) break;
    level = std::move(next);
  }
  return static_cast<int>(entries.size());
}

// ---- the command frame ----

void Form1::CmdInput_Click(int index) {
  switch (index) {
    case kCmdLoadID3: LoadID3Data(); break;
    case kCmdSavePicturesAll: SavePictures(true); break;
    case kCmdSavePicturesSel: SavePictures(false); break;
    case kCmdRename: RenameFiles(); break;
    case kCmdAutoTag: AutoTag(); break;
    default: InFrame([this, index] { RunBrowserCommand(index); }); break;
  }
}

void Form1::InFrame(const std::function<void()>& work) {
  if (busyCount_ != 0) return Refuse("Still working...");
  busyCount_ = 1;
  work();
  SetGridToolTip();
  LowerBusy();
  SetFrame1(kFrame1Idle);
}

void Form1::RunBrowserCommand(int index) {
  switch (index) {
    case kCmdInvertSelection: InvertSelection(); break;
    case kCmdAddFolder: AddMediaFolder(); break;
    case kCmdAddFile: AddMediaFile(); break;
    case kCmdDelSelected: DeleteSelectedRows(); break;
    case kCmdDelAll: DeleteAllRows(); break;
    case kCmdReload: ReloadRows(); break;
    case kCmdSearch: Search(); break;
    case kCmdRenamePattern: ui_.ShowRenamer(); break;
    case kCmdSaveCsv: SaveListCsv(); break;
    case kCmdClearLocalDb: ClearLocalDatabase(); break;
    case kCmdDeselectAll: DeselectAll(); break;
    case kCmdTrackSelected: TrackSelected(); break;
    default: break;
  }
}

BatchResult Form1::AddMediaPaths(const std::vector<std::string>& paths, bool recursive,
                                 bool readTags) {
  result_ = {};
  const std::int32_t before = grid_.ItemCount();
  readTags_ = readTags;
  InFrame([&] {
    for (const std::string& path : paths) {
      int type = GetPathType(path);
      if (type >= kPathFolder) {
        options_.LastPath = WithTrailingSlash(path);
        AddFolderRows(path, recursive);
      } else if (type == kPathFile) {
        options_.LastPath = GetFolderPart(path);
        AddFileRow(path);
      }
    }
  });
  readTags_ = true;
  result_.done = grid_.ItemCount() - before;
  return TakeResult();
}

// ---- filling and emptying the list ----

std::vector<std::string> Form1::BuildRow(const std::string& path, Offset64 size) {
  std::vector<std::string> row(kMediaColumnCount);
  row[kColFileName] = GetFileNamePart(path);
  // A folder listing leaves the size to the open that reads the tags. Rows
  // without tag columns are never shown (the command-line file commands),
  // and a changed file's row gets its size from the write.
  if (readTags_) {
    const Offset64 seen = FillTagColumns(row, path);
    if (size < 0) size = seen >= 0 ? seen : GetLargeFileSize(path);
  } else {
    row[kColPath] = path;
  }
  if (size >= 0 || readTags_) row[kColSize] = FormatFileSize(size);
  return row;
}

Offset64 Form1::FillTagColumns(std::vector<std::string>& row, const std::string& path) {
  // Both tags through one open of the file.
  ID3v2Tag tag;
  int r = OpenID3v2(path, tag, 4);
  ID3v1Tag v1;
  if (ReadID3v1FromHandle(path, tag.FileHandle.get(), v1, tag.FileSize) == kTagDone) {
    row[kColID3v1] = "1";
    if (optID3ver_ == 0) {
      for (const PanelFieldInfo& f : kPanelFields)
        if (f.v1Text) row[static_cast<std::size_t>(f.column)] = v1.*f.v1Text;
      row[kColTrack] = v1.Track ? Padded(v1.Track, 3) : "";
      row[kColYear] = v1.Year ? Padded(v1.Year, 4) : "";
      row[kColGenre] = GenreName(v1.Genre);
    }
  } else {
    row[kColID3v1] = "0";
  }
  if (r == kTagDone) {
    row[kColID3v2] = std::to_string(tag.Version);
    if (optID3ver_ == 1) {
      ReadID3v2Frames(tag);
      for (const PanelFieldInfo& f : kPanelFields)
        if (f.column >= 0) row[static_cast<std::size_t>(f.column)] = GetID3v2Field(tag, f.id3v2Field);
      if (HasID3v2Picture(tag)) row[kColID3v2] = "p" + row[kColID3v2];
    }
  } else if (r == kTagNone || r == kTagBadHeader) {
    row[kColID3v2] = "0";
  } else {
    row[kColID3v2] = "?";
    LogFileOpenError(path);
  }
  CloseID3v2(tag);
  row[kColPath] = path;
  return tag.FileSize;
}

void Form1::AddMediaFolder() {
  const std::string& caption = inputCaptions_[kCmdAddFolder];
  std::string folder = ui_.ChooseFolder(caption, options_.LastPath);
  if (folder.empty() || GetPathType(folder) < kPathFolder) return;
  options_.LastPath = WithTrailingSlash(folder);
  bool recursive = ui_.AskYesNo("Search in subfolders?", caption);
  AddFolderRows(folder, recursive);
}

std::vector<FolderEntry> CollectMediaFiles(const std::string& folder, bool recursive,
                                           const std::function<void()>& pump) {
  std::vector<FolderEntry> entries;
  if (recursive) ListFilesRecursive(folder, entries, pump);
  else ListFolderNames(folder, entries);
  std::vector<FolderEntry> media;
  for (FolderEntry& e : entries)
    if (QualifiesAsMedia(e)) media.push_back(std::move(e));
  return media;
}

// Long row loops show their progress and pump after every file, so that a
// big folder keeps the window alive and Stop can end it; the text of the
// progress caption changes at most once per tenth of a percent.
bool Form1::RowLoopStep(std::size_t done, std::size_t total, std::string& lastCaption) {
  double percent = done * 100.0 / static_cast<double>(total);
  std::string caption = WorkingCaption(percent);
  if (caption != lastCaption) {
    lastCaption = caption;
    SetFrame1(caption, percent);
  }
  PumpMessages();
  return !Killed();
}

void Form1::AddFolderRows(const std::string& folder, bool recursive) {
  std::vector<FolderEntry> files = CollectMediaFiles(folder, recursive, [this] { PumpMessages(); });
  if (files.empty()) return;
  std::string caption;
  for (std::size_t i = 0; i < files.size(); ++i) {
    ui_.WorkingOn(files[i].Name, i, files.size());
    grid_.InsertItem(BuildRow(files[i].Name, files[i].Size), -1, false);
    if (!RowLoopStep(i + 1, files.size(), caption)) break;
  }
  RefreshChangedList();
}

void Form1::AddMediaFile() {
  std::string path =
      ui_.ChooseFile(inputCaptions_[kCmdAddFile], options_.LastPath, "MP3|*.mp3");
  if (path.empty()) return;
  options_.LastPath = GetFolderPart(path);
  AddFileRow(path);
}

void Form1::AddFileRow(const std::string& path) {
  grid_.InsertItem(BuildRow(path, GetLargeFileSize(path)), -1, false);
  RefreshChangedList();
}

void Form1::ReloadRows() {
  std::vector<std::string> row;
  std::string caption;
  const std::size_t total = static_cast<std::size_t>(grid_.ItemCount());
  for (std::int32_t i = grid_.ItemCount() - 1; i >= 0; --i) {
    if (grid_.GetItem(i, row)) {
      row.resize(kMediaColumnCount);
      for (int c = kColTrack; c <= kColComment; ++c) row[static_cast<std::size_t>(c)].clear();
      std::string path = row[kColPath];
      ui_.WorkingOn(path, total - 1 - static_cast<std::size_t>(i), total);
      FillTagColumns(row, path);
      row[kColSize] = FormatFileSize(GetLargeFileSize(path));
      grid_.EditItem(i, row, false);
    }
    if (!RowLoopStep(total - static_cast<std::size_t>(i), total, caption)) break;
  }
  RefreshChangedList();
}

void Form1::DeleteSelectedRows() {
  int removed = 0;
  for (std::int32_t i = grid_.ItemCount() - 1; i >= 0; --i) {
    if (grid_.GetItemSelected(i) && grid_.RemoveItem(i, false)) ++removed;
  }
  listChanged_ = true;
  grid_.Refresh();
  if (removed > 0) AddStatusLine(std::to_string(removed) + " media file(s) deleted");
}

void Form1::DeleteAllRows() {
  if (grid_.ItemCount() > 0)
    AddStatusLine("Delete all media file(s) (" + std::to_string(grid_.ItemCount()) + ")");
  listChanged_ = true;
  grid_.Clear(true);
  RefreshMediaList();
}

// ---- selection and search ----

void Form1::InvertSelection() { grid_.SetAllItemSelectCheckbox(kBulkToggle, kBulkLeave, true); }

void Form1::DeselectAll() { grid_.SetAllItemSelectCheckbox(kBulkClear, kBulkLeave, true); }

void Form1::TrackSelected() {
  std::int32_t top = grid_.VSCROLL_VALUE();
  std::int32_t found = -1;
  for (std::int32_t i = top; i < grid_.ItemCount() && found < 0; ++i)
    if (grid_.GetItemSelected(i)) found = i;
  for (std::int32_t i = 0; i < top && found < 0; ++i)
    if (grid_.GetItemSelected(i)) found = i;
  if (found < 0) {
    AddStatusLine("No selection");
    return;
  }
  grid_.TrackVisible(found, true);
}

void Form1::Search() {
  if (searchText_.empty()) {
    ui_.FocusSearchBox();
    return;
  }
  if (grid_.ItemCount() == 0) {
    AddStatusLine("Please load MP3 to media browser");
    return;
  }
  std::int32_t found = grid_.FindString(grid_.VSCROLL_VALUE(), -1, searchText_, false, kCompareText);
  if (found < 0) found = grid_.FindString(0, -1, searchText_, false, kCompareText);
  if (found < 0) {
    ui_.ShowMessage("Can't find '" + searchText_ + "'", inputCaptions_[kCmdSearch],
                    MessageIcon::Information);
    return;
  }
  grid_.TrackVisible(found, true);
}

// ---- load one file into the panel ----

BatchResult Form1::LoadID3Data() {
  return RunInFrame([&] {
    if (grid_.ItemCount() == 0) return;
    std::int32_t first = grid_.GetFirstSelectedItemID();
    if (first < 0) return Refuse("Please select an MP3");
    grid_.TrackVisible(first, true);
    std::vector<std::string> row;
    grid_.GetItem(first, row);
    row.resize(kMediaColumnCount);
    const std::string& path = row[kColPath];
    if (optID3editVer_ == 0) {
      if (optID3ver_ == 0) {
        for (const PanelFieldInfo& f : kPanelFields)
          if (!f.v2Only) panel_.Input(f.field) = row[static_cast<std::size_t>(f.column)];
      } else {
        // A file without the tag empties the fields.
        ID3v1Tag v1;
        if (ReadID3v1(path, v1) != kTagDone) v1 = {};
        for (const PanelFieldInfo& f : kPanelFields)
          if (f.v1Text) panel_.Input(f.field) = v1.*f.v1Text;
        panel_.Input(PanelField::Track) = v1.Track ? Padded(v1.Track, 3) : "";
        panel_.Input(PanelField::Year) = v1.Year ? Padded(v1.Year, 4) : "";
        panel_.Input(PanelField::Genre) = GenreName(v1.Genre);
      }
      ++result_.done;
      ui_.FieldPanelChanged();
      return;
    }
    ID3v2Tag tag;
    int r = OpenID3v2(path, tag, 4);
    if (r == kTagDone) {
      ReadID3v2Frames(tag);
      for (const PanelFieldInfo& f : kPanelFields)
        if (f.id3v2Field >= 0) panel_.Input(f.field) = GetID3v2Field(tag, f.id3v2Field);
      ++result_.done;
      if (HasID3v2Picture(tag)) AddStatusLine("The file contain picture(s) " + row[kColFileName]);
      panel_.CmbTXXX.clear();
      panel_.CmbTXXXIndex = -1;
      std::vector<ID3v2UserField> texts;
      if (GetID3v2UserTexts(tag, texts, false) > 0) {
        for (const ID3v2UserField& t : texts) panel_.CmbTXXX.push_back(t.Description + "=" + t.Value);
        panel_.CmbTXXXIndex = 0;
      }
      ui_.FieldPanelChanged();
    } else if (r == kTagFailed) {
      LogFileOpenError(path);
    } else {
      CmdID3v1_Click(kCmdClearAllFields);
    }
    CloseID3v2(tag);
  });
}

// ---- pictures ----

BatchResult Form1::SavePictures(bool all) {
  return RunInFrame([&] {
    if (grid_.ItemCount() == 0) return Refuse("Please load MP3 to media browser");
    const std::string& caption = inputCaptions_[all ? kCmdSavePicturesAll : kCmdSavePicturesSel];
    AddStatusLine("WORKING: " + caption);
    AddStatusLine("Please don't close the program while working!");
    SetFrame1Progress((0));
    for (std::int32_t i = 0; i < grid_.ItemCount(); ++i) {
      if (all || grid_.GetItemSelected(i)) {
        std::string path;
        grid_.GetItemCol(i, kColPath, path);
        ui_.WorkingOn(path, static_cast<std::size_t>(i), static_cast<std::size_t>(grid_.ItemCount()));
        ID3v2Tag tag;
        int r = OpenID3v2(path, tag, 4);
        if (r == kTagDone) {
          ReadID3v2Frames(tag);
          std::vector<std::string> written, failed;
          result_.done += ExtractID3v2Pictures(tag, "", written, &failed);
          for (const std::string& w : written) AddStatusLine("Picture: " + w);
          result_.written.insert(result_.written.end(), written.begin(), written.end());
          for (const std::string& f : failed) LogFileWriteError(f);
        } else if (r == kTagFailed) {
          LogFileOpenError(path);
        }
        CloseID3v2(tag);
        PumpMessages();
      }
      SetFrame1Progress(((i + 1) * 100.0 / grid_.ItemCount()));
      if (Killed()) break;
    }
    AddStatusLine("Saved picture(s): " + std::to_string(result_.done));
  });
}

// ---- rename ----

BatchResult Form1::RenameFiles() {
  return RunInFrame([&] {
    const auto& variables = RenameVariables();
    if (IsValidRenamePattern(options_.RenamePattern, variables).empty()) {
      options_.RenamePattern.clear();
      return Refuse("Please create rename pattern");
    }
    if (grid_.ItemCount() == 0) return Refuse("Please load MP3 to media browser");
    const std::string& pattern = options_.RenamePattern;
    if (!ui_.AskYesNo("Are you really want to rename selected MP3-s?\r\nPattern: " + pattern,
                      inputCaptions_[kCmdRename])) {
      result_.refused = true;
      return;
    }
    AddStatusLine("File renaming pattern: " + pattern);
    int& renamed = result_.done;
    std::vector<std::string> row;
    // One selected row.
    auto renameRow = [&](std::int32_t i) {
      grid_.GetItem(i, row);
      row.resize(kMediaColumnCount);
      ui_.WorkingOn(row[kColPath], static_cast<std::size_t>(i),
                    static_cast<std::size_t>(grid_.ItemCount()));
      std::vector<std::string> values = {row[kColTrack], row[kColTitle], row[kColArtist],
                                         row[kColAlbum], row[kColYear],  row[kColGenre]};
      std::string name = ApplyRenamePattern(pattern, variables, values, kMaxRenameLength);
      if (name.empty()) {
        AddStatusLine("File doesn't contain enough ID3 tag: " + row[kColFileName]);
        return result_.failed.push_back(row[kColPath]);
      }
      // Tag texts may hold "/" or start with "..": the name stays a name.
      name = RenamedFileName(name);
      std::string folder = GetFolderPart(row[kColPath]);
      std::string target = folder + name;
      if (GetPathType(target) > kPathMissing) {
        AddStatusLine("File exist: " + name);
        return result_.failed.push_back(row[kColPath]);
      }
      // The move itself never replaces a file that appeared since the check.
      if (FileMove(row[kColPath], target, true)) {
        row[kColFileName] = name;
        row[kColPath] = target;
        grid_.EditItem(i, row, false);
        ++renamed;
      } else {
        AddStatusLine("File rename error: " + row[kColPath]);
        result_.failed.push_back(row[kColPath]);
      }
    };
    for (std::int32_t i = 0; i < grid_.ItemCount(); ++i) {
      if (!grid_.GetItemSelected(i)) continue;
      renameRow(i);
      // Stop is heard between files, whether the file was renamed or not.
      PumpMessages();
      if (Killed()) break;
    }
    AddStatusLine("Renamed file(s): " + std::to_string(renamed));
    if (renamed >= 1) RefreshChangedList();
  });
}

// ---- auto tag ----

BatchResult Form1::AutoTag() {
  return RunInFrame([&] {
    if (grid_.ItemCount() == 0) return Refuse("Please load MP3 to media browser");
    if (grid_.GetFirstSelectedItemID() < 0) return Refuse("No selection");
    AddStatusLine("WORKING: " + inputCaptions_[kCmdAutoTag]);
    AddStatusLine("Please don't close the program while working!");
    if (fingerprint_ && fingerprint_->DriverInstalled() && !fingerprint_->ServiceConfigured())
      AddStatusLine(
          "No fingerprint service configured: only answers already in LocalDB.ini are used "
          "(set one with --fingerprint-server or [servers] fingerprint=host:port)");
    // A cache that cannot be used is said once; the lookups go on without it.
    if (std::string problem = LocalDbProblem(LocalDbFile()); !problem.empty()) AddStatusLine(problem);
    SetFrame1Progress((0));
    int& tagged = result_.done;
    std::vector<std::string> row;
    for (std::int32_t i = 0; i < grid_.ItemCount(); ++i) {
      if (grid_.GetItemSelected(i)) {
        grid_.GetItem(i, row);
        row.resize(kMediaColumnCount);
        ui_.WorkingOn(row[kColPath], static_cast<std::size_t>(i),
                      static_cast<std::size_t>(grid_.ItemCount()));
        std::vector<std::string> lines;
        if (fingerprint_) lines = fingerprint_->GetID3infoByFinger(row[kColPath], LocalDbFile());
        if (lines.empty()) {
          if (!fingerprint_ || !fingerprint_->DriverInstalled()) {
            AddStatusLine("Libofa driver error");
            result_.failed.push_back(row[kColPath]);
            break;
          }
          AddStatusLine(row[kColFileName] + ": " + fingerprint_->LastError());
        } else {
          // The fingerprint service names artist and title; AcoustID the album too.
          std::string artist, title, album;
          bool hasArtist = false, hasTitle = false, hasAlbum = false;
          for (const std::string& line : lines) {
            std::string key, value;
            if (!SplitKeyValue(line, key, value)) continue;
            key = CaseFold(key);
            if (key == "art") {
              artist = value;
              hasArtist = true;
            } else if (key == "ttl") {
              title = value;
              hasTitle = true;
            } else if (key == "alb") {
              album = value;
              hasAlbum = true;
            }
          }
          const std::string& path = row[kColPath];
          if (optID3ver_ == 0) {
            ID3v1Tag v1;
            auto edit = [&](ID3v1Tag& t) {
              if (hasArtist) t.Artist = artist;
              if (hasTitle) t.Title = title;
              if (hasAlbum) t.Album = album;
            };
            bool wanted = hasArtist || hasTitle || hasAlbum;
            bool written = wanted && EditID3v1(path, edit, v1, WriteWait(nullptr)) == kTagDone;
            if (wanted && !written) LogFileWriteError(path);
            if (written) {
              ++tagged;
              row[kColArtist] = Utf8Left(v1.Artist, 30);
              row[kColTitle] = Utf8Left(v1.Title, 30);
              row[kColAlbum] = Utf8Left(v1.Album, 30);
              row[kColSize] = FormatFileSize(GetLargeFileSize(path));
              row[kColID3v1] = "1";
              grid_.EditItem(i, row, false);
              AddStatusLine(row[kColFileName] + ": " + row[kColArtist] + " - " + row[kColTitle]);
            }
          } else {
            ID3v2Tag tag;
            if (OpenID3v2(path, tag, 4, true, WriteWait(nullptr)) == kTagFailed) {
              LogFileOpenError(path);
            } else {
              ReadID3v2Frames(tag);
              if (hasArtist) SetID3v2Text(tag, "TPE1", artist, kID3Utf8, false);
              if (hasTitle) SetID3v2Text(tag, "TIT2", title, kID3Utf8, false);
              if (hasAlbum) SetID3v2Text(tag, "TALB", album, kID3Utf8, false);
              bool wanted = !artist.empty() || !title.empty() || !album.empty();
              bool written = wanted && WriteID3v2(tag);
              if (wanted && !written) LogFileWriteError(path);
              if (written) {
                ++tagged;
                if (!title.empty()) row[kColTitle] = title;
                if (!artist.empty()) row[kColArtist] = artist;
                if (!album.empty()) row[kColAlbum] = album;
                row[kColSize] = FormatFileSize(ID3v2FileSize(tag));
                row[kColID3v2] = std::to_string(tag.Version);
                grid_.EditItem(i, row, false);
                AddStatusLine(row[kColFileName] + ": " + row[kColArtist] + " - " + row[kColTitle]);
              }
            }
            CloseID3v2(tag);
          }
        }
        PumpMessages();
      }
      SetFrame1Progress(((i + 1) * 100.0 / grid_.ItemCount()));
      if (Killed()) break;
    }
    AddStatusLine("Auto tagged file(s): " + std::to_string(tagged));
    if (tagged >= 1) RefreshChangedList();
  });
}

// ---- CSV and the local database ----

std::string Form1::SaveListCsv(const std::string& fileName) {
  std::string target = fileName;
  if (target.empty()) {
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    ::localtime_r(&now, &tm);
    char date[32];
    std::snprintf(date, sizeof date, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    target = GetUniqueFileName(paths_.ProgramFolder + (optID3ver_ == 1 ? "ID3v2_" : "ID3v1_") +
                               date + ".csv");
  }
  if (!grid_.SaveCSV(target, true, false)) {
    AddStatusLine("File write error: " + target);
    return {};
  }
  // People do not look in the program folder: say where the list went.
  AddStatusLine("Saved to CSV: " + target);
  return target;
}

void Form1::ClearLocalDatabase() {
  const std::string& caption = inputCaptions_[kCmdClearLocalDb];
  if (!ui_.AskYesNo("Are you really want to delete local database file?", caption)) return;
  if (FileDelete(LocalDbFile())) AddStatusLine(caption + ": SUCCESSFUL");
}

}  // namespace velotag
