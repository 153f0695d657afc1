// The grid's CSV files: ";" separated, UTF-16 little-endian (with or without
// its mark) or ISO-8859-1, CR LF after every line, each data line ending in
// the row's Flags.

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "grid/mylistview.h"
#include "support/largefile.h"
#include "support/safewrite.h"
#include "support/numtext.h"
#include "support/textenc.h"
#include "support/utf8.h"

namespace velotag {

namespace {

constexpr std::size_t kFlushChars = 4096;
constexpr std::int64_t kMinReadSize = 128;
constexpr std::int64_t kMaxReadSize = 1048576;

// The save buffer: the encoded bytes of at most a little more than
// kFlushChars characters (one row more), so a list of any size is written
// with a bounded buffer.
//
// Texts are encoded straight into the buffer. Most cells are short, so the
// ASCII runs are copied in blocks of 16 bytes that may read past the end of a
// cell (never past `readable`, the end of the row's own text) and write past
// the end of its encoding (into kSlack, overwritten by what follows).
class CsvWriter {
 public:
  CsvWriter(const CsvSink& sink, bool unicode)
      : sink_(sink), unitBytes_(unicode ? 2 : 1), capacity_(4 * kFlushChars + 1024),
        buffer_(new char[capacity_]) {}

  // The byte order mark of UTF-16 little-endian.
  void Mark() {
    char* out = Room(1);
    out[0] = '\xFF';
    out[1] = '\xFE';
    used_ += 2;
  }

  void Header(const std::vector<std::string>& texts) {
    for (std::size_t c = 0; c < texts.size(); ++c) {
      char* out = Room(2 * texts[c].size() + 4);
      if (c) out = Char(';', out);
      Commit(Quoted(texts[c], out));
    }
    Commit(Char('\n', Char('\r', Room(2))));
    FlushIfFull();
  }

  void DataRow(const grid_detail::Row* row, std::size_t columns) {
    const char* text = row->Text();
    std::size_t total = row->Ends()[row->cells - 1];
    const char* end = text + total;
    // One look at the whole row spares most cells their own.
    bool plain = !std::memchr(text, ';', total) && !std::memchr(text, '"', total);
    bool ascii = (row->state & grid_detail::kStateAscii) != 0;
    // Doubled quotes, two more quotes and a separator per cell, the Flags, CR LF.
    char* out = Room(2 * total + 3 * columns + 16);
    for (std::size_t c = 0; c < columns; ++c) {
      std::string_view cell = row->CellOrEmpty(c);
      std::size_t readable = cell.empty() ? 0 : static_cast<std::size_t>(end - cell.data());
      if (!plain) {
        out = Cell(cell, out);
      } else if (ascii) {
        out = Ascii(cell.data(), cell.size(), readable, out);
      } else {
        out = Text(cell, readable, out);
      }
      out = Char(';', out);
    }
    char number[16];
    auto done = std::to_chars(number, number + sizeof number, row->flags);
    std::size_t n = static_cast<std::size_t>(done.ptr - number);
    out = Ascii(number, n, n, out);
    Commit(Char('\n', Char('\r', out)));
    FlushIfFull();
  }

  bool Flush() {
    if (used_ > 0 && !sink_(std::string_view(buffer_.get(), used_))) failed_ = true;
    used_ = 0;
    return !failed_;
  }

  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kSlack = 64;

  // Room for n more characters' worth of UTF-8 bytes (one unit each at most).
  char* Room(std::size_t n) {
    std::size_t need = used_ + n * unitBytes_ + kSlack;
    if (need > capacity_) {
      std::size_t grown = std::max(need, 2 * capacity_);
      std::unique_ptr<char[]> bigger(new char[grown]);
      std::memcpy(bigger.get(), buffer_.get(), used_);
      buffer_ = std::move(bigger);
      capacity_ = grown;
    }
    return buffer_.get() + used_;
  }
  void Commit(char* out) { used_ = static_cast<std::size_t>(out - buffer_.get()); }
  void FlushIfFull() {
    if (used_ >= kFlushChars * unitBytes_) Flush();
  }

  char* Char(char c, char* out) {
    *out++ = c;
    if (unitBytes_ == 2) *out++ = 0;
    return out;
  }

  char* Unit(std::uint32_t u, char* out) {
    out[0] = static_cast<char>(u & 0xFF);
    out[1] = static_cast<char>(u >> 8);
    return out + 2;
  }

  char* CodePoint(std::uint32_t cp, char* out) {
    if (unitBytes_ == 1) {
      *out++ = static_cast<char>(cp <= 0xFF ? cp : '?');
      return out;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out = Unit(0xD800 + (cp >> 10), out);
      return Unit(0xDC00 + (cp & 0x3FF), out);
    }
    return Unit(cp, out);
  }

  // n bytes below 0x80; `readable` bytes may be read from p.
  char* Ascii(const char* p, std::size_t n, std::size_t readable, char* out) {
    if (unitBytes_ == 1) {
      if (n) std::memcpy(out, p, n);
      return out + n;
    }
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i < n && readable - i >= 16; i += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(v, zero));
    }
#else
    (void)readable;
#endif
    for (; i < n; ++i) {
      out[2 * i] = p[i];
      out[2 * i + 1] = 0;
    }
    return out + 2 * n;
  }

  // Any UTF-8 text; a malformed rest goes through the lenient decoding.
  char* Text(std::string_view text, std::size_t readable, char* out) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
#if defined(__SSE2__)
      if (readable - i >= 16) {
        // Copy a whole block, then keep what precedes its first non-ASCII byte.
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
        std::size_t valid = std::min<std::size_t>(16, n - i);
        if (valid < 16) mask &= (1u << valid) - 1;
        std::size_t k = mask ? static_cast<std::size_t>(__builtin_ctz(mask)) : valid;
        if (unitBytes_ == 2) {
          const __m128i zero = _mm_setzero_si128();
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(v, zero));
        } else {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
        }
        out += k * unitBytes_;
        i += k;
        if (k == valid) continue;
      } else
#endif
      {
        while (i < n && static_cast<unsigned char>(p[i]) < 0x80) out = Char(p[i++], out);
        if (i == n) break;
      }
      std::size_t length;
      std::uint32_t cp = DecodeUtf8(reinterpret_cast<const unsigned char*>(p + i), n - i, length);
      if (length == 0) return Lenient(text.substr(i), out);
      out = CodePoint(cp, out);
      i += length;
    }
    return out;
  }

  char* Lenient(std::string_view rest, char* out) {
    std::u16string units = Utf8ToUtf16(rest);
    if (unitBytes_ == 2) {
      for (char16_t u : units) out = Unit(u, out);
      return out;
    }
    Bytes ansi = StringToAnsi(Utf16ToUtf8(units));
    if (!ansi.empty()) std::memcpy(out, ansi.data(), ansi.size());
    return out + ansi.size();
  }

  // A cell written bare, in quotes, or in quotes with its quotes doubled.
  char* Cell(std::string_view text, char* out) {
    if (text.find('"') != std::string_view::npos) return Quoted(text, out);
    if (text.find(';') != std::string_view::npos) {
      out = Char('"', out);
      return Char('"', Text(text, text.size(), out));
    }
    return Text(text, text.size(), out);
  }

  char* Quoted(std::string_view text, char* out) {
    out = Char('"', out);
    std::size_t from = 0;
    for (std::size_t q = text.find('"'); q != std::string_view::npos; q = text.find('"', from)) {
      std::string_view piece = text.substr(from, q + 1 - from);
      out = Char('"', Text(piece, piece.size(), out));
      from = q + 1;
    }
    std::string_view rest = text.substr(from);
    return Char('"', Text(rest, rest.size(), out));
  }

  const CsvSink& sink_;
  std::size_t unitBytes_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
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
  // A list saved over an older export replaces it only once complete: a
  // failed save leaves the old file, and never one cut short that would
  // pass for the whole list.
  SafeWrite file = SafeWrite::Replace(fileName);
  if (!file.valid()) return false;
  const int fd = file.fd();
  return WriteCSV([fd](std::string_view piece) {
           return LargeFileWrite(fd, piece.data(), piece.size()) == piece.size();
         }, unicode, bom) &&
         file.Commit().ok;
}

bool MyListview::WriteCSV(const CsvSink& sink, bool unicode, bool bom) const {
  bool ok = false;
  try {
    CsvWriter out(sink, unicode);
    if (unicode && bom) out.Mark();
    std::vector<std::string> headers;
    for (const ColumnInfo& c : columns_) headers.push_back(c.headerText);
    out.Header(headers);
    rows_.ForEach([&](const Row* row) {
      if (!out.failed()) out.DataRow(row, columns_.size());
    });
    ok = out.Flush();
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  return ok;
}

bool MyListview::LoadCSV(const std::string& fileName, std::int32_t bufferSize, bool unicode) {
  std::int64_t readSize = bufferSize;
  readSize += readSize & 1;
  readSize = std::clamp(readSize, kMinReadSize, kMaxReadSize);

  Offset64 size = -1;
  FileHandle file = OpenRead(fileName, &size);
  if (!file.valid()) return false;
  if (size <= 0) return false;
  Clear(false);

  std::int64_t total = 0;
  bool lost = false;
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
      if (count == 0) return;
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
      std::size_t columns = columns_.size();
      cells.assign(fields.begin(),
                   fields.begin() + static_cast<std::ptrdiff_t>(std::min(count, columns)));
      std::int32_t flags = count > columns ? LeadingInteger(fields[columns]) : 0;
      // A row the store could not take is a list that was not loaded whole.
      if (!AppendRow(cells, flags)) lost = true;
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
  return total == size && !lost;
}

}  // namespace velotag
