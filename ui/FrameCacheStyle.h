#pragma once
// A style that draws a line edit's panel (its base and frame) once for each
// size, state and palette, and copies that picture at every later paint.
// The control panel's value boxes repaint ten times a second, and the
// desktop style's rounded, antialiased frame costs more to draw than the
// text inside it. Everything else is left to the style it wraps.
//
// The picture is opaque: the frame's rounded corners are drawn over the
// colour of the window behind the box. A box can then be marked as painting
// every one of its pixels (Qt::WA_OpaquePaintEvent), so that repainting it
// does not first paint the window beneath it.

#include <QPixmap>
#include <QColor>
#include <QProxyStyle>
#include <cstdint>
#include <map>
#include <tuple>

class QWidget;

namespace ui {

class CFrameCacheStyle : public QProxyStyle {
 public:
  // Wraps a style of the same kind as the application's.
  CFrameCacheStyle();

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;

  // How many pictures are kept (for the tests).
  size_t CachedPanels() const { return mPanels.size(); }

 private:
  // What makes one picture differ from another: size, state, palette,
  // device pixel ratio (in 1/1024ths), line widths, direction and the
  // colour behind the box. Plain numbers, so that finding the picture
  // costs no text formatting.
  using T_PanelKey = std::tuple<int, int, uint32_t, int64_t, int64_t, int, int, int, uint32_t>;
  mutable std::map<T_PanelKey, QPixmap> mPanels;
};

}  // namespace ui
