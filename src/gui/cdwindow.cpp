#include "gui/cdwindow.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialogs.h"

namespace velotag::gui {

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text); }

QLineEdit* ReadOnlyBox(const QString& name, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setReadOnly(true);
  return box;
}

void Fill(QListWidget* list, const std::deque<std::string>& lines, int current) {
  list->clear();
  for (const std::string& line : lines) list->addItem(Q(line));
  list->setCurrentRow(current);
}

}  // namespace

CdWindow::CdWindow(FormCDDBHost host, DialogProvider* dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs) {
  setObjectName(QStringLiteral("FormCDDB"));
  setWindowTitle(QStringLiteral("CD-Rip & CDDB"));
  host.changed = [this](CddbControl what) { Show(what); };
  form_ = std::make_unique<FormCDDB>(static_cast<UserInterface&>(*this), std::move(host));

  auto* layout = new QVBoxLayout(this);
  auto* drives = new QHBoxLayout;
  drives->addWidget(new QLabel(QStringLiteral("Drive:"), this));
  cmbDrives_ = new QComboBox(this);
  cmbDrives_->setObjectName(QStringLiteral("CmbDrives"));
  cmbDrives_->setMinimumContentsLength(30);
  connect(cmbDrives_, &QComboBox::activated, this, [this](int index) { form_->CmbDrives_Click(index); });
  drives->addWidget(cmbDrives_, 1);
  drives->addWidget(Button(kCddbRefresh, QStringLiteral("Refresh")));
  auto* image = new QPushButton(QStringLiteral("Image..."), this);
  image->setObjectName(QStringLiteral("CmdImage"));
  image->setToolTip(QStringLiteral("Open a CD image (.cue/.bin, .toc, .nrg) as a drive"));
  connect(image, &QPushButton::clicked, this, &CdWindow::ChooseImage);
  drives->addWidget(image);
  layout->addLayout(drives);

  auto* middle = new QHBoxLayout;
  auto* tracks = new QVBoxLayout;
  lstTracks_ = new QListWidget(this);
  lstTracks_->setObjectName(QStringLiteral("LstTracks"));
  lstTracks_->setSelectionMode(QAbstractItemView::MultiSelection);
  lstTracks_->setFont(QFont(QStringLiteral("Monospace")));
  connect(lstTracks_, &QListWidget::itemSelectionChanged, this, [this] {
    if (syncing_) return;
    for (int row = 0; row < lstTracks_->count(); ++row)
      form_->SetTrackSelected(row, lstTracks_->item(row)->isSelected());
  });
  tracks->addWidget(lstTracks_, 1);
  auto* selection = new QHBoxLayout;
  selection->addWidget(Button(kCddbSelAll, QStringLiteral("Sel. ALL")));
  selection->addWidget(Button(kCddbSelInvert, QStringLiteral("Sel. Invert")));
  tracks->addLayout(selection);
  middle->addLayout(tracks, 2);

  auto* lookup = new QGridLayout;
  cmbServer_ = new QComboBox(this);
  cmbServer_->setObjectName(QStringLiteral("CmbServer"));
  for (const char* entry : FormCDDB::ServerBoxEntries()) cmbServer_->addItem(QString::fromLatin1(entry));
  connect(cmbServer_, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { form_->CmbServer = text.toStdString(); });
  txtEmail_ = new QLineEdit(Q(form_->Email()), this);
  txtEmail_->setObjectName(QStringLiteral("TxtEmail"));
  txtEmail_->setPlaceholderText(QStringLiteral("your e-mail address (the server asks for one)"));
  connect(txtEmail_, &QLineEdit::textChanged, this,
          [this](const QString& text) { form_->Email() = text.trimmed().toStdString(); });
  lookup->addWidget(new QLabel(QStringLiteral("Server:"), this), 0, 0);
  lookup->addWidget(cmbServer_, 0, 1);
  lookup->addWidget(txtEmail_, 0, 2, 1, 2);
  lookup->addWidget(Button(kCddbQuery, QStringLiteral("CDDB query")), 1, 0);
  txtCDDB_[0] = ReadOnlyBox(QStringLiteral("TxtCDDB_0"), this);
  lookup->addWidget(txtCDDB_[0], 1, 1, 1, 3);
  for (int list = 0; list < 2; ++list) {
    lstCDDB_[static_cast<std::size_t>(list)] = new QListWidget(this);
    lstCDDB_[static_cast<std::size_t>(list)]->setObjectName(QStringLiteral("LstCDDB_%1").arg(list));
    connect(lstCDDB_[static_cast<std::size_t>(list)], &QListWidget::currentRowChanged, this,
            [this, list](int row) {
              if (!syncing_) form_->LstCDDB_Click(list, row);
            });
  }
  lookup->addWidget(lstCDDB_[0], 2, 0, 1, 4);
  cmbCategories_ = new QComboBox(this);
  cmbCategories_->setObjectName(QStringLiteral("CmbCategories"));
  cmbCategories_->setEditable(true);
  for (const std::string& name : FormCDDB::CategoryBoxEntries()) cmbCategories_->addItem(Q(name));
  cmbCategories_->setCurrentIndex(-1);
  connect(cmbCategories_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
    if (!syncing_) form_->CmbCategories = text.toStdString();
  });
  txtDiscId_ = new QLineEdit(this);
  txtDiscId_->setObjectName(QStringLiteral("TxtCDDBdiscid"));
  connect(txtDiscId_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!syncing_) form_->TxtCDDBdiscid = text.toStdString();
  });
  lookup->addWidget(cmbCategories_, 3, 0);
  lookup->addWidget(txtDiscId_, 3, 1);
  lookup->addWidget(Button(kCddbRead, QStringLiteral("CDDB read")), 3, 2);
  txtCDDB_[1] = ReadOnlyBox(QStringLiteral("TxtCDDB_1"), this);
  lookup->addWidget(txtCDDB_[1], 4, 0, 1, 4);
  lookup->addWidget(lstCDDB_[1], 5, 0, 1, 4);
  txtRead_[0] = ReadOnlyBox(QStringLiteral("TxtCDDBread_0"), this);
  txtRead_[1] = ReadOnlyBox(QStringLiteral("TxtCDDBread_1"), this);
  lookup->addWidget(txtRead_[0], 6, 0);
  lookup->addWidget(txtRead_[1], 6, 1, 1, 3);
  middle->addLayout(lookup, 3);
  layout->addLayout(middle, 1);

  auto* rip = new QHBoxLayout;
  chkSecure_ = new QCheckBox(QStringLiteral("Secure rip (error correction)"), this);
  chkSecure_->setObjectName(QStringLiteral("ChkSecure"));
  chkSecure_->setChecked(form_->ChkSecure);
  connect(chkSecure_, &QCheckBox::toggled, this, [this](bool on) { form_->ChkSecure = on; });
  rip->addWidget(chkSecure_);
  rip->addWidget(Button(kCddbRip, QString::fromLatin1(kRipButtonCaption)));
  rip->addWidget(Button(kCddbStop, QStringLiteral("STOP")));
  txtRip_ = ReadOnlyBox(QStringLiteral("TxtCDrip"), this);
  rip->addWidget(txtRip_, 1);
  layout->addLayout(rip);
  resize(900, 560);

  form_->Form_Load();
}

CdWindow::~CdWindow() {
  if (timedBox_) delete timedBox_.data();
}

QPushButton* CdWindow::Button(int index, const QString& caption) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QStringLiteral("CmdCDDB_%1").arg(index));
  connect(button, &QPushButton::clicked, this, [this, index] { form_->CmdCDDB_Click(index); });
  return button;
}

void CdWindow::ChooseImage() {
  std::string path = ChooseFile("Open a CD image", "", "CD images|*.cue;*.toc;*.nrg");
  if (!path.empty()) form_->AddDrive(path);
}

void CdWindow::Show(CddbControl what) {
  syncing_ = true;
  switch (what) {
    case CddbControl::Drives:
      cmbDrives_->clear();
      for (const std::string& line : form_->DriveBox()) cmbDrives_->addItem(PathToQString(line));
      cmbDrives_->setCurrentIndex(form_->DriveIndex());
      break;
    case CddbControl::Tracks:
      lstTracks_->clear();
      for (std::size_t row = 0; row < form_->TrackLines().size(); ++row) {
        lstTracks_->addItem(Q(form_->TrackLines()[row]));
        lstTracks_->item(static_cast<int>(row))->setSelected(form_->TrackSelection()[row]);
      }
      break;
    case CddbControl::Matches: Fill(lstCDDB_[0], form_->LstCDDB(0).Lines(), form_->LstCDDBIndex(0)); break;
    case CddbControl::Record: Fill(lstCDDB_[1], form_->LstCDDB(1).Lines(), form_->LstCDDBIndex(1)); break;
    case CddbControl::Answers:
      txtCDDB_[0]->setText(Q(form_->TxtCDDB[0]));
      txtCDDB_[1]->setText(Q(form_->TxtCDDB[1]));
      break;
    case CddbControl::Lookup:
      cmbCategories_->setCurrentText(Q(form_->CmbCategories));
      txtDiscId_->setText(Q(form_->TxtCDDBdiscid));
      txtRead_[0]->setText(Q(form_->TxtCDDBread[0]));
      txtRead_[1]->setText(Q(form_->TxtCDDBread[1]));
      lstCDDB_[0]->setCurrentRow(form_->LstCDDBIndex(0));
      lstCDDB_[1]->setCurrentRow(form_->LstCDDBIndex(1));
      break;
    case CddbControl::RipText: txtRip_->setText(Q(form_->TxtCDrip)); break;
  }
  syncing_ = false;
}

void CdWindow::closeEvent(QCloseEvent* event) {
  form_->Form_Unload();
  if (timedBox_) timedBox_->close();
  event->accept();
}

bool CdWindow::AskYesNo(const std::string& text, const std::string& title) {
  return dialogs_->AskYesNo(this, MessageText(text), Q(title));
}

void CdWindow::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  dialogs_->ShowMessage(this, MessageText(text), Q(title), icon);
}

void CdWindow::ShowTimedMessage(const std::string& text, const std::string& title,
                                MessageIcon icon, int timeoutMs) {
  if (timedBox_) timedBox_->close();
  auto* box = new TimedMessageBox(MessageText(text), Q(title), icon, timeoutMs, this);
  box->setObjectName(QStringLiteral("TimedMessage"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  timedBox_ = box;
}

std::string CdWindow::ChooseFile(const std::string& title, const std::string& start,
                                 const std::string& filter) {
  return QStringToPath(dialogs_->ChooseFile(this, Q(title), PathToQString(start), ToQtFilter(filter)));
}

bool CdWindow::PumpEvents() {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  return dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
}

void CdWindow::OpenExternally(const std::string& pathOrUrl) {
  dialogs_->OpenExternally(PathToUrl(pathOrUrl));
}

}  // namespace velotag::gui
