#include "ui/handheld_style.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFont>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QTranslator>

namespace quill {
namespace ui {
namespace {

class HandheldStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_Menu_Scrollable) return 1;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    switch (metric) {
      case PM_MenuVMargin:
      case PM_MenuHMargin:
        return 1;
      case PM_MenuScrollerHeight:
        return 12;
      default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
  }
};

}  // namespace

void ApplyHandheldLook(QApplication* app) {
  app->setStyle(new HandheldStyle);
  QFont font(QStringLiteral("WenQuanYi Micro Hei"));
  font.setPixelSize(12);
  app->setFont(font);
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  auto* qt_texts = new QTranslator(app);
  if (qt_texts->load(QStringLiteral("qtbase_zh_CN"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    app->installTranslator(qt_texts);
  }
}

QString PlainButtonText(QString text) {
  static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)$"));
  text.remove(mnemonic);
  text.remove(QLatin1Char('&'));
  return text.trimmed();
}

QLabel* AddStatusLine(QBoxLayout* layout, QWidget* owner) {
  auto* status = new QLabel(owner);
  status->setObjectName("status");
  status->setContentsMargins(4, 1, 4, 1);
  status->setMinimumHeight(status->fontMetrics().height() + 2);
  layout->addWidget(status);
  return status;
}

}  // namespace ui
}  // namespace quill
