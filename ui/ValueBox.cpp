#include "ValueBox.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <cmath>

#include "FrameCacheStyle.h"
#include "StraightCopy.h"

namespace ui {

namespace {

// Texts the box may try to learn from before it leaves painting to the line
// edit for good (each can hold a character the font lacks).
constexpr int kMostLearnTries = 3;
// The line edit's own margin inside its contents, in pixels.
constexpr int kHorizontalMargin = 2;

// The smallest rectangle holding every pixel in which `painted` differs from
// `empty`, both of a size and format.
QRect InkBounds(const QImage& painted, const QImage& empty) {
  QRect bounds;
  for (int y = 0; y < painted.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(painted.constScanLine(y));
    const auto* blank = reinterpret_cast<const QRgb*>(empty.constScanLine(y));
    for (int x = 0; x < painted.width(); ++x) {
      if (line[x] != blank[x]) {
        bounds |= QRect(x, y, 1, 1);
      }
    }
  }
  return bounds;
}

}  // namespace

CValueBox::CValueBox(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
  QAccessible::installActivationObserver(this);
  // A text set on the line edit by anyone else replaces a value not yet
  // handed over.
  connect(this, &QLineEdit::textChanged, this, [this] {
    if (!mSettling) {
      mPending.reset();
    }
  });
}

CValueBox::~CValueBox() { QAccessible::removeActivationObserver(this); }

void CValueBox::ShowValue(const QString& text) {
  if (text == Value()) {
    return;
  }
  // Only where the box's own drawing shows the text, and the whole of it,
  // and no assistive technology reads the line edit.
  const bool ownDrawing = mDisplayOnly && mOrigin && !mRefused && AtRest() && text.size() <= maxLength();
  if (ownDrawing && !mAccessible && !QAccessible::isActive() && Layout(text, *mOrigin)) {
    mPending = text;
    update();
    return;
  }
  Settle();
  setText(text);
}

void CValueBox::Settle() {
  if (mPending) {
    const QString text = std::move(*mPending);
    mPending.reset();
    mSettling = true;
    setText(text);
    mSettling = false;
  }
}

void CValueBox::accessibilityActiveChanged(bool active) {
  mAccessible = active;
  if (active) {
    Settle();
  }
}

bool CValueBox::event(QEvent* event) {
  if (event->type() != QEvent::Paint) {
    Settle();
  }
  if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildRemoved) {
    mClearButton.reset();  // the clear button is a child action and its button
  }
  return QLineEdit::event(event);
}

void CValueBox::PaintAsLineEdit(QPaintEvent* event) {
  Settle();
  QLineEdit::paintEvent(event);
}

bool CValueBox::AtRest() const {
  const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
  const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
  return !hasFocus() && !mDragOver && !hasSelectedText() && !underMouse() && echoMode() == Normal &&
         styleSheet().isEmpty() && testAttribute(Qt::WA_OpaquePaintEvent) && layoutDirection() == Qt::LeftToRight &&
         (horizontal == Qt::AlignLeft || horizontal == 0) && (vertical == Qt::AlignVCenter || vertical == 0) &&
         actions().isEmpty() && !ClearButton() && (placeholderText().isEmpty() || !Value().isEmpty());
}

// The line edit looks its clear button up by name among its children.
bool CValueBox::ClearButton() const {
  if (!mClearButton) {
    mClearButton = isClearButtonEnabled();
  }
  return *mClearButton;
}

CValueBox::T_Setting CValueBox::Setting() const { return {alignment(), hasFrame(), textMargins()}; }

void CValueBox::paintEvent(QPaintEvent* event) {
  if (mRefused || !AtRest()) {
    PaintAsLineEdit(event);
    return;
  }
  if (mSetting && !(*mSetting == Setting())) {
    Forget();
  }
  if (!mOrigin) {
    PaintAsLineEdit(event);
    Learn(event->region());
    return;
  }
  const QString shown = Value();
  const bool laidOut = (mRunValid && shown == mRunText) || Layout(shown, *mOrigin);
  if (laidOut) {
    // Without a painter where the stamps can show the text.
    QPoint offset;
    QPaintDevice* device = redirected(&offset);
    QPoint at;
    QImage* target = StraightTarget(device, offset, at);
    if (target && mStamps.Paint(*target, at, mPanel, mIndexes, mPositions, event->region())) {
      ++mOwnPaints;
      return;
    }
  }
  {
    QPainter painter(this);
    QPoint at;
    if (laidOut && StraightTarget(painter, at)) {
      PaintOwn(painter, event->region());
      ++mOwnPaints;
      return;
    }
  }
  // A painter the box cannot write straight (a scaled screen, a device that
  // is not an image), or a text the run cannot show.
  PaintAsLineEdit(event);
}

void CValueBox::PaintOwn(QPainter& painter, const QRegion& region) {
  if (!CopyStraight(painter, mPanel, region)) {
    painter.drawImage(QPoint(0, 0), mPanel);
  }
  if (!mRun.isEmpty()) {
    painter.setPen(mInk);
    painter.drawGlyphRun(QPointF(0, 0), mRun);
  }
}

void CValueBox::Learn(const QRegion& painted) {
  const QString shown = text();
  if (shown.isEmpty() || !painted.contains(rect())) {
    return;
  }
  QImage result;
  {
    QPainter painter(this);
    QPoint at;
    const QImage* target = StraightTarget(painter, at);
    if (!target || !target->rect().contains(rect().translated(at))) {
      return;  // nothing to read it from; the next paint may be on the window
    }
    result = target->copy(rect().translated(at));
  }
  PreparePanel();
  // The text's place: where its ink starts in the line edit's painting,
  // against where it starts in the box's own drawing from the computed
  // place; then that place is checked pixel for pixel.
  QImage own(size(), result.format());
  const QImage panel = mPanel.convertToFormat(result.format());
  const auto draw = [&](QPointF origin) {
    if (!Layout(shown, origin)) {
      return false;
    }
    // As a paint would draw it: from the stamps where they can.
    if (!mStamps.Paint(own, QPoint(0, 0), mPanel, mIndexes, mPositions, QRegion(own.rect()))) {
      QPainter painter(&own);
      PaintOwn(painter, QRegion(own.rect()));
    }
    return true;
  };
  const QPointF guess = mLine.topLeft();
  const QRect theirs = InkBounds(result, panel);
  if (!draw(guess) || theirs.isEmpty()) {
    Unlearned();
    return;
  }
  const QRect ours = InkBounds(own, panel);
  const QPointF shifted = guess + QPointF(theirs.topLeft() - ours.topLeft());
  for (const int dy : {0, -1, 1}) {
    for (const int dx : {0, -1, 1}) {
      const QPointF origin = shifted + QPointF(dx, dy);
      if (draw(origin) && own == result) {
        mOrigin = origin;
        mSetting = Setting();
        return;
      }
    }
  }
  Unlearned();
}

void CValueBox::Unlearned() {
  mRunValid = false;
  if (++mLearnTries >= kMostLearnTries) {
    mRefused = true;
  }
}

void CValueBox::PreparePanel() {
  mPanel = QImage(size(), QImage::Format_RGB32);
  mPanel.fill(ColourBehind(this, palette()));
  QStyleOptionFrame option;
  initStyleOption(&option);
  {
    QPainter painter(&mPanel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
  }
  // The line edit's text line: vertically centred in its contents and inset
  // by its margins. A text fits when its advances leave room in it for the
  // font's most negative bearings; a wider one is scrolled.
  const QRect contents =
      style()->subElementRect(QStyle::SE_LineEditContents, &option, this).marginsRemoved(textMargins());
  const QFontMetrics metrics(font());
  const int leftBearing = std::max(0, -metrics.minLeftBearing());
  const int rightBearing = std::max(0, -metrics.minRightBearing());
  mLine = QRectF(contents.x() + kHorizontalMargin,
                 contents.y() + (contents.height() - metrics.height() + 1) / 2,
                 contents.width() - 2 * kHorizontalMargin - leftBearing - rightBearing - 1, metrics.height());
  mFont = QRawFont::fromFont(font());
  mAscent = mFont.ascent();
  mInk = palette().color(QPalette::Text);
  // The stamps lie on the panel's inside where it is all of one colour: the
  // contents without any shaded edge of the frame.
  QRect inside = contents.intersected(mPanel.rect());
  const QRgb plain = inside.isEmpty() ? 0 : mPanel.pixel(inside.center());
  const auto plainRow = [&](int y) {
    const auto* line = reinterpret_cast<const QRgb*>(mPanel.constScanLine(y));
    return std::all_of(line + inside.left(), line + inside.right() + 1, [&](QRgb pixel) { return pixel == plain; });
  };
  const auto plainColumn = [&](int x) {
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
      if (mPanel.pixel(x, y) != plain) {
        return false;
      }
    }
    return true;
  };
  while (!inside.isEmpty() && !plainRow(inside.top())) inside.setTop(inside.top() + 1);
  while (!inside.isEmpty() && !plainRow(inside.bottom())) inside.setBottom(inside.bottom() - 1);
  while (!inside.isEmpty() && !plainColumn(inside.left())) inside.setLeft(inside.left() + 1);
  while (!inside.isEmpty() && !plainColumn(inside.right())) inside.setRight(inside.right() - 1);
  bool uniform = !inside.isEmpty();
  for (int y = inside.top(); uniform && y <= inside.bottom(); ++y) {
    uniform = plainRow(y);
  }
  mStamps.Reset(mFont, mInk, plain, uniform ? inside : QRect());
  ForgetGlyphs();
  mRun = QGlyphRun();
  mRun.setRawFont(mFont);
  mRunValid = false;
}

const CValueBox::T_Glyph* CValueBox::GlyphFor(QChar character) {
  const char16_t code = character.unicode();
  // The characters of numbers straight from a table, the others by a look-up.
  std::optional<T_Glyph>* slot = nullptr;
  if (code < kTabledCharacters) {
    slot = &mTabledGlyphs[code];
    if (mTabled.test(code)) {
      return *slot ? &**slot : nullptr;
    }
    mTabled.set(code);
  } else {
    const auto found = mGlyphs.find(code);
    if (found != mGlyphs.end()) {
      return found->second ? &*found->second : nullptr;
    }
    slot = &mGlyphs[code];
  }
  const QList<quint32> indexes = character.isSurrogate() ? QList<quint32>()
                                                         : mFont.glyphIndexesForString(QString(character));
  // Index 0 is the font's missing glyph: the line edit would take the
  // character from another font.
  if (indexes.size() == 1 && indexes[0] != 0) {
    const QList<QPointF> advances = mFont.advancesForGlyphIndexes(indexes);
    if (advances.size() == 1) {
      *slot = T_Glyph{indexes[0], advances[0].x()};
    }
  }
  return *slot ? &**slot : nullptr;
}

bool CValueBox::Layout(const QString& text, QPointF origin) {
  mRunValid = false;
  if (!mFont.isValid()) {
    return false;
  }
  mIndexes.clear();
  mPositions.clear();
  qreal advance = 0;
  for (const QChar character : text) {
    const T_Glyph* glyph = GlyphFor(character);
    if (!glyph) {
      return false;
    }
    mIndexes.push_back(glyph->Index);
    mPositions.push_back(QPointF(origin.x() + advance, origin.y() + mAscent));
    advance += glyph->Advance;
  }
  if (std::lround(advance) > mLine.width()) {
    return false;  // the line edit scrolls a text this wide
  }
  mRun.setGlyphIndexes(mIndexes);
  mRun.setPositions(mPositions);
  mRunText = text;
  mRunValid = true;
  return true;
}

void CValueBox::ForgetGlyphs() {
  mGlyphs.clear();
  mTabled.reset();
  mTabledGlyphs.fill(std::nullopt);
}

void CValueBox::Forget() {
  mRefused = false;
  mLearnTries = 0;
  mOrigin.reset();
  mSetting.reset();
  ForgetGlyphs();
  mStamps.Reset(QRawFont(), QColor(), 0, QRect());
  mPanel = QImage();
  mRun = QGlyphRun();
  mRunValid = false;
}

void CValueBox::changeEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::EnabledChange:
    case QEvent::ActivationChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::ReadOnlyChange:
    case QEvent::ParentChange:
      Forget();
      break;
    default:
      break;
  }
  QLineEdit::changeEvent(event);
}

void CValueBox::dragEnterEvent(QDragEnterEvent* event) {
  mDragOver = true;
  QLineEdit::dragEnterEvent(event);
}

void CValueBox::dragLeaveEvent(QDragLeaveEvent* event) {
  mDragOver = false;
  QLineEdit::dragLeaveEvent(event);
}

void CValueBox::dropEvent(QDropEvent* event) {
  mDragOver = false;
  QLineEdit::dropEvent(event);
}

void CValueBox::resizeEvent(QResizeEvent* event) {
  Forget();
  QLineEdit::resizeEvent(event);
}

}  // namespace ui
