// The grid widget on screen (offscreen platform): time to paint one full
// view of the media list with 100,000 rows, and to scroll it from the top
// to the bottom one page at a time, repainting every page. A frame should
// take under 16 ms (60 frames a second).
//
//   build/bench/gui/bench_gui [rows] [repetitions]
//
// Each frame is the work a page-down costs: the model moves (and syncs the
// scroll bars), then the viewport repaints into the window's backing store.
// QT_SCALE_FACTOR=2 measures a high-DPI screen (device pixel ratio 2).
#include <QApplication>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "gui/gridwidget.h"

namespace {

using Clock = std::chrono::steady_clock;
using velotag::GridFont;
using velotag::MyListview;
using velotag::gui::GridWidget;

const char* const kWords[] = {"Love",  "Night", "Blue",  "Heart",      "Dream", "Fire",
                              "Rain",  "Light", "Moon",  "River",      "Dance", "Road",
                              "Caf\xC3\xA9", "Na\xC3\xAFve", "Coraz\xC3\xB3n", "Golden",
                              "\xE5\xAE\x87\xE5\xA4\x9A\xE7\x94\xB0", "Velvet", "Echo"};
const char* const kGenres[] = {"Rock", "Pop", "Jazz", "Blues", "Classical", "Folk", "Soul"};

std::string Words(std::mt19937& rng, int lo, int hi) {
  int n = lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? " " : "") + std::string(kWords[rng() % std::size(kWords)]);
  return s;
}

void Fill(MyListview& grid, int rows) {
  std::mt19937 rng(2024);
  std::vector<std::string> r(12);
  for (int i = 0; i < rows; ++i) {
    std::string title = Words(rng, 1, 5), artist = Words(rng, 1, 2), album = Words(rng, 1, 3);
    char num[16];
    std::snprintf(num, sizeof num, "%02d", i % 20 + 1);
    r[0] = std::string(num) + " - " + title + ".mp3";
    r[1] = std::string("0") + num;
    r[2] = artist;
    r[3] = title;
    r[4] = album;
    r[5] = std::to_string(1960 + rng() % 64);
    r[6] = kGenres[rng() % std::size(kGenres)];
    r[7] = rng() % 3 ? "" : "Ripped with EAC";
    r[8] = "/home/user/Music/" + artist + "/" + album + "/" + r[0];
    r[9] = "   " + std::to_string(1 + rng() % 9) + ",25 MB";
    r[10] = rng() % 3 ? "1" : "0";
    r[11] = (rng() % 4 ? "" : "p") + std::to_string(3 + rng() % 2);
    grid.InsertItem(r, -1, false, i % 7 == 0 ? velotag::kRowSelected : 0);
  }
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Frames {
  std::vector<double> ms;
  double Median() {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
  }
  double Max() const { return *std::max_element(ms.begin(), ms.end()); }
  double Mean() const {
    double sum = 0;
    for (double m : ms) sum += m;
    return sum / static_cast<double>(ms.size());
  }
};

// A frame: the viewport paints into its window's backing store at once, as
// it does on screen.
void Frame(GridWidget& widget) { widget.viewport()->repaint(); }

double PaintOnce(GridWidget& widget) {
  auto t0 = Clock::now();
  Frame(widget);
  return Ms(Clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  int reps = argc > 2 ? std::atoi(argv[2]) : 5;
  QApplication app(argc, argv);

  // The grid as the main window sets it up.
  MyListview grid;
  grid.SetFontColor({0, 0, 0});
  grid.SetBackColor({255, 238, 221});
  grid.SetHeaderBckColor({236, 233, 216});
  grid.SetBorderColor({0, 0, 0});
  grid.SetMultiselect(true);
  grid.SetHasCheckBox(false);
  grid.SetFont(GridFont{"Courier New", 8, false, false});
  grid.SetColumnCount(12);
  const char* headers[] = {"filename", "Track", "Artist", "Title", "Album", "Year",
                           "Genre",    "Comment", "path", "Size", "ID3v1", "ID3v2"};
  for (int c = 0; c < 12; ++c) grid.SetColumnheaderValue(c, headers[c], false);
  GridWidget widget(grid);
  widget.resize(1600, 900);
  widget.show();
  QApplication::processEvents();

  auto t0 = Clock::now();
  Fill(grid, rows);
  double fill = Ms(Clock::now() - t0);
  t0 = Clock::now();
  grid.RefreshColumnsMaxWidth();  // what the list does once a folder is in
  grid.SetDefWidthAllCol(true);
  double fit = Ms(Clock::now() - t0);
  QApplication::processEvents();

  std::printf("%d rows x 12 columns, viewport %dx%d, %d rows in view, best of %d\n", rows,
              widget.viewport()->width(), widget.viewport()->height(), widget.VisibleRows(), reps);
  std::printf("  fill the model (InsertItem)            %9.2f ms\n", fill);
  std::printf("  measure and fit the columns           %9.2f ms  (every cell, fixed-pitch sums)\n",
              fit);

  std::printf("device pixel ratio %.0f:\n",
              widget.devicePixelRatioF());
  {
    Frames full;
    for (int r = 0; r < reps * 10; ++r) {
      grid.TrackVisible((r * 7919) % rows, false);
      full.ms.push_back(PaintOnce(widget));
    }
    double bestScroll = 1e300, worstFrame = 0, meanFrame = 0;
    int pages = 0;
    for (int r = 0; r < reps; ++r) {
      grid.ScrollVertTo(0);
      Frames frames;
      auto start = Clock::now();
      for (;;) {
        auto f0 = Clock::now();
        std::int32_t before = grid.VSCROLL_VALUE();
        grid.Scroll_Vert(true, true, true);  // Page Down
        Frame(widget);
        frames.ms.push_back(Ms(Clock::now() - f0));
        if (grid.VSCROLL_VALUE() == before) break;
      }
      double total = Ms(Clock::now() - start);
      if (total < bestScroll) {
        bestScroll = total;
        worstFrame = frames.Max();
        meanFrame = frames.Mean();
        pages = static_cast<int>(frames.ms.size());
      }
    }
    std::printf("  paint one full view                   %9.2f ms  (median of %zu, max %.2f)\n",
                full.Median(), full.ms.size(), full.Max());
    std::printf("  top to bottom in %5d page steps    %9.2f ms  (%.2f ms a frame, worst %.2f)\n",
                pages, bestScroll, meanFrame, worstFrame);
  }
  return 0;
}
