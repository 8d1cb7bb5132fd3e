#include "FrameCacheStyle.h"

#include <QApplication>
#include <QColor>
#include <QPaintDevice>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

namespace ui {

namespace {

// Enough for every box of both windows in each of its states; a window
// resized many times only starts the collection again.
constexpr size_t kMostPanels = 64;

QStyle* SameKindAsTheApplications() {
  QStyle* style = QStyleFactory::create(QApplication::style()->name());
  return style;  // nullptr: QProxyStyle takes the default style
}

// The colour of what lies behind a box: its parent's background, or for a
// box on its own, the window colour of `own`, its palette.
QColor ColourBehind(const QWidget* box, const QPalette& own) {
  if (box && box->parentWidget()) {
    const QWidget* parent = box->parentWidget();
    return parent->palette().color(parent->backgroundRole());
  }
  return own.color(QPalette::Window);
}

}  // namespace

CFrameCacheStyle::CFrameCacheStyle() : QProxyStyle(SameKindAsTheApplications()) {}

void CFrameCacheStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const {
  const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
  // Only plain panels on an unrotated, unscaled painter are copied: anything
  // else is drawn as the wrapped style draws it.
  if (element != PE_PanelLineEdit || !frame || !painter || !painter->device() || option->rect.isEmpty() ||
      painter->transform().type() > QTransform::TxTranslate) {
    if (element == PE_PanelLineEdit && painter && widget && widget->testAttribute(Qt::WA_OpaquePaintEvent)) {
      painter->fillRect(option->rect, ColourBehind(widget, option->palette));  // the box paints every pixel
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  const QColor behind = ColourBehind(widget, option->palette);
  const qreal ratio = painter->device()->devicePixelRatio();
  const T_PanelKey key{option->rect.width(),
                       option->rect.height(),
                       static_cast<uint32_t>(option->state),
                       option->palette.cacheKey(),
                       qRound64(ratio * 1024),
                       frame->lineWidth,
                       frame->midLineWidth,
                       static_cast<int>(option->direction),
                       behind.rgba()};
  auto found = mPanels.find(key);
  if (found == mPanels.end()) {
    if (mPanels.size() >= kMostPanels) {
      mPanels.clear();
    }
    QPixmap picture(option->rect.size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(behind);
    QStyleOptionFrame atOrigin = *frame;
    atOrigin.rect.moveTopLeft(QPoint(0, 0));
    {
      QPainter onPicture(&picture);
      QProxyStyle::drawPrimitive(element, &atOrigin, &onPicture, widget);
    }
    found = mPanels.emplace(key, std::move(picture)).first;
  }
  painter->drawPixmap(option->rect.topLeft(), found->second);
}

}  // namespace ui
