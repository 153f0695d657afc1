#include "gui/renamerdialog.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/dialogs.h"

namespace velotag::gui {

RenamerDialog::RenamerDialog(const std::string& currentPattern,
                             const std::vector<std::string>& variables, std::mt19937& random,
                             QWidget* parent)
    : QDialog(parent), form_(currentPattern, variables, random) {
  setObjectName(QStringLiteral("FormRenamer"));
  setWindowTitle(QStringLiteral("File renaming pattern"));
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Pattern:"), this));
  pattern_ = new QLineEdit(this);
  pattern_->setObjectName(QStringLiteral("TxtPattern"));
  layout->addWidget(pattern_);
  layout->addWidget(new QLabel(QStringLiteral("Example (filename):"), this));
  example_ = new QLineEdit(this);
  example_->setObjectName(QStringLiteral("TxtExample"));
  example_->setReadOnly(true);
  layout->addWidget(example_);
  help_ = new QPlainTextEdit(this);
  help_->setObjectName(QStringLiteral("TxtHelp"));
  help_->setReadOnly(true);
  help_->setLineWrapMode(QPlainTextEdit::NoWrap);
  help_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  help_->setPlainText(MessageText(form_.HelpText()));
  QFontMetrics fm(help_->font());
  int widest = 0;
  for (const QString& line : help_->toPlainText().split(QLatin1Char('\n')))
    widest = std::max(widest, fm.horizontalAdvance(line));
  // The whole help in view, with room for the frame and the margins.
  help_->setMinimumSize(widest + 4 * fm.averageCharWidth(), fm.lineSpacing() * 8);
  layout->addWidget(help_);

  auto* buttons = new QGridLayout;
  auto* save = new QPushButton(QStringLiteral("Save pattern"), this);
  save->setObjectName(QStringLiteral("CmdRenamer_0"));
  save->setDefault(true);
  buttons->addWidget(save, 0, 0, 1, 6);
  for (int n = 1; n <= 12; ++n) {
    auto* preset = new QPushButton(QStringLiteral("Profil %1").arg(n), this);
    preset->setObjectName(QStringLiteral("CmdRenamer_%1").arg(n));
    preset->setToolTip(QString::fromUtf8(kRenamePresets[static_cast<std::size_t>(n - 1)]));
    buttons->addWidget(preset, 1 + (n - 1) / 6, (n - 1) % 6);
    connect(preset, &QPushButton::clicked, this, [this, n] {
      form_.Preset(n);
      pattern_->setText(QString::fromUtf8(form_.Pattern()));
    });
  }
  layout->addLayout(buttons);

  connect(pattern_, &QLineEdit::textChanged, this, [this](const QString& text) {
    form_.SetPattern(text.toStdString());
    example_->setText(QString::fromUtf8(form_.Example()));
  });
  connect(save, &QPushButton::clicked, this, [this] {
    saved_ = form_.SavePattern();
    accept();
  });
  pattern_->setText(QString::fromUtf8(form_.Pattern()));
  form_.SetPattern(form_.Pattern());
  example_->setText(QString::fromUtf8(form_.Example()));
}

}  // namespace velotag::gui
