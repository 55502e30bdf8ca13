#include "ui/exit_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/texts.h"

namespace quill {
namespace ui {

ExitDialog::ExitDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(T(text::kConfirmExit));
  auto* layout = new QVBoxLayout(this);
  const struct { const char* text; Choice choice; } buttons[] = {
      {text::kExit, kQuit}, {text::kMinimise, kMinimise}, {text::kCancel, kCancel}};
  for (const auto& b : buttons) {
    auto* button = new QPushButton(T(b.text), this);
    button->setAutoDefault(false);
    const Choice choice = b.choice;
    QObject::connect(button, &QPushButton::clicked, this, [this, choice] { done(choice); });
    layout->addWidget(button);
  }
}

void ExitDialog::DumpText(QStringList* lines) {
  lines->append("box: " + windowTitle());
  QStringList names;
  for (QPushButton* b : findChildren<QPushButton*>()) names.append(b->text());
  lines->append("buttons: " + names.join(" | "));
}

bool ExitDialog::RunCommand(uint32_t, QString* why) {
  *why = QStringLiteral("the exit confirmation has no menu");
  return false;
}

}  // namespace ui
}  // namespace quill
