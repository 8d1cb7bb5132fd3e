#include "FontFit.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr double kDesignCharWidth = 6.0;
constexpr double kDesignLineHeight = 14.0;

}  // namespace

double LayoutScale(const QFont& font) {
  const QFontMetrics metrics(font);
  return std::max({1.0, metrics.averageCharWidth() / kDesignCharWidth, metrics.height() / kDesignLineHeight});
}

int Scaled(int pixels, double scale) { return static_cast<int>(std::lround(pixels * scale)); }

QRect Scaled(const QRect& rect, double scale) {
  return QRect(Scaled(rect.x(), scale), Scaled(rect.y(), scale), Scaled(rect.width(), scale),
               Scaled(rect.height(), scale));
}

void FitButton(QPushButton* button, const QRect& rect) {
  const QSize hint = button->sizeHint();
  button->setGeometry(rect.x(), rect.y(), std::max(rect.width(), hint.width()),
                      std::max(rect.height(), hint.height()));
}

void FitBox(QLineEdit* box, const QRect& rect) {
  box->setGeometry(rect.x(), rect.y(), rect.width(), std::max(rect.height(), box->minimumSizeHint().height()));
}

void FitCaption(QLabel* label, const QRect& rect) {
  const QSize hint = label->sizeHint();
  const int left = std::min(rect.left(), rect.x() + rect.width() - hint.width());
  label->setGeometry(left, rect.y() + (rect.height() - hint.height()) / 2, hint.width(), hint.height());
}

QFont DesktopFont(double points) {
  const QFont desktop = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  const QFont application = QApplication::font();
  double enlarged = points;
  if (desktop.pointSizeF() > 0 && application.pointSizeF() > desktop.pointSizeF()) {
    enlarged = points * application.pointSizeF() / desktop.pointSizeF();
  }
  QFont font = application;
  font.setPointSizeF(enlarged);
  font.setStyleStrategy(QFont::PreferNoShaping);
  return font;
}

void UseUnshapedText(QWidget* widget) {
  QFont font = widget->font();
  font.setStyleStrategy(QFont::PreferNoShaping);
  widget->setFont(font);
}

}  // namespace ui
