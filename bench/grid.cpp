// Benchmark of the grid model against the plainest way to do the same work:
// a std::vector of rows of std::string, std::stable_sort, std::search and a
// bare write of the same bytes. 100,000 rows of the 12 media-list columns.
//
//   build/bench/grid [rows] [repetitions]
//
// Every figure is the best of the repetitions; the ratio is grid / plain.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "grid/mylistview.h"
#include "support/largefile.h"
#include "support/textenc.h"

namespace {

using velotag::MyListview;
using Row = std::vector<std::string>;
using Table = std::vector<Row>;

constexpr int kColumns = 12;
const char* const kHeaders[kColumns] = {"filename", "Track",   "Artist", "Title",
                                        "Album",    "Year",    "Genre",  "Comment",
                                        "path",     "Size",    "ID3v1",  "ID3v2"};

// ---- Test data: a music collection as the media list shows it ----------------

const char* const kWords[] = {
    "Love",   "Night",  "Blue",    "Heart",  "Dream",   "Fire",    "Rain",  "Summer", "Light",
    "Moon",   "River",  "Shadow",  "Dance",  "Girl",    "Road",    "Song",  "Time",   "World",
    "Sweet",  "Wild",   "Cold",    "Golden", "Lonely",  "Electric", "Magic", "Silver", "Black",
    "Ocean",  "Forever", "Tonight", "Angel", "Broken",  "Crazy",   "Paradise", "Thunder",
    "Echo",   "Starlight", "Highway", "Memory", "Velvet", "Desert",  "Winter", "Morning",
    "Caf\xC3\xA9", "Na\xC3\xAFve", "Fl\xC3\xBCgel", "M\xC3\xA4" "dchen", "Coraz\xC3\xB3n",
};
const char* const kNames[] = {
    "John",  "Paul", "Anna",  "Marie", "David", "Sarah", "Tom",   "Emma",  "Lucas", "Nina",
    "Pedro", "Yuki", "Olga",  "Ivan",  "Chris", "Laura", "Sam",   "Mia",   "Leo",   "Zoe",
    "Bj\xC3\xB6rk", "Ren\xC3\xA9", "Jos\xC3\xA9", "Zo\xC3\xAB", "S\xC3\xB8ren",
};
const char* const kSurnames[] = {
    "Smith",  "Miller", "Jones",   "Brown",  "Garcia", "Martin", "Walker", "Young",
    "King",   "Wright", "Lopez",   "Hill",   "Scott",  "Green",  "Adams",  "Baker",
    "Nelson", "Carter", "Mitchell", "Perez", "Roberts", "Turner", "Phillips", "Campbell",
    "M\xC3\xBCller", "Dvo\xC5\x99\xC3\xA1k", "\xE5\xAE\x87\xE5\xA4\x9A\xE7\x94\xB0",
};
const char* const kBands[] = {"The ", "", "", "DJ ", "", "Los ", ""};
const char* const kGenres[] = {"Rock",   "Pop",        "Jazz", "Blues",  "Classical",
                               "Metal",  "Electronic", "Soul", "Reggae", "Country",
                               "Hip-Hop", "Alternative", "Folk", "Dance", "Soundtrack"};
const char* const kComments[] = {"", "", "", "", "Ripped with EAC", "www.example.org",
                                 "Remastered 2009", "Bonus track", "Live at Wembley"};

std::string Words(std::mt19937& rng, int lo, int hi) {
  int n = lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kWords[rng() % std::size(kWords)];
  }
  return s;
}

std::string SizeText(std::int64_t bytes) {
  char buf[32];
  double mb = static_cast<double>(bytes) / 1048576.0;
  std::snprintf(buf, sizeof buf, "%4d,%02d MB", static_cast<int>(mb),
                static_cast<int>((mb - static_cast<int>(mb)) * 100));
  return buf;
}

Table MakeTable(int rows) {
  std::mt19937 rng(2024);
  std::vector<std::string> artists;
  for (int i = 0; i < 2000; ++i) {
    artists.push_back(std::string(kBands[rng() % std::size(kBands)]) +
                      kNames[rng() % std::size(kNames)] + " " +
                      kSurnames[rng() % std::size(kSurnames)]);
  }
  Table table;
  table.reserve(static_cast<std::size_t>(rows));
  std::string artist, album, year;
  int track = 0;
  for (int i = 0; i < rows; ++i) {
    if (track == 0 || rng() % 12 == 0) {  // a new album
      artist = artists[rng() % artists.size()];
      album = Words(rng, 1, 3);
      year = std::to_string(1960 + rng() % 64);
      track = 0;
    }
    ++track;
    std::string title = Words(rng, 1, 5);
    char num[16];
    std::snprintf(num, sizeof num, "%02d", track);
    std::string file = std::string(num) + " - " + title + ".mp3";
    Row r(kColumns);
    r[0] = file;
    r[1] = rng() % 5 ? std::string("0") + num : "";
    r[2] = artist;
    r[3] = title;
    r[4] = album;
    r[5] = year;
    r[6] = kGenres[rng() % std::size(kGenres)];
    r[7] = kComments[rng() % std::size(kComments)];
    r[8] = "/home/user/Music/" + artist + "/" + album + " (" + year + ")/" + file;
    r[9] = SizeText(1500000 + static_cast<std::int64_t>(rng() % 12000000));
    r[10] = rng() % 3 ? "1" : "0";
    r[11] = (rng() % 4 ? "" : "p") + std::to_string(3 + rng() % 2);
    table.push_back(std::move(r));
  }
  // The search target: a title found in the last row only.
  Row& last = table.back();
  last[3] = "Zyzzyva Finale";
  last[0] = "99 - Zyzzyva Finale.mp3";
  return table;
}

// ---- Measuring ----------------------------------------------------------------

double Seconds(const std::function<void()>& body) {
  auto t0 = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Best of reps; setup runs before each repetition and is not counted.
double Best(int reps, const std::function<void()>& setup, const std::function<void()>& body) {
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    setup();
    best = std::min(best, Seconds(body));
  }
  return best;
}

// Best of reps for two bodies run in turns, so that background work of the
// system (page-cache writeback above all) falls on both alike.
std::pair<double, double> BestPair(int reps, const std::function<void()>& setupA,
                                   const std::function<void()>& a,
                                   const std::function<void()>& setupB,
                                   const std::function<void()>& b) {
  double bestA = 1e30;
  double bestB = 1e30;
  for (int i = 0; i < reps; ++i) {
    setupA();
    bestA = std::min(bestA, Seconds(a));
    setupB();
    bestB = std::min(bestB, Seconds(b));
  }
  return {bestA, bestB};
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

volatile std::size_t g_sink;  // keeps results alive

struct Result {
  const char* name;
  double grid;
  double plain;
};

std::vector<Result> g_results;

void Report(const char* name, double grid, double plain) {
  g_results.push_back({name, grid, plain});
  std::printf("%-34s %9.2f ms %9.2f ms %7.2fx\n", name, grid * 1e3, plain * 1e3, grid / plain);
  std::fflush(stdout);
}

void FillGrid(MyListview& grid, const Table& table) {
  grid.Clear(false);
  grid.SetColumnCount(kColumns);
  for (int c = 0; c < kColumns; ++c) grid.SetColumnheaderValue(c, kHeaders[c], false);
  for (const Row& r : table) grid.InsertItem(r, -1, false);
}

// The plain way to find a text in a vector of rows.
long PlainFind(const Table& table, const std::string& needle, bool ignoreCase) {
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  for (std::size_t i = 0; i < table.size(); ++i) {
    for (const std::string& cell : table[i]) {
      auto it = ignoreCase ? std::search(cell.begin(), cell.end(), needle.begin(), needle.end(), same)
                           : std::search(cell.begin(), cell.end(), needle.begin(), needle.end());
      if (it != cell.end()) return static_cast<long>(i);
    }
  }
  return -1;
}

// The plain way to read the CSV back: the whole file, decoded, split at CR LF
// and ";" without any quoting rules.
Table PlainLoad(const std::string& file) {
  velotag::FileHandle h = velotag::OpenRead(file);
  velotag::Offset64 size = velotag::LargeFileSize(h.get());
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  velotag::LargeFileRead(h.get(), bytes.data(), bytes.size());
  std::string text = velotag::DecodeUtf16(bytes.data(), bytes.size(), false);
  Table table;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    Row row;
    std::size_t f = pos;
    for (std::size_t s; (s = text.find(';', f)) < end; f = s + 1) row.emplace_back(text, f, s - f);
    row.emplace_back(text, f, end - f);
    table.push_back(std::move(row));
    pos = end + 2;
  }
  return table;
}

// The same file from the plain vector, written the straightforward way: each
// cell quoted as needed and converted to UTF-16, one write at the end.
void PlainSave(const Table& table, const std::string& file) {
  std::u16string out;
  auto quoted = [&](const std::string& text) {
    out += u'"';
    for (char16_t u : velotag::Utf8ToUtf16(text)) {
      if (u == u'"') out += u'"';
      out += u;
    }
    out += u'"';
  };
  for (int c = 0; c < kColumns; ++c) {
    if (c) out += u';';
    quoted(kHeaders[c]);
  }
  out += u"\r\n";
  for (const Row& row : table) {
    for (const std::string& cell : row) {
      if (cell.find('"') != std::string::npos) {
        quoted(cell);
      } else if (cell.find(';') != std::string::npos) {
        out += u'"';
        out += velotag::Utf8ToUtf16(cell);
        out += u'"';
      } else {
        out += velotag::Utf8ToUtf16(cell);
      }
      out += u';';
    }
    out += u"0\r\n";
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(out.size() * 2);
  for (char16_t u : out) {
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  velotag::FileHandle h = velotag::OpenWrite(file);
  velotag::LargeFileWrite(h.get(), bytes.data(), bytes.size());
}

void BareWrite(const std::string& file, const std::vector<std::uint8_t>& bytes) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    std::perror("write");
    std::exit(1);
  }
  ::close(fd);
}

std::vector<std::uint8_t> ReadAll(const std::string& file) {
  velotag::FileHandle h = velotag::OpenRead(file);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(velotag::LargeFileSize(h.get())));
  velotag::LargeFileRead(h.get(), bytes.data(), bytes.size());
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  int reps = argc > 2 ? std::atoi(argv[2]) : 5;
  if (rows < 2 || reps < 1) {
    std::fprintf(stderr, "usage: %s [rows >= 2] [repetitions >= 1]\n", argv[0]);
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/velotag-bench-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string csv = dir + "/grid.csv";
  const std::string bare = dir + "/bare.csv";

  Table table = MakeTable(rows);
  std::size_t rawBytes = 0;
  for (const Row& r : table)
    for (const std::string& c : r) rawBytes += c.size();
  std::printf("%d rows x %d columns, %.1f bytes of text per row, best of %d\n\n", rows, kColumns,
              static_cast<double>(rawBytes) / rows, reps);
  std::printf("%-34s %12s %12s %8s\n", "operation", "grid", "plain", "ratio");

  // Append.
  {
    std::unique_ptr<MyListview> grid;
    Table plain;
    double g = Best(
        reps,
        [&] {
          grid.reset();
          grid = std::make_unique<MyListview>();
          grid->SetColumnCount(kColumns);
        },
        [&] {
          for (const Row& r : table) grid->InsertItem(r, -1, false);
        });
    double p = Best(
        reps, [&] { Table().swap(plain); },
        [&] {
          for (const Row& r : table) plain.push_back(r);
        });
    Report("append (InsertItem -1)", g, p);
  }

  MyListview grid;
  Table plain = table;
  FillGrid(grid, table);

  // Sequential reads.
  {
    Row cols;
    double g = Best(reps, [] {}, [&] {
      std::size_t n = 0;
      for (int i = 0; i < grid.ItemCount(); ++i) {
        grid.GetItem(i, cols);
        n += cols[8].size();
      }
      g_sink = n;
    });
    double p = Best(reps, [] {}, [&] {
      std::size_t n = 0;
      for (std::size_t i = 0; i < plain.size(); ++i) {
        cols = plain[i];
        n += cols[8].size();
      }
      g_sink = n;
    });
    Report("sequential GetItem", g, p);
  }

  // Sorts, each from the original order.
  auto sortBench = [&](const char* name, int col) {
    double g = Best(reps, [&] { FillGrid(grid, table); },
                    [&] { grid.SortByCol(col, true, false); });
    double p = Best(reps, [&] { plain = table; }, [&] {
      std::stable_sort(plain.begin(), plain.end(),
                       [col](const Row& a, const Row& b) { return a[col] < b[col]; });
    });
    std::string first;
    grid.GetItemCol(0, col, first);
    if (first != plain.front()[static_cast<std::size_t>(col)]) {
      std::fprintf(stderr, "sort results differ\n");
      std::exit(1);
    }
    Report(name, g, p);
  };
  sortBench("SortByCol text (Title)", 3);
  sortBench("SortByCol text (path)", 8);
  sortBench("SortByCol size column", 9);
  FillGrid(grid, table);
  plain = table;

  // Search for a text of the last row, every column.
  {
    long found = 0;
    double g = Best(reps, [] {}, [&] {
      found = grid.FindString(0, -1, "Zyzzyva Fin", false, velotag::kCompareBinary);
    });
    long pf = 0;
    double p = Best(reps, [] {}, [&] { pf = PlainFind(plain, "Zyzzyva Fin", false); });
    if (found != rows - 1 || pf != rows - 1) {
      std::fprintf(stderr, "search results differ: %ld %ld\n", found, pf);
      return 1;
    }
    Report("FindString binary, all columns", g, p);
    g = Best(reps, [] {}, [&] {
      found = grid.FindString(0, -1, "zyzzyva FIN", false, velotag::kCompareText);
    });
    p = Best(reps, [] {}, [&] { pf = PlainFind(plain, "zyzzyva FIN", true); });
    if (found != rows - 1 || pf != rows - 1) {
      std::fprintf(stderr, "search results differ: %ld %ld\n", found, pf);
      return 1;
    }
    Report("FindString text, all columns", g, p);
  }

  // Save and load. Each write goes to a file removed beforehand, so that
  // dropping the previous copy's pages is not counted.
  {
    bool ok = grid.SaveCSV(csv, true, false);
    std::vector<std::uint8_t> bytes = ReadAll(csv);
    auto [g, p] = BestPair(
        2 * reps, [&] { ::unlink(csv.c_str()); },
        [&] { ok = ok && grid.SaveCSV(csv, true, false); }, [&] { ::unlink(bare.c_str()); },
        [&] { BareWrite(bare, bytes); });
    if (!ok) {
      std::fprintf(stderr, "SaveCSV failed\n");
      return 1;
    }
    Report("SaveCSV vs bare write of its bytes", g, p);
    auto [g2, p2] = BestPair(
        2 * reps, [&] { ::unlink(csv.c_str()); },
        [&] { ok = ok && grid.SaveCSV(csv, true, false); }, [&] { ::unlink(bare.c_str()); },
        [&] { PlainSave(plain, bare); });
    if (ReadAll(bare) != bytes) {
      std::fprintf(stderr, "SaveCSV and the plain writer differ\n");
      return 1;
    }
    Report("SaveCSV vs plain encoder + write", g2, p2);

    MyListview back;
    Table loaded;
    auto [gl, pl] = BestPair(
        reps, [&] { back.Clear(false); }, [&] { ok = ok && back.LoadCSV(csv, 1048576, true); },
        [&] { Table().swap(loaded); }, [&] { loaded = PlainLoad(csv); });
    if (!ok || back.ItemCount() != rows || loaded.size() != static_cast<std::size_t>(rows) + 1) {
      std::fprintf(stderr, "LoadCSV failed\n");
      return 1;
    }
    Report("LoadCSV (1 MiB reads)", gl, pl);
    std::printf("  CSV file: %.1f MB\n", static_cast<double>(bytes.size()) / 1e6);
  }

  // Memory: heap in use for the rows alone.
  {
    grid.Clear(false);
    Table().swap(plain);
    malloc_trim(0);
    std::size_t before = HeapInUse();
    auto g = std::make_unique<MyListview>();
    g->SetColumnCount(kColumns);
    for (const Row& r : table) g->InsertItem(r, -1, false);
    std::size_t gridBytes = HeapInUse() - before;
    g.reset();
    malloc_trim(0);
    before = HeapInUse();
    Table copy;
    for (const Row& r : table) copy.push_back(r);  // grown by push_back, as it would be
    std::size_t plainBytes = HeapInUse() - before;
    double perRaw = static_cast<double>(rawBytes) / rows;
    std::printf("\nmemory per row: raw text %.1f B, grid %.1f B (%.2fx raw), "
                "vector of strings %.1f B (%.2fx raw); grid / vector %.2fx\n",
                perRaw, static_cast<double>(gridBytes) / rows, static_cast<double>(gridBytes) / rawBytes,
                static_cast<double>(plainBytes) / rows, static_cast<double>(plainBytes) / rawBytes,
                static_cast<double>(gridBytes) / static_cast<double>(plainBytes));
  }

  ::unlink(csv.c_str());
  ::unlink(bare.c_str());
  ::rmdir(dir.c_str());
  double worst = 0;
  for (const Result& r : g_results) worst = std::max(worst, r.grid / r.plain);
  std::printf("worst ratio %.2fx\n", worst);
  return 0;
}
