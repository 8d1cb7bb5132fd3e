#pragma once
// Sizes the windows' controls from the font's metrics. The pixel layout of
// both windows was drawn for the desktop's 9-point sans-serif face, whose
// characters average 6 pixels wide on lines 14 pixels apart; a larger font
// scales every position and size alike, so the arrangement stays, and each
// control then grows where its own text needs more room than that.

#include <QFont>
#include <QRect>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ui {

// Turns text shaping off in `widget`'s font, and so in its children's, for
// text that needs none (digits and Latin captions): it spares the number
// boxes a run of the text shaper on every change of value. Call it before
// the children are placed by their text's size.
void UseUnshapedText(QWidget* widget);

// The factor by which the layout grows for `font` (never below 1).
double LayoutScale(const QFont& font);

int Scaled(int pixels, double scale);
QRect Scaled(const QRect& rect, double scale);

// Places a button on `rect`, widened and heightened to what its caption
// needs (growing to the right and downward).
void FitButton(QPushButton* button, const QRect& rect);

// Places a single-line box on `rect`, heightened to what its font needs.
void FitBox(QLineEdit* box, const QRect& rect);

// Places a caption at its text's own size on `rect`'s row, vertically
// centred: from `rect`'s left edge, or, when the text needs more than
// `rect`'s width, ending at its right edge, so that a longer text grows to
// the left, away from the box on its right.
void FitCaption(QLabel* label, const QRect& rect);

// The desktop's default face at `points`, unshaped as above, enlarged in proportion when the
// application's font is larger than the desktop's (a scaled desktop).
QFont DesktopFont(double points);

}  // namespace ui
