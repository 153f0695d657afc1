// FormRenamer on screen: the pattern box with its live example, the help
// text, "Save pattern" and the twelve presets.
#pragma once

#include <QDialog>
#include <random>
#include <string>
#include <vector>

#include "library/renamer.h"

class QLineEdit;
class QPlainTextEdit;

namespace velotag::gui {

class RenamerDialog : public QDialog {
  Q_OBJECT

 public:
  RenamerDialog(const std::string& currentPattern, const std::vector<std::string>& variables,
                std::mt19937& random, QWidget* parent = nullptr);
  // After "Save pattern" (the dialog was accepted): the new current pattern.
  std::string SavedPattern() const { return saved_; }

 private:
  FormRenamer form_;
  QLineEdit* pattern_ = nullptr;
  QLineEdit* example_ = nullptr;
  QPlainTextEdit* help_ = nullptr;
  std::string saved_;
};

}  // namespace velotag::gui
