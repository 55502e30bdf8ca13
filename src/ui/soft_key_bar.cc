#include "ui/soft_key_bar.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QKeyEvent>

namespace quill {
namespace ui {

SoftKeyBar::SoftKeyBar(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  left_ = new QPushButton(this);
  right_ = new QPushButton(this);
  for (QPushButton* b : {left_, right_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    layout->addWidget(b, 1);
  }
  parent->installEventFilter(this);
}

bool SoftKeyBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    QPushButton* button = key == Qt::Key_F1 ? left_ : key == Qt::Key_F2 ? right_ : nullptr;
    if (button != nullptr && button->isEnabled()) {
      button->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

QString SoftKeyBar::Text() const { return left_->text() + " | " + right_->text(); }

void SoftKeyBar::SetRightMenu(QMenu* menu) {
  QObject::connect(right_, &QPushButton::clicked, menu, [this, menu] {
    const QSize size = menu->sizeHint();
    const QPoint corner = right_->mapToGlobal(QPoint(right_->width(), 0));
    menu->exec(QPoint(corner.x() - size.width(), corner.y() - size.height()));
  });
}

QAction* FindCommand(QMenu* menu, uint32_t command) {
  for (QAction* a : menu->actions()) {
    if (a->menu() != nullptr) {
      if (QAction* inner = FindCommand(a->menu(), command)) return inner;
    } else if (!a->isSeparator() && a->data().toUInt() == command) {
      return a;
    }
  }
  return nullptr;
}

bool TriggerCommand(QMenu* menu, uint32_t command, const QString& menu_name, QString* why) {
  QAction* action = FindCommand(menu, command);
  if (action == nullptr) {
    *why = QStringLiteral("%1 has no command %2").arg(menu_name).arg(command);
    return false;
  }
  if (!action->isEnabled()) {
    *why = QStringLiteral("command %1 (%2) is disabled").arg(command).arg(action->text());
    return false;
  }
  action->trigger();
  return true;
}

}  // namespace ui
}  // namespace quill
