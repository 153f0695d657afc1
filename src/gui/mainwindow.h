// The main window: Form1's controls on screen. Every control calls Form1's
// handlers and shows Form1's state; the window holds no tag logic.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "library/form1.h"
#include "library/ui.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QKeySequence;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSplitter;
class QWidget;

namespace velotag::gui {

class ButtonRows;
class CaptionFrame;
class CdWindow;
class DialogProvider;
class GridWidget;
class TimedMessageBox;

class MainWindow : public QMainWindow, private UserInterface {
  Q_OBJECT

 public:
  // dialogs answers the window's questions; nullptr: Qt's real dialogs.
  MainWindow(AppPaths paths, std::unique_ptr<FingerprintLookup> fingerprint,
             DialogProvider* dialogs = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The two start-up stages; false when the program must end (another
  // instance runs: it took handOver, the paths of this start, or the
  // message was shown).
  bool Start(const std::vector<std::string>& handOver = {});
  // Files and folders given on the command line or dropped on the grid:
  // added as "Add media folder" / "Add media file" add them, with subfolders.
  void AddPaths(const std::vector<std::string>& paths);

  Form1& form() { return *form_; }
  GridWidget* grid() { return grid_; }
  // The window really closed (the settings were written).
  bool Closed() const { return closed_; }
  // CmdResize's arrangements: 0 the list above the panel and the log, 1
  // the list beside them.
  int Arrangement() const { return arrangement_; }
  void SetArrangement(int arrangement);
  // The timed message box on screen, if any.
  TimedMessageBox* TimedMessage() const;
  // Where the window keeps its size, position and arrangement.
  QString WindowStateFile() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // UserInterface.
  bool AskYesNo(const std::string& text, const std::string& title) override;
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  void ShowTimedMessage(const std::string& text, const std::string& title, MessageIcon icon,
                        int timeoutMs) override;
  std::string ChooseFolder(const std::string& title, const std::string& start) override;
  std::string ChooseFile(const std::string& title, const std::string& start,
                         const std::string& filter) override;
  bool PumpEvents() override;
  void StatusLineAdded(const std::string& line) override;
  void CaptionChanged(Caption which) override;
  void FieldPanelChanged() override;
  void OpenExternally(const std::string& pathOrUrl) override;
  void CopyToClipboard(const std::string& text) override;
  void FocusSearchBox() override;
  void ShowRenamer() override;
  void ShowCdWindow() override;
  void CloseWindow() override;
  bool HandToRunningInstance() override;

  void BuildBrowser();
  void BuildPanel();
  void BuildLog();
  void BuildMenus();
  void ApplyArrangement();
  void SyncPanel();
  void SyncButtons();
  void SyncAllCaptions();
  void OnTimer();
  // A first start's size and place, from the screen's free area.
  void FitToScreen();
  void SaveWindowState();
  void RestoreWindowState();
  // A media browser command, from its button or its menu entry.
  void RunInput(int index);
  QPushButton* InputButton(int index, QWidget* parent);
  QPushButton* PanelButton(int index, QWidget* parent);
  QAction* AddAction(QMenu* menu, const QString& text, const QKeySequence& key,
                     std::function<void()> run);

  std::unique_ptr<DialogProvider> ownDialogs_;
  DialogProvider* dialogs_;
  std::unique_ptr<Form1> form_;
  bool ready_ = false;
  bool syncing_ = false;
  bool programClose_ = false;
  bool closed_ = false;
  int arrangement_ = 0;
  QTimer timer_;
  QPointer<TimedMessageBox> timedBox_;
  std::vector<std::string> handOver_;
  QPointer<CdWindow> cdWindow_;

  CaptionFrame* frame1_ = nullptr;
  CaptionFrame* frame2_ = nullptr;
  GridWidget* grid_ = nullptr;
  QLineEdit* txtSearch_ = nullptr;
  ButtonRows* browserButtons_ = nullptr;
  ButtonRows* batchButtons_ = nullptr;
  std::array<QPushButton*, kBrowserCommandCount> cmdInput_{};
  std::array<QPushButton*, kPanelCommandCount> cmdID3v1_{};
  std::array<QCheckBox*, kCheckBoxCount> chkID3v1_{};
  std::array<QLineEdit*, kTextBoxCount> txtID3_{};
  QComboBox* cmbID3v1_ = nullptr;
  QCheckBox* chkAutoTrack_ = nullptr;
  QCheckBox* chkID3_ = nullptr;
  QComboBox* cmbTXXX_ = nullptr;
  QLabel* lblTXXX_ = nullptr;
  std::array<QRadioButton*, 2> optID3editVer_{};
  std::array<QRadioButton*, 2> optID3ver_{};
  QListWidget* lstStat_ = nullptr;
  QPushButton* cmdStop_ = nullptr;
  QPushButton* cmdResize_ = nullptr;
  QLabel* rowCount_ = nullptr;
  QSplitter* mainSplit_ = nullptr;
  QSplitter* lowerSplit_ = nullptr;
  QWidget* panelPage_ = nullptr;
  QAction* stopAction_ = nullptr;
  std::array<QAction*, kBrowserCommandCount> inputActions_{};
  std::array<QAction*, kPanelCommandCount> panelActions_{};
  std::array<QAction*, 2> editActions_{};
  std::array<QAction*, 2> showActions_{};
  std::array<QList<int>, 2> splitMain_;
  std::array<QList<int>, 2> splitLower_;
};

}  // namespace velotag::gui
