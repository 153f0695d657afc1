// The grid's CSV files: ";" separated, UTF-16 little-endian (with or without
// its mark) or ISO-8859-1, CR LF after every line, each data line ending in
// the row's Flags.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "grid/mylistview.h"
#include "support/largefile.h"
#include "support/numtext.h"
#include "support/textenc.h"

namespace velotag {

namespace {

constexpr std::size_t kFlushChars = 4096;
constexpr std::int64_t kMinReadSize = 128;
constexpr std::int64_t kMaxReadSize = 1048576;

// The text buffer of a save: holds the encoded bytes of at most a little more
// than kFlushChars characters (a whole row more), so a list of any size is
// written with a bounded buffer.
class CsvWriter {
 public:
  CsvWriter(int handle, bool unicode) : handle_(handle), unicode_(unicode) {
    bytes_.reserve(2 * kFlushChars + 1024);
  }

  void Text(std::string_view text) {
    if (grid_detail::IsAscii(text)) {
      if (unicode_) {
        std::size_t at = bytes_.size();
        bytes_.resize(at + 2 * text.size());
        char* out = bytes_.data() + at;
        for (std::size_t i = 0; i < text.size(); ++i) {
          out[2 * i] = text[i];
          out[2 * i + 1] = 0;
        }
      } else {
        bytes_.append(text);
      }
      chars_ += text.size();
      return;
    }
    if (unicode_) {
      for (char16_t u : Utf8ToUtf16(text)) {
        bytes_.push_back(static_cast<char>(u & 0xFF));
        bytes_.push_back(static_cast<char>(u >> 8));
        ++chars_;
      }
    } else {
      Bytes ansi = StringToAnsi(text);
      bytes_.append(ansi.begin(), ansi.end());
      chars_ += ansi.size();
    }
  }

  void Mark() {
    bytes_.append("\xFF\xFE", 2);
    ++chars_;
  }

  // The text in quotes, every quote inside doubled.
  void Quoted(std::string_view text) {
    Text("\"");
    std::size_t from = 0;
    for (std::size_t q = text.find('"'); q != std::string_view::npos; q = text.find('"', from)) {
      Text(text.substr(from, q + 1 - from));
      Text("\"");
      from = q + 1;
    }
    Text(text.substr(from));
    Text("\"");
  }

  void Cell(std::string_view text) {
    if (text.find('"') != std::string_view::npos) {
      Quoted(text);
    } else if (text.find(';') != std::string_view::npos) {
      Text("\"");
      Text(text);
      Text("\"");
    } else {
      Text(text);
    }
  }

  // After each line: the buffer goes out once it holds kFlushChars.
  void EndLine() {
    Text("\r\n");
    if (chars_ >= kFlushChars) Flush();
  }

  bool Flush() {
    if (!bytes_.empty() && LargeFileWrite(handle_, bytes_.data(), bytes_.size()) != bytes_.size())
      failed_ = true;
    bytes_.clear();
    chars_ = 0;
    return !failed_;
  }

  bool failed() const { return failed_; }

 private:
  int handle_;
  bool unicode_;
  bool failed_ = false;
  std::string bytes_;
  std::size_t chars_ = 0;
};

void AppendUnitsAsUtf8(std::string& out, std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
               units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00u));
    } else {
      AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
    }
  }
}

}  // namespace

std::int32_t SplitCsvFields(std::string_view line, std::string_view separator,
                            std::vector<std::string>& fields) {
  std::size_t count = 0;
  auto add = [&](std::string_view text) {
    if (count == fields.size()) fields.emplace_back();
    fields[count++].assign(text);
  };
  auto skipBlanks = [&](std::size_t pos) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    return pos;
  };
  std::size_t pos = 0;
  const std::size_t n = separator.empty() ? 0 : line.size();
  while (pos < n) {
    if (line[pos] != '"') {
      std::size_t sep = line.find(separator, pos);
      if (sep == std::string_view::npos) {
        add(line.substr(pos));
        break;
      }
      add(line.substr(pos, sep - pos));
      pos = skipBlanks(sep + separator.size());
      continue;
    }
    std::size_t close = line.find('"', pos + 1);
    if (close == std::string_view::npos) {
      // An opening quote that is never closed keeps the rest of the line.
      add(line.substr(pos));
      break;
    }
    while (close != std::string_view::npos && close + 1 < n && line[close + 1] == '"')
      close = line.find('"', close + 2);
    if (close == std::string_view::npos) close = n;  // only doubled quotes: the rest
    std::string_view inner = line.substr(pos + 1, close - pos - 1);
    if (!inner.empty() && inner.back() == '"') inner.remove_suffix(1);
    std::string field;
    field.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
      field.push_back(inner[i]);
      if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
    }
    add(field);
    pos = close + 1;
    if (pos >= n) break;
    std::size_t sep = line.find(separator, pos);
    if (sep != std::string_view::npos) pos = skipBlanks(sep + separator.size());
    // Without a separator the rest after the closing quote is the next field.
  }
  fields.resize(count);
  return static_cast<std::int32_t>(count);
}

bool MyListview::SaveCSV(const std::string& fileName, bool unicode, bool bom) const {
  FileHandle file(LargeFileOpen(fileName, false, true, true, false, kCreateAlways));
  if (!file.valid()) return false;
  bool ok = false;
  try {
    CsvWriter out(file.get(), unicode);
    if (unicode && bom) out.Mark();
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      if (c) out.Text(";");
      out.Quoted(columns_[c].headerText);
    }
    out.EndLine();
    std::string flags;
    rows_.ForEach([&](const Row* row) {
      if (out.failed()) return;
      for (std::size_t c = 0; c < columns_.size(); ++c) {
        out.Cell(row->CellOrEmpty(c));
        out.Text(";");
      }
      out.Text(std::to_string(row->flags));
      out.EndLine();
    });
    ok = out.Flush();
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) {
    // A file cut short would pass for the whole list. Only a regular file is
    // removed: a device or pipe named here is not ours to delete.
    struct stat st {};
    bool regular = ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode);
    file.reset();
    if (regular) FileDelete(fileName);
  }
  return ok;
}

bool MyListview::LoadCSV(const std::string& fileName, std::int32_t bufferSize, bool unicode) {
  std::int64_t readSize = bufferSize;
  readSize += readSize & 1;
  readSize = std::clamp(readSize, kMinReadSize, kMaxReadSize);

  FileHandle file(LargeFileOpen(fileName, true, false, true, true, kOpenExisting));
  if (!file.valid()) return false;
  Offset64 size = LargeFileSize(file.get());
  if (size <= 0) return false;
  Clear(false);

  std::int64_t total = 0;
  try {
    std::u16string pending;
    std::string line;
    std::vector<std::string> fields;
    std::vector<std::string_view> cells;
    bool haveHeader = false;

    auto handleLine = [&](std::u16string_view units) {
      if (units.empty()) return;
      line.clear();
      AppendUnitsAsUtf8(line, units);
      std::size_t count = static_cast<std::size_t>(SplitCsvFields(line, ";", fields));
      if (!haveHeader) {
        haveHeader = true;
        std::size_t columns = std::min<std::size_t>(count, kMaxColumnCount);
        ResizeColumns(columns);
        for (std::size_t c = 0; c < columns; ++c) {
          ColumnInfo& info = columns_[c];
          info.width = -1;
          info.maxTextWidth = 0;
          std::string& h = fields[c];
          std::replace_if(h.begin(), h.end(), [](char ch) { return ch == '\r' || ch == '\n'; },
                          ' ');
          info.headerText = std::move(h);
        }
        return;
      }
      if (count == 0) return;
      std::size_t columns = columns_.size();
      cells.assign(fields.begin(),
                   fields.begin() + static_cast<std::ptrdiff_t>(std::min(count, columns)));
      std::int32_t flags = count > columns ? LeadingInteger(fields[columns]) : 0;
      AppendRow(cells, flags);
    };

    int carry = -1;  // a byte of a unit that the previous read cut in two
    bool bigEndian = false;
    auto addBytes = [&](const std::uint8_t* p, std::size_t n) {
      if (!unicode) {
        pending.append(p, p + n);
        return;
      }
      std::size_t i = 0;
      auto unit = [&](std::uint8_t a, std::uint8_t b) {
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
      };
      if (carry >= 0 && n > 0) {
        pending.push_back(unit(static_cast<std::uint8_t>(carry), p[0]));
        carry = -1;
        i = 1;
      }
      std::size_t at = pending.size();
      pending.resize(at + (n - i) / 2);
      for (char16_t* out = pending.data() + at; i + 1 < n; i += 2) *out++ = unit(p[i], p[i + 1]);
      if (i < n) carry = p[i];
    };

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(readSize));
    if (unicode) {
      std::uint8_t mark[2];
      std::size_t got = LargeFileRead(file.get(), mark, 2);
      total += static_cast<std::int64_t>(got);
      if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
        // little-endian with its mark
      } else if (got == 2 && mark[0] == 0xFE && mark[1] == 0xFF) {
        bigEndian = true;
      } else {
        addBytes(mark, got);
      }
    }
    std::size_t scanned = 0;  // pending before this is known to hold no CR LF
    for (;;) {
      std::size_t got = LargeFileRead(file.get(), buffer.data(), buffer.size());
      if (got == 0) break;
      total += static_cast<std::int64_t>(got);
      addBytes(buffer.data(), got);
      std::u16string_view text(pending);
      std::size_t start = 0;
      for (std::size_t end = text.find(u"\r\n", scanned); end != std::u16string_view::npos;
           end = text.find(u"\r\n", start)) {
        handleLine(text.substr(start, end - start));
        start = end + 2;
      }
      pending.erase(0, start);
      scanned = pending.empty() ? 0 : pending.size() - 1;
    }
    handleLine(pending);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return total == size;
}

}  // namespace velotag
