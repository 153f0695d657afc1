// The window's dialogs: questions, messages, the folder and file pickers,
// the self-closing message box, and text conversions at the Qt boundary.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <string>

#include "library/ui.h"

class QWidget;

namespace velotag::gui {

// What a person answers. The window asks through this; the real one shows
// Qt's dialogs, a test answers instead.
class DialogProvider {
 public:
  virtual ~DialogProvider() = default;
  virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& title);
  virtual void ShowMessage(QWidget* parent, const QString& text, const QString& title,
                           MessageIcon icon);
  // Empty when cancelled.
  virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& start);
  virtual QString ChooseFile(QWidget* parent, const QString& title, const QString& start,
                             const QString& qtFilter);
  virtual void OpenExternally(const QUrl& url);
  // One line of text; false when cancelled.
  virtual bool AskText(QWidget* parent, const QString& title, const QString& label,
                       QString& text);
};

// A message box that closes itself after a time, as if its first button
// were pressed; its title counts the time down ("[02.0 s] QUIT").
class TimedMessageBox : public QMessageBox {
  Q_OBJECT

 public:
  TimedMessageBox(const QString& text, const QString& title, MessageIcon icon, int timeoutMs,
                  QWidget* parent = nullptr);
  int RemainingMs() const;

 private:
  void Tick();

  QString title_;
  int timeoutMs_;
  QElapsedTimer clock_;
  QTimer ticker_;
};

QMessageBox::Icon ToQtIcon(MessageIcon icon);
// "Name|*.a;*.b" (pairs, "|"-separated) as Qt's "Name (*.a *.b)" filters;
// every pattern is offered in upper case too, since names on Linux are
// matched by case ("b.MP3").
QString ToQtFilter(const std::string& filter);
// Paths are the kernel's bytes; text is UTF-8.
QString PathToQString(const std::string& path);
std::string QStringToPath(const QString& path);
// A file URL that keeps every byte of the path.
QUrl PathToUrl(const std::string& path);
// Message texts use CR LF for their line breaks.
QString MessageText(const std::string& text);

}  // namespace velotag::gui
