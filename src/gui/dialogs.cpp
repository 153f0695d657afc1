#include "gui/dialogs.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QPushButton>
#include <QStringList>

namespace velotag::gui {

namespace {
constexpr int kTimedTickMs = 100;
}

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Critical: return QMessageBox::Critical;
    case MessageIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

bool DialogProvider::AskYesNo(QWidget* parent, const QString& text, const QString& title) {
  QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void DialogProvider::ShowMessage(QWidget* parent, const QString& text, const QString& title,
                                 MessageIcon icon) {
  QMessageBox box(ToQtIcon(icon), title, text, QMessageBox::Ok, parent);
  box.exec();
}

QString DialogProvider::ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start);
}

QString DialogProvider::ChooseFile(QWidget* parent, const QString& title, const QString& start,
                                   const QString& qtFilter) {
  return QFileDialog::getOpenFileName(parent, title, start, qtFilter);
}

void DialogProvider::OpenExternally(const QUrl& url) { QDesktopServices::openUrl(url); }

bool DialogProvider::AskText(QWidget* parent, const QString& title, const QString& label,
                             QString& text) {
  bool ok = false;
  QString answer = QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, &ok);
  if (ok) text = answer;
  return ok;
}

TimedMessageBox::TimedMessageBox(const QString& text, const QString& title, MessageIcon icon,
                                 int timeoutMs, QWidget* parent)
    : QMessageBox(ToQtIcon(icon), QString(), text, QMessageBox::Ok, parent),
      title_(title), timeoutMs_(timeoutMs) {
  setWindowTitle(QString::fromStdString(TimedMessageTitle(title_.toStdString(), timeoutMs_)));
  clock_.start();
  ticker_.setInterval(kTimedTickMs);
  connect(&ticker_, &QTimer::timeout, this, &TimedMessageBox::Tick);
  connect(this, &QMessageBox::finished, &ticker_, &QTimer::stop);
  ticker_.start();
}

int TimedMessageBox::RemainingMs() const {
  return std::max<int>(0, timeoutMs_ - static_cast<int>(clock_.elapsed()));
}

void TimedMessageBox::Tick() {
  int remaining = RemainingMs();
  setWindowTitle(QString::fromStdString(TimedMessageTitle(title_.toStdString(), remaining)));
  if (remaining > 0) return;
  ticker_.stop();
  const QList<QAbstractButton*> list = buttons();
  if (!list.isEmpty()) list.front()->click();
  else done(0);
}

QString ToQtFilter(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      QString pattern = p.trimmed();
      if (pattern.isEmpty() || patterns.contains(pattern)) continue;
      patterns << pattern;
      if (pattern.toUpper() != pattern) patterns << pattern.toUpper();
    }
    filters << parts[i] + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters.join(QLatin1String(";;"));
}

QString PathToQString(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string QStringToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QUrl PathToUrl(const std::string& path) {
  QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
  return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

QString MessageText(const std::string& text) {
  QString s = QString::fromUtf8(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return s;
}

}  // namespace velotag::gui
