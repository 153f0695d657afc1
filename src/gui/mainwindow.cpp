#include "gui/mainwindow.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/appicon.h"
#include "gui/cdwindow.h"
#include "gui/dialogs.h"
#include "gui/gridwidget.h"
#include "gui/instancechannel.h"
#include "gui/renamerdialog.h"
#include "library/about.h"

namespace velotag::gui {

namespace {

constexpr int kTimerMs = 1000;

// The browser's lower buttons, in reading order.
constexpr int kBrowserButtonOrder[] = {
    kCmdInvertSelection, kCmdDeselectAll,     kCmdTrackSelected, kCmdLoadID3,
    kCmdRenamePattern,   kCmdRename,          kCmdSavePicturesAll, kCmdSavePicturesSel,
    kCmdAutoTag,         kCmdSaveCsv,         kCmdClearLocalDb};

QString Q(const std::string& text) { return QString::fromUtf8(text); }

}  // namespace

// A frame with its caption on top and, beside the caption, a progress bar
// that shows while the caption reads "WORKING: n %".
class CaptionFrame : public QFrame {
 public:
  CaptionFrame(const QString& name, QWidget* parent) : QFrame(parent) {
    setObjectName(name);
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setSpacing(4);
    auto* head = new QHBoxLayout;
    caption_ = new QLabel(this);
    caption_->setObjectName(name + QStringLiteral("Caption"));
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(name + QStringLiteral("Progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(caption_->sizeHint().height());
    progress_->setVisible(false);
    head->addWidget(caption_);
    head->addWidget(progress_, 1);
    head->addStretch();
    layout->addLayout(head);
    body_ = new QVBoxLayout;
    body_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(body_, 1);
  }
  QVBoxLayout* body() { return body_; }
  // percent: what the caption shows while a command works, -1 when idle.
  void SetCaption(const std::string& caption, double percent) {
    caption_->setText(Q(caption));
    if (percent >= 0) progress_->setValue(static_cast<int>(percent * 10 + 0.5));
    progress_->setVisible(percent >= 0);
  }

 private:
  QLabel* caption_;
  QProgressBar* progress_;
  QVBoxLayout* body_;
};

// Buttons at their own widths in as few rows as the width allows, each row
// stretched to the full width, so that a narrow window or large text still
// shows every caption without giving the list's height away. Buttons added
// in groups (an "All" and "Sel" pair) share a row while one row holds them.
class ButtonRows : public QWidget {
 public:
  explicit ButtonRows(QWidget* parent, int group = 1) : QWidget(parent), group_(group) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
  }
  void Add(QPushButton* button) {
    button->setParent(this);
    buttons_.push_back(button);
  }
  // Captions changed: widths may have too.
  void Refit() {
    updateGeometry();
    Place();
  }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    int rows = static_cast<int>(Rows(width).size());
    return rows * ButtonHeight() + std::max(rows - 1, 0) * kSpacing;
  }
  // The rows the present width needs; until a layout has given it a width,
  // one row (a guess from a widget's default width would make the window
  // grow past the screen before it is first shown).
  QSize minimumSizeHint() const override {
    int width = placedRows_ > 0 ? this->width() : sizeHint().width();
    return {Widest(), heightForWidth(std::max(width, Widest()))};
  }
  // All in one row.
  QSize sizeHint() const override {
    int width = buttons_.empty() ? 0 : WidthOf(0, buttons_.size());
    return {width, heightForWidth(width)};
  }

 protected:
  void resizeEvent(QResizeEvent*) override {
    int rows = static_cast<int>(Rows(width()).size());
    if (rows != placedRows_) {
      placedRows_ = rows;
      updateGeometry();  // the height follows the row count
    }
    Place();
  }

 private:
  static constexpr int kSpacing = 4;
  int Widest() const {
    int widest = 1;
    for (QPushButton* b : buttons_) widest = std::max(widest, b->sizeHint().width());
    return widest;
  }
  int ButtonHeight() const {
    int height = 0;
    for (QPushButton* b : buttons_) height = std::max(height, b->sizeHint().height());
    return height;
  }
  int WidthOf(std::size_t first, std::size_t count) const {
    int w = -kSpacing;
    for (std::size_t i = first; i < first + count; ++i) w += kSpacing + buttons_[i]->sizeHint().width();
    return w;
  }
  // The buttons of each row, filled in order.
  std::vector<std::vector<QPushButton*>> Rows(int width) const {
    std::vector<std::vector<QPushButton*>> rows;
    int used = 0;
    auto place = [&](std::size_t first, std::size_t count) {
      int w = WidthOf(first, count);
      if (rows.empty() || used + kSpacing + w > width) {
        rows.emplace_back();
        used = -kSpacing;
      }
      for (std::size_t i = first; i < first + count; ++i) rows.back().push_back(buttons_[i]);
      used += kSpacing + w;
    };
    const auto group = static_cast<std::size_t>(group_);
    for (std::size_t first = 0; first < buttons_.size(); first += group) {
      std::size_t count = std::min(group, buttons_.size() - first);
      if (WidthOf(first, count) <= width) {
        place(first, count);
      } else {
        for (std::size_t i = first; i < first + count; ++i) place(i, 1);
      }
    }
    return rows;
  }
  void Place() {
    int y = 0;
    for (const auto& row : Rows(width())) {
      int natural = -kSpacing;
      for (QPushButton* b : row) natural += kSpacing + b->sizeHint().width();
      int extra = std::max(width() - natural, 0), x = 0;
      for (std::size_t i = 0; i < row.size(); ++i) {
        int share = extra / static_cast<int>(row.size()) +
                    (i + 1 == row.size() ? extra % static_cast<int>(row.size()) : 0);
        int w = row[i]->sizeHint().width() + share;
        row[i]->setGeometry(x, y, w, ButtonHeight());
        x += w + kSpacing;
      }
      y += ButtonHeight() + kSpacing;
    }
  }
  std::vector<QPushButton*> buttons_;
  int group_;
  int placedRows_ = 0;
};

MainWindow::MainWindow(AppPaths paths, std::unique_ptr<FingerprintLookup> fingerprint,
                       DialogProvider* dialogs, QWidget* parent)
    : QMainWindow(parent) {
  if (!dialogs) {
    ownDialogs_ = std::make_unique<DialogProvider>();
    dialogs = ownDialogs_.get();
  }
  dialogs_ = dialogs;
  setObjectName(QStringLiteral("Form1"));
  setWindowIcon(AppIcon());
  form_ = std::make_unique<Form1>(static_cast<UserInterface&>(*this), std::move(paths),
                                  std::move(fingerprint));

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(4, 4, 4, 4);
  mainSplit_ = new QSplitter(Qt::Vertical, central);
  mainSplit_->setObjectName(QStringLiteral("MainSplit"));
  mainSplit_->setChildrenCollapsible(false);
  lowerSplit_ = new QSplitter(Qt::Horizontal, mainSplit_);
  lowerSplit_->setObjectName(QStringLiteral("LowerSplit"));
  lowerSplit_->setChildrenCollapsible(false);
  BuildBrowser();
  BuildPanel();
  BuildLog();
  mainSplit_->insertWidget(0, frame1_);
  mainSplit_->setStretchFactor(0, 3);
  mainSplit_->setStretchFactor(1, 2);
  layout->addWidget(mainSplit_);
  setCentralWidget(central);
  rowCount_ = new QLabel(this);
  rowCount_->setObjectName(QStringLiteral("RowCount"));
  statusBar()->addPermanentWidget(rowCount_);
  BuildMenus();

  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, &MainWindow::OnTimer);
  ready_ = true;
  SyncPanel();
  SyncButtons();
  SyncAllCaptions();
  FitToScreen();
  ApplyArrangement();
}

void MainWindow::FitToScreen() {
  // The size the window was laid out for, cut to the screen's free area
  // (without panels and docks) with room left for the title bar.
  const QRect free = screen()->availableGeometry();
  resize(QSize(1280, 860).boundedTo(QSize(free.width() * 19 / 20, free.height() * 9 / 10))
             .expandedTo(minimumSizeHint()));
  move(free.center() - QPoint(width() / 2, height() / 2));
}

MainWindow::~MainWindow() {
  timer_.stop();
  if (timedBox_) delete timedBox_.data();
  // The widgets are bound to Form1's state and the grid widget paints
  // Form1's model: they go first.
  ready_ = false;
  delete takeCentralWidget();
  grid_ = nullptr;
  form_.reset();
}

QPushButton* MainWindow::InputButton(int index, QWidget* parent) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QStringLiteral("CmdInput_%1").arg(index));
  connect(button, &QPushButton::clicked, this, [this, index] { RunInput(index); });
  cmdInput_[static_cast<std::size_t>(index)] = button;
  return button;
}

void MainWindow::RunInput(int index) {
  // Load on an empty list ends without a log line; say why nothing came.
  if (index == kCmdLoadID3 && form_->Grid().ItemCount() == 0)
    statusBar()->showMessage(QStringLiteral("The list is empty: add MP3 files first"), 5000);
  form_->CmdInput_Click(index);
}

QPushButton* MainWindow::PanelButton(int index, QWidget* parent) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QStringLiteral("CmdID3v1_%1").arg(index));
  connect(button, &QPushButton::clicked, this, [this, index] { form_->CmdID3v1_Click(index); });
  cmdID3v1_[static_cast<std::size_t>(index)] = button;
  return button;
}

void MainWindow::BuildBrowser() {
  frame1_ = new CaptionFrame(QStringLiteral("Frame1"), mainSplit_);
  auto* top = new QHBoxLayout;
  auto* listButtons = new ButtonRows(frame1_);
  listButtons->setObjectName(QStringLiteral("ListButtons"));
  for (int index : {kCmdAddFolder, kCmdAddFile, kCmdDelSelected, kCmdDelAll})
    listButtons->Add(InputButton(index, listButtons));
  QPushButton* reload = InputButton(kCmdReload, listButtons);
  reload->setIcon(QIcon::fromTheme(QStringLiteral("view-refresh"),
                                   style()->standardIcon(QStyle::SP_BrowserReload)));
  reload->setToolTip(QStringLiteral("Reload the list from the files"));
  listButtons->Add(reload);
  auto* cd = new QPushButton(QStringLiteral("CD-Rip && CDDB"), listButtons);
  cd->setObjectName(QStringLiteral("CmdCDDB"));
  cd->setIcon(QIcon::fromTheme(QStringLiteral("media-optical-audio")));
  cd->setToolTip(QStringLiteral("Look a CD up on a CDDB server and rip its tracks to WAV files"));
  connect(cd, &QPushButton::clicked, this, [this] { form_->CmdCDDB_Click(); });
  listButtons->Add(cd);
  top->addWidget(listButtons);
  txtSearch_ = new QLineEdit(frame1_);
  txtSearch_->setObjectName(QStringLiteral("TxtSearch"));
  txtSearch_->setPlaceholderText(QStringLiteral("Search"));
  txtSearch_->setClearButtonEnabled(true);
  txtSearch_->setMinimumWidth(120);
  connect(txtSearch_, &QLineEdit::textChanged, this,
          [this](const QString& text) { form_->SearchText() = text.toStdString(); });
  connect(txtSearch_, &QLineEdit::returnPressed, this,
          [this] { form_->CmdInput_Click(kCmdSearch); });
  top->addWidget(txtSearch_, 1);
  QPushButton* search = InputButton(kCmdSearch, frame1_);
  search->setIcon(QIcon::fromTheme(QStringLiteral("edit-find"), SearchIcon()));
  search->setToolTip(QStringLiteral("Search the list (from the top row in view)"));
  top->addWidget(search);
  frame1_->body()->addLayout(top);

  grid_ = new GridWidget(form_->Grid(), frame1_);
  grid_->setObjectName(QStringLiteral("MyListview1"));
  // Small enough for a 600-pixel screen with large text; a few rows show.
  grid_->setMinimumSize(320, 96);
  connect(grid_, &GridWidget::pathsDropped, this, [this](const QList<QByteArray>& dropped) {
    std::vector<std::string> paths;
    for (const QByteArray& p : dropped) paths.push_back(p.toStdString());
    // After the drop has finished, so that the program the files came
    // from is not kept waiting while they are read.
    QTimer::singleShot(0, this, [this, paths] { AddPaths(paths); });
  });
  frame1_->body()->addWidget(grid_, 1);

  browserButtons_ = new ButtonRows(frame1_);
  browserButtons_->setObjectName(QStringLiteral("BrowserButtons"));
  for (int index : kBrowserButtonOrder) browserButtons_->Add(InputButton(index, browserButtons_));
  cmdInput_[kCmdDelSelected]->setToolTip(QStringLiteral("Delete from list"));
  cmdInput_[kCmdDelAll]->setToolTip(QStringLiteral("Delete from list"));
  cmdInput_[kCmdLoadID3]->setToolTip(QStringLiteral("Load ID3 data to tag editor"));
  frame1_->body()->addWidget(browserButtons_);
}

void MainWindow::BuildPanel() {
  frame2_ = new CaptionFrame(QStringLiteral("Frame2"), lowerSplit_);
  QFont boxFont(QStringLiteral("Arial"));
  boxFont.setStyleHint(QFont::SansSerif);
  boxFont.setPointSizeF(8);

  auto* top = new QHBoxLayout;
  chkID3_ = new QCheckBox(QStringLiteral("All fields"), frame2_);
  chkID3_->setObjectName(QStringLiteral("ChkID3"));
  chkID3_->setToolTip(QStringLiteral("Check or uncheck every field"));
  connect(chkID3_, &QCheckBox::clicked, this, [this](bool on) {
    form_->Panel().ChkID3 = on ? 1 : 0;
    form_->ChkID3_Click();
  });
  top->addWidget(chkID3_);
  top->addStretch();
  for (auto [group, radios, name, first, second] :
       {std::tuple{QStringLiteral("OptID3editVer"), &optID3editVer_, "OptID3editVer", "Edit ID3v1",
                   "Edit ID3v2"},
        std::tuple{QStringLiteral("OptID3ver"), &optID3ver_, "OptID3ver", "Show ID3v1",
                   "Show ID3v2"}}) {
    auto* box = new QGroupBox(frame2_);
    box->setObjectName(group);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(6, 2, 6, 2);
    for (int i = 0; i < 2; ++i) {
      auto* radio = new QRadioButton(QString::fromLatin1(i == 0 ? first : second), box);
      radio->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i));
      (*radios)[static_cast<std::size_t>(i)] = radio;
      row->addWidget(radio);
    }
    top->addWidget(box);
  }
  for (int i = 0; i < 2; ++i) {
    connect(optID3editVer_[static_cast<std::size_t>(i)], &QRadioButton::clicked, this,
            [this, i] { form_->OptID3editVer_Click(i); });
    connect(optID3ver_[static_cast<std::size_t>(i)], &QRadioButton::clicked, this,
            [this, i] { form_->OptID3ver_Click(i); });
  }
  // The panel scrolls rather than hold the window at its full height.
  auto* scroll = new QScrollArea(frame2_);
  scroll->setObjectName(QStringLiteral("PanelScroll"));
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* page = new QWidget(scroll);
  panelPage_ = page;
  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->addLayout(top);

  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(4);
  fields->setVerticalSpacing(2);
  fields->setColumnStretch(1, 1);
  fields->setColumnStretch(6, 1);
  fields->setColumnMinimumWidth(4, 12);
  for (const PanelFieldInfo& f : kPanelFields) {
    const int k = static_cast<int>(f.field);
    int row = k <= 8 ? k : k - 9;
    int col = k <= 8 ? 0 : 5;
    auto* check = new QCheckBox(QString::fromLatin1(f.caption), frame2_);
    check->setObjectName(QStringLiteral("ChkID3v1_%1").arg(k));
    connect(check, &QCheckBox::clicked, this,
            [this, field = f.field](bool on) { form_->Panel().Check(field) = on ? 1 : 0; });
    chkID3v1_[static_cast<std::size_t>(k)] = check;
    fields->addWidget(check, row, col);
    QWidget* input = nullptr;
    if (f.field == PanelField::Genre) {
      cmbID3v1_ = new QComboBox(frame2_);
      cmbID3v1_->setObjectName(QStringLiteral("CmbID3v1"));
      cmbID3v1_->setEditable(true);
      cmbID3v1_->setInsertPolicy(QComboBox::NoInsert);
      cmbID3v1_->setMaxVisibleItems(20);
      cmbID3v1_->setFont(boxFont);
      std::vector<std::string> genres = Form1::GenreBoxEntries();
      for (std::size_t n = 0; n < genres.size(); ++n)
        cmbID3v1_->addItem(Q(genres[n]), static_cast<int>(n));
      connect(cmbID3v1_, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!syncing_) form_->Panel().CmbID3v1 = text.toStdString();
      });
      connect(cmbID3v1_, &QComboBox::activated, this, [this](int) {
        form_->Panel().CmbID3v1 = cmbID3v1_->currentText().toStdString();
        form_->CmbID3v1_Click();
      });
      input = cmbID3v1_;
    } else {
      int box = TextBoxOf(f.field);
      auto* edit = new QLineEdit(frame2_);
      edit->setObjectName(QStringLiteral("TxtID3_%1").arg(box));
      edit->setFont(boxFont);
      connect(edit, &QLineEdit::textEdited, this, [this, box](const QString& text) {
        form_->Panel().TxtID3[static_cast<std::size_t>(box)] = text.toStdString();
      });
      txtID3_[static_cast<std::size_t>(box)] = edit;
      input = edit;
    }
    if (f.field == PanelField::Track) {
      auto* inputRow = new QHBoxLayout;
      inputRow->addWidget(input, 1);
      chkAutoTrack_ = new QCheckBox(QStringLiteral("AUTO from filename"), frame2_);
      chkAutoTrack_->setObjectName(QStringLiteral("ChkID3v1AutoTrack"));
      connect(chkAutoTrack_, &QCheckBox::clicked, this,
              [this](bool on) { form_->Panel().ChkID3v1AutoTrack = on ? 1 : 0; });
      inputRow->addWidget(chkAutoTrack_);
      fields->addLayout(inputRow, row, col + 1, 1, 2);
    } else {
      fields->addWidget(input, row, col + 1, 1, 2);
    }
    // A field has a clear button of its own number; the picture has
    // "browse" (and the browse dialog empties it when cancelled).
    const bool browse = f.field == PanelField::Picture;
    QPushButton* button = PanelButton(browse ? kCmdBrowsePicture : k, frame2_);
    if (!browse) button->setToolTip(QStringLiteral("Clear textfield"));
    fields->addWidget(button, row, col + 3);
  }
  lblTXXX_ = new QLabel(QStringLiteral("TXXX frames:"), frame2_);
  lblTXXX_->setObjectName(QStringLiteral("LblTXXX"));
  cmbTXXX_ = new QComboBox(frame2_);
  cmbTXXX_->setObjectName(QStringLiteral("CmbTXXX"));
  cmbTXXX_->setFont(boxFont);
  connect(cmbTXXX_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!syncing_) form_->Panel().CmbTXXXIndex = index;
  });
  fields->addWidget(lblTXXX_, 8, 5);
  fields->addWidget(cmbTXXX_, 8, 6, 1, 3);
  pageLayout->addLayout(fields);

  pageLayout->addStretch();
  scroll->setWidget(page);
  frame2_->body()->addWidget(scroll, 1);
  // The commands stay below the fields, in view however far those scroll;
  // "Clear all textfield" is a field tool and scrolls with them.
  top->insertWidget(1, PanelButton(kCmdClearAllFields, frame2_));
  batchButtons_ = new ButtonRows(frame2_, 2);
  batchButtons_->setObjectName(QStringLiteral("BatchButtons"));
  for (int index = kCmdChangeAll; index <= kCmdClearTagSel; ++index)
    batchButtons_->Add(PanelButton(index, batchButtons_));
  frame2_->body()->addWidget(batchButtons_);
}

void MainWindow::BuildLog() {
  auto* box = new QWidget(lowerSplit_);
  box->setObjectName(QStringLiteral("LogArea"));
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  lstStat_ = new QListWidget(box);
  lstStat_->setObjectName(QStringLiteral("LstStat"));
  lstStat_->setToolTip(QStringLiteral("Doubleclick to copy selected line"));
  lstStat_->setUniformItemSizes(true);
  lstStat_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(lstStat_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { form_->LstStat_DblClick(lstStat_->row(item)); });
  layout->addWidget(lstStat_, 1);
  // STOP, the layout switch and the update buttons share rows that wrap, so
  // a small screen keeps the log's height.
  auto* buttons = new ButtonRows(box);
  buttons->setObjectName(QStringLiteral("LogButtons"));
  cmdStop_ = new QPushButton(QStringLiteral("STOP"), buttons);
  cmdStop_->setObjectName(QStringLiteral("CmdSTOP"));
  cmdStop_->setToolTip(QStringLiteral("Stop the running command after the current file"));
  connect(cmdStop_, &QPushButton::clicked, this, [this] { form_->CmdSTOP_Click(); });
  cmdResize_ = new QPushButton(QStringLiteral("Switch layout"), buttons);
  cmdResize_->setObjectName(QStringLiteral("CmdResize"));
  cmdResize_->setToolTip(QStringLiteral("Put the list above or beside the tag editor"));
  connect(cmdResize_, &QPushButton::clicked, this, [this] { SetArrangement(1 - arrangement_); });
  buttons->Add(cmdStop_);
  buttons->Add(cmdResize_);
  for (int index = 0; index < kUpdateCommandCount; ++index) {
    auto* button = new QPushButton(QString::fromLatin1(Form1::UpdateCaption(index)), buttons);
    button->setObjectName(QStringLiteral("CmdUpdate_%1").arg(index));
    connect(button, &QPushButton::clicked, this, [this, index] { form_->CmdUpdate_Click(index); });
    buttons->Add(button);
  }
  layout->addWidget(buttons);
  lowerSplit_->setStretchFactor(0, 3);
  lowerSplit_->setStretchFactor(1, 2);
}

QAction* MainWindow::AddAction(QMenu* menu, const QString& text, const QKeySequence& key,
                               std::function<void()> run) {
  QAction* action = menu->addAction(text);
  action->setShortcut(key);
  connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
  return action;
}

void MainWindow::BuildMenus() {
  auto input = [this](int index) { return [this, index] { RunInput(index); }; };
  auto panel = [this](int index) { return [this, index] { form_->CmdID3v1_Click(index); }; };
  auto inputAction = [&](QMenu* menu, int index, const QKeySequence& key) {
    inputActions_[static_cast<std::size_t>(index)] = AddAction(menu, QString(), key, input(index));
  };
  auto panelAction = [&](QMenu* menu, int index, const QKeySequence& key) {
    panelActions_[static_cast<std::size_t>(index)] = AddAction(menu, QString(), key, panel(index));
  };

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  inputAction(file, kCmdAddFolder, QKeySequence(Qt::CTRL | Qt::Key_O));
  inputAction(file, kCmdAddFile, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  file->addSeparator();
  inputAction(file, kCmdSaveCsv, QKeySequence(Qt::CTRL | Qt::Key_S));
  AddAction(file, QStringLiteral("Open the program folder"), QKeySequence(),
            [this] { OpenExternally(form_->Paths().ProgramFolder); });
  AddAction(file, QStringLiteral("CD-Rip && CDDB..."), QKeySequence(),
            [this] { form_->CmdCDDB_Click(); });
  file->addSeparator();
  AddAction(file, QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });

  QMenu* list = menuBar()->addMenu(QStringLiteral("&List"));
  inputAction(list, kCmdDelSelected, QKeySequence(Qt::Key_Delete));
  inputAction(list, kCmdDelAll, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete));
  inputAction(list, kCmdReload, QKeySequence(Qt::Key_F5));
  list->addSeparator();
  AddAction(list, QStringLiteral("Search..."), QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
    txtSearch_->setFocus(Qt::ShortcutFocusReason);
    txtSearch_->selectAll();
  });
  inputAction(list, kCmdSearch, QKeySequence(Qt::Key_F3));
  list->addSeparator();
  AddAction(list, QStringLiteral("Select all"), QKeySequence(Qt::CTRL | Qt::Key_A), [this] {
    form_->CmdInput_Click(kCmdDeselectAll);
    form_->CmdInput_Click(kCmdInvertSelection);
  });
  inputAction(list, kCmdInvertSelection, QKeySequence(Qt::CTRL | Qt::Key_I));
  inputAction(list, kCmdDeselectAll, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
  inputAction(list, kCmdTrackSelected, QKeySequence(Qt::CTRL | Qt::Key_T));
  list->addSeparator();
  stopAction_ = AddAction(list, QStringLiteral("STOP"), QKeySequence(Qt::Key_Escape),
                          [this] { form_->CmdSTOP_Click(); });

  QMenu* tags = menuBar()->addMenu(QStringLiteral("&Tags"));
  inputAction(tags, kCmdLoadID3, QKeySequence(Qt::CTRL | Qt::Key_L));
  panelAction(tags, kCmdChangeSel, QKeySequence(Qt::CTRL | Qt::Key_Return));
  panelAction(tags, kCmdChangeAll, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Return));
  panelAction(tags, kCmdCopySel, QKeySequence());
  panelAction(tags, kCmdCopyAll, QKeySequence());
  panelAction(tags, kCmdClearTagSel, QKeySequence());
  panelAction(tags, kCmdClearTagAll, QKeySequence());
  panelAction(tags, kCmdClearAllFields, QKeySequence());
  tags->addSeparator();
  inputAction(tags, kCmdRenamePattern, QKeySequence(Qt::CTRL | Qt::Key_P));
  inputAction(tags, kCmdRename, QKeySequence(Qt::Key_F2));
  inputAction(tags, kCmdAutoTag, QKeySequence());
  AddAction(tags, QStringLiteral("AcoustID key..."), QKeySequence(), [this] {
    QString key = Q(form_->Options().Servers.AcoustIdKey);
    if (dialogs_->AskText(this, QStringLiteral("AcoustID key"),
                          QStringLiteral("The application key of the AcoustID service; with one, "
                                         "Auto tag asks AcoustID (empty: the fingerprint service)"),
                          key))
      form_->SetAcoustIdKey(key.toStdString());
  });
  inputAction(tags, kCmdSavePicturesSel, QKeySequence());
  inputAction(tags, kCmdSavePicturesAll, QKeySequence());
  inputAction(tags, kCmdClearLocalDb, QKeySequence());

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  auto* editGroup = new QActionGroup(this);
  auto* showGroup = new QActionGroup(this);
  for (int i = 0; i < 2; ++i) {
    QAction* edit = AddAction(view, QStringLiteral("Edit ID3v%1").arg(i + 1),
                              QKeySequence(Qt::CTRL | (i == 0 ? Qt::Key_1 : Qt::Key_2)),
                              [this, i] { form_->OptID3editVer_Click(i); });
    edit->setCheckable(true);
    editGroup->addAction(edit);
    editActions_[static_cast<std::size_t>(i)] = edit;
  }
  view->addSeparator();
  for (int i = 0; i < 2; ++i) {
    QAction* show = AddAction(view, QStringLiteral("Show ID3v%1").arg(i + 1),
                              QKeySequence(Qt::CTRL | Qt::SHIFT | (i == 0 ? Qt::Key_1 : Qt::Key_2)),
                              [this, i] { form_->OptID3ver_Click(i); });
    show->setCheckable(true);
    showGroup->addAction(show);
    showActions_[static_cast<std::size_t>(i)] = show;
  }
  view->addSeparator();
  AddAction(view, QStringLiteral("Switch layout"), QKeySequence(Qt::CTRL | Qt::Key_R),
            [this] { SetArrangement(1 - arrangement_); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  AddAction(help, QStringLiteral("About Velotag"), QKeySequence(), [this] {
    QMessageBox::about(this, QStringLiteral("About Velotag"),
                       QStringLiteral("<b>Velotag %1</b><p>MP3 tag editor by %2.</p><p>%3</p>")
                           .arg(QLatin1String(kVersionText), QLatin1String(kAuthor),
                                QLatin1String(kHomePage)));
  });
  help->addSeparator();
  for (int index = 0; index < kUpdateCommandCount; ++index)
    AddAction(help, QString::fromLatin1(Form1::UpdateCaption(index)), QKeySequence(),
              [this, index] { form_->CmdUpdate_Click(index); });
}

bool MainWindow::Start(const std::vector<std::string>& handOver) {
  handOver_ = handOver;
  if (!form_->Form_Initialize()) return false;
  // Later starts hand their files to this window.
  auto* server = new InstanceServer(this);
  connect(server, &InstanceServer::pathsReceived, this,
          [this](const std::vector<std::string>& paths) {
            if (isMinimized()) showNormal();
            raise();
            activateWindow();
            QTimer::singleShot(0, this, [this, paths] { AddPaths(paths); });
          });
  server->Listen(InstanceChannelName(form_->Paths()));
  form_->Form_Load();
  // Form_Load starts the log anew: show exactly what it holds.
  lstStat_->clear();
  for (const std::string& line : form_->Log().Lines()) lstStat_->addItem(Q(line));
  lstStat_->setCurrentRow(lstStat_->count() - 1);
  SyncPanel();
  SyncButtons();
  SyncAllCaptions();
  RestoreWindowState();
  timer_.start();
  return true;
}

TimedMessageBox* MainWindow::TimedMessage() const { return timedBox_.data(); }

void MainWindow::AddPaths(const std::vector<std::string>& paths) {
  if (!paths.empty()) form_->AddMediaPaths(paths, true);
}

void MainWindow::SetArrangement(int arrangement) {
  if ((arrangement != 0 && arrangement != 1) || arrangement == arrangement_) return;
  if (mainSplit_->count() == 2) {
    splitMain_[static_cast<std::size_t>(arrangement_)] = mainSplit_->sizes();
    splitLower_[static_cast<std::size_t>(arrangement_)] = lowerSplit_->sizes();
  }
  arrangement_ = arrangement;
  ApplyArrangement();
}

void MainWindow::ApplyArrangement() {
  mainSplit_->setOrientation(arrangement_ == 0 ? Qt::Vertical : Qt::Horizontal);
  lowerSplit_->setOrientation(arrangement_ == 0 ? Qt::Horizontal : Qt::Vertical);
  QList<int> main = splitMain_[static_cast<std::size_t>(arrangement_)];
  QList<int> lower = splitLower_[static_cast<std::size_t>(arrangement_)];
  // Never arranged so: the tag editor gets the room it needs, the list and
  // the log the rest.
  const int fieldsWidth = panelPage_->sizeHint().width();
  const QSize panel = panelPage_->sizeHint() + QSize(30, 40 + batchButtons_->heightForWidth(fieldsWidth));
  const int width = std::max(this->width() - 10, 400);
  const int height = std::max(this->height() - menuBar()->sizeHint().height() -
                                  statusBar()->sizeHint().height() - 10, 300);
  if (arrangement_ == 0) {
    int panelHeight = std::min(panel.height(), height * 3 / 5);
    int panelWidth = std::min(panel.width(), width * 7 / 10);
    if (main.isEmpty()) main = {height - panelHeight, panelHeight};
    if (lower.isEmpty()) lower = {panelWidth, width - panelWidth};
  } else {
    int panelWidth = std::min(panel.width(), width / 2);
    int panelHeight = std::min(panel.height(), height * 7 / 10);
    if (main.isEmpty()) main = {width - panelWidth, panelWidth};
    if (lower.isEmpty()) lower = {panelHeight, height - panelHeight};
  }
  mainSplit_->setSizes(main);
  lowerSplit_->setSizes(lower);
}

// ---- state shown ----

void MainWindow::SyncPanel() {
  if (!ready_) return;
  syncing_ = true;
  const FieldPanel& p = form_->Panel();
  for (const PanelFieldInfo& f : kPanelFields) {
    QCheckBox* check = chkID3v1_[static_cast<std::size_t>(f.field)];
    check->setChecked(p.ChkID3v1[static_cast<std::size_t>(f.field)] != 0);
    check->setEnabled(p.Enabled(f.field));
    if (f.field == PanelField::Genre) continue;
    QLineEdit* edit = txtID3_[static_cast<std::size_t>(TextBoxOf(f.field))];
    QString text = Q(p.Input(f.field));
    if (edit->text() != text) edit->setText(text);
    edit->setEnabled(p.Enabled(f.field));
  }
  if (cmbID3v1_->currentText() != Q(p.CmbID3v1)) cmbID3v1_->setEditText(Q(p.CmbID3v1));
  chkAutoTrack_->setChecked(p.ChkID3v1AutoTrack != 0);
  chkID3_->setChecked(p.ChkID3 != 0);
  QStringList entries;
  for (const std::string& e : p.CmbTXXX) entries << Q(e);
  QStringList shown;
  for (int i = 0; i < cmbTXXX_->count(); ++i) shown << cmbTXXX_->itemText(i);
  if (shown != entries) {
    cmbTXXX_->clear();
    cmbTXXX_->addItems(entries);
  }
  cmbTXXX_->setCurrentIndex(p.CmbTXXXIndex);
  cmbTXXX_->setEnabled(p.ID3v2Enabled);
  lblTXXX_->setEnabled(p.ID3v2Enabled);
  syncing_ = false;
}

void MainWindow::SyncButtons() {
  if (!ready_) return;
  for (int i = 0; i < kBrowserCommandCount; ++i) {
    const std::string& caption = form_->InputCaption(i);
    if (QPushButton* b = cmdInput_[static_cast<std::size_t>(i)]; b && !caption.empty())
      b->setText(Q(caption));
    if (QAction* a = inputActions_[static_cast<std::size_t>(i)])
      a->setText(caption.empty() ? (i == kCmdReload ? QStringLiteral("Reload the list from the files")
                                                    : QStringLiteral("Search again"))
                                 : Q(caption));
  }
  for (int i = 0; i < kPanelCommandCount; ++i) {
    const std::string& caption = form_->PanelCaption(i);
    if (QPushButton* b = cmdID3v1_[static_cast<std::size_t>(i)]) b->setText(Q(caption));
    if (QAction* a = panelActions_[static_cast<std::size_t>(i)]) a->setText(Q(caption));
  }
  browserButtons_->Refit();
  batchButtons_->Refit();
  optID3editVer_[static_cast<std::size_t>(form_->EditVersion())]->setChecked(true);
  optID3ver_[static_cast<std::size_t>(form_->ShowVersion())]->setChecked(true);
  editActions_[static_cast<std::size_t>(form_->EditVersion())]->setChecked(true);
  showActions_[static_cast<std::size_t>(form_->ShowVersion())]->setChecked(true);
}

void MainWindow::SyncAllCaptions() {
  for (Caption c : {Caption::Frame1, Caption::Frame2, Caption::GridToolTip, Caption::GenreToolTip,
                    Caption::StopButton})
    CaptionChanged(c);
  setWindowTitle(Q(form_->WindowCaption()));
}

// ---- the person's side of the library ----

bool MainWindow::AskYesNo(const std::string& text, const std::string& title) {
  return dialogs_->AskYesNo(this, MessageText(text), Q(title));
}

void MainWindow::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  dialogs_->ShowMessage(this, MessageText(text), Q(title), icon);
}

void MainWindow::ShowTimedMessage(const std::string& text, const std::string& title,
                                  MessageIcon icon, int timeoutMs) {
  if (timeoutMs < 1) {
    ShowMessage(text, title, icon);
    return;
  }
  // One at a time; it does not hold up the command it is shown during.
  if (timedBox_) timedBox_->close();
  auto* box = new TimedMessageBox(MessageText(text), Q(title), icon, timeoutMs, this);
  box->setObjectName(QStringLiteral("TimedMessage"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  timedBox_ = box;
}

std::string MainWindow::ChooseFolder(const std::string& title, const std::string& start) {
  return QStringToPath(dialogs_->ChooseFolder(this, Q(title), PathToQString(start)));
}

std::string MainWindow::ChooseFile(const std::string& title, const std::string& start,
                                   const std::string& filter) {
  return QStringToPath(dialogs_->ChooseFile(this, Q(title), PathToQString(start), ToQtFilter(filter)));
}

bool MainWindow::PumpEvents() {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  return dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
}

void MainWindow::StatusLineAdded(const std::string& line) {
  if (!ready_) return;
  lstStat_->addItem(Q(line));
  const auto kept = static_cast<int>(form_->Log().Lines().size());
  while (lstStat_->count() > kept) delete lstStat_->takeItem(0);
  lstStat_->setCurrentRow(lstStat_->count() - 1);
}

void MainWindow::CaptionChanged(Caption which) {
  if (!ready_) return;
  switch (which) {
    case Caption::Frame1:
      frame1_->SetCaption(form_->Frame1Caption(), form_->Frame1Progress());
      // Rows appended during a scan show up as it goes.
      if (form_->BusyCount() != 0) grid_->Repaint();
      break;
    case Caption::Frame2: frame2_->SetCaption(form_->Frame2Caption(), form_->Frame2Progress()); break;
    case Caption::GridToolTip:
      grid_->setToolTip(Q(form_->GridToolTip()));
      rowCount_->setText(Q(form_->GridToolTip()));
      break;
    case Caption::GenreToolTip: cmbID3v1_->setToolTip(Q(form_->Panel().CmbID3v1ToolTip)); break;
    case Caption::Buttons: SyncButtons(); break;
    case Caption::StopButton:
      cmdStop_->setEnabled(form_->StopEnabled());
      stopAction_->setEnabled(form_->StopEnabled());
      break;
  }
}

void MainWindow::FieldPanelChanged() { SyncPanel(); }

void MainWindow::OpenExternally(const std::string& pathOrUrl) {
  QUrl url = pathOrUrl.find("://") != std::string::npos ? QUrl(Q(pathOrUrl)) : PathToUrl(pathOrUrl);
  dialogs_->OpenExternally(url);
}

void MainWindow::CopyToClipboard(const std::string& text) {
  QGuiApplication::clipboard()->setText(Q(text));
}

void MainWindow::FocusSearchBox() { txtSearch_->setFocus(Qt::OtherFocusReason); }

void MainWindow::ShowRenamer() {
  RenamerDialog dialog(form_->Options().RenamePattern, RenameVariables(), form_->Random(), this);
  if (dialog.exec() == QDialog::Accepted) form_->Options().RenamePattern = dialog.SavedPattern();
}

bool MainWindow::HandToRunningInstance() {
  return SendToRunningInstance(InstanceChannelName(form_->Paths()), handOver_);
}

void MainWindow::ShowCdWindow() {
  if (!cdWindow_) {
    FormCDDBHost host;
    host.programFolder = form_->Paths().ProgramFolder;
    host.settings = &form_->Options();
    host.closingRequested = [this] { return form_->ClosingRequest(); };
    cdWindow_ = new CdWindow(std::move(host), dialogs_, this);
  }
  cdWindow_->show();
  cdWindow_->raise();
  cdWindow_->activateWindow();
}

void MainWindow::CloseWindow() {
  programClose_ = true;
  close();
  programClose_ = false;
}

// ---- timer and closing ----

void MainWindow::OnTimer() {
  timer_.stop();
  bool again = form_->Timer1_Timer();
  // A refused close started the timer again itself.
  if (again && !closed_) timer_.start();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (!form_->Form_QueryUnload(!programClose_)) {
    event->ignore();
    // Closed while working: the timer closes the window once the command
    // has ended.
    if (form_->ClosingRequest() && !timer_.isActive()) timer_.start();
    return;
  }
  closed_ = true;
  timer_.stop();
  // A rip still running ends with the track it is on.
  if (cdWindow_) cdWindow_->close();
  SaveWindowState();
  if (timedBox_) timedBox_->close();
  form_->Form_Unload();
  event->accept();
}

// ---- size, position and arrangement, kept beside the settings ----

QString MainWindow::WindowStateFile() const {
  return PathToQString(form_->Paths().ProgramFolder + form_->Paths().ExeName + "-window.ini");
}

void MainWindow::SaveWindowState() {
  splitMain_[static_cast<std::size_t>(arrangement_)] = mainSplit_->sizes();
  splitLower_[static_cast<std::size_t>(arrangement_)] = lowerSplit_->sizes();
  QSettings s(WindowStateFile(), QSettings::IniFormat);
  s.setValue(QStringLiteral("window/geometry"), saveGeometry());
  s.setValue(QStringLiteral("window/arrangement"), arrangement_);
  for (int a = 0; a < 2; ++a) {
    QVariantList main, lower;
    for (int v : splitMain_[static_cast<std::size_t>(a)]) main << v;
    for (int v : splitLower_[static_cast<std::size_t>(a)]) lower << v;
    s.setValue(QStringLiteral("window/split%1").arg(a), main);
    s.setValue(QStringLiteral("window/lower%1").arg(a), lower);
  }
}

void MainWindow::RestoreWindowState() {
  QSettings s(WindowStateFile(), QSettings::IniFormat);
  for (int a = 0; a < 2; ++a) {
    QList<int> main, lower;
    for (const QVariant& v : s.value(QStringLiteral("window/split%1").arg(a)).toList())
      main << v.toInt();
    for (const QVariant& v : s.value(QStringLiteral("window/lower%1").arg(a)).toList())
      lower << v.toInt();
    if (main.size() == 2) splitMain_[static_cast<std::size_t>(a)] = main;
    if (lower.size() == 2) splitLower_[static_cast<std::size_t>(a)] = lower;
  }
  QByteArray geometry = s.value(QStringLiteral("window/geometry")).toByteArray();
  if (geometry.isEmpty() || !restoreGeometry(geometry)) FitToScreen();
  arrangement_ = s.value(QStringLiteral("window/arrangement"), 0).toInt() == 1 ? 1 : 0;
  ApplyArrangement();
}

}  // namespace velotag::gui
