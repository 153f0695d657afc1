// The CD window ("CD-Rip & CDDB") on screen: FormCDDB's controls. Every
// control calls FormCDDB's handlers and shows its state.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>

#include "library/formcddb.h"
#include "library/ui.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace velotag::gui {

class DialogProvider;
class TimedMessageBox;

class CdWindow : public QWidget, private UserInterface {
  Q_OBJECT

 public:
  // host comes from the main window (program folder, settings, closing
  // request); dialogs answers the window's questions.
  CdWindow(FormCDDBHost host, DialogProvider* dialogs, QWidget* parent = nullptr);
  ~CdWindow() override;

  FormCDDB& form() { return *form_; }

 protected:
  // Closing the window presses STOP.
  void closeEvent(QCloseEvent* event) override;

 private:
  bool AskYesNo(const std::string& text, const std::string& title) override;
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  void ShowTimedMessage(const std::string& text, const std::string& title, MessageIcon icon,
                        int timeoutMs) override;
  std::string ChooseFile(const std::string& title, const std::string& start,
                         const std::string& filter) override;
  bool PumpEvents() override;
  void OpenExternally(const std::string& pathOrUrl) override;

  QPushButton* Button(int index, const QString& caption);
  void Show(CddbControl what);
  void ChooseImage();

  DialogProvider* dialogs_;
  std::unique_ptr<FormCDDB> form_;
  bool syncing_ = false;
  QPointer<TimedMessageBox> timedBox_;
  QComboBox* cmbDrives_ = nullptr;
  QListWidget* lstTracks_ = nullptr;
  QComboBox* cmbServer_ = nullptr;
  QLineEdit* txtEmail_ = nullptr;
  std::array<QLineEdit*, 2> txtCDDB_{};
  std::array<QListWidget*, 2> lstCDDB_{};
  QComboBox* cmbCategories_ = nullptr;
  QLineEdit* txtDiscId_ = nullptr;
  std::array<QLineEdit*, 2> txtRead_{};
  QCheckBox* chkSecure_ = nullptr;
  QLineEdit* txtRip_ = nullptr;
};

}  // namespace velotag::gui
