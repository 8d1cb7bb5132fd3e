#pragma once
// A line edit that shows a changing value cheaply. The control panel's boxes
// get a new number ten times a second, and at every paint a line edit lays
// its text out again, measures it and sets up its style; that was most of
// what the GUI thread spent on the panel.
//
// While the box is at rest (no focus, no selection, nothing but plain text
// in it), it paints its empty panel from a picture and draws the text as one
// run of glyphs, each found once per character, placed by their advances.
// The glyphs are Qt's own, drawn by the same engine; straight into the
// backing store, without a painter, they are copied from stamps of each
// glyph that Qt drew once (CGlyphStamps) wherever that gives the same
// pixels, and drawn through a painter elsewhere. The box learns where
// the line edit puts its text by letting the line edit paint once, reading
// the result back, and finding the place where its own drawing gives that
// result pixel for pixel; until then, or if no place does, and for whatever
// else (a text that does not fit, a character the font lacks, a style sheet,
// a painter it cannot read, the operator working in the box) the line edit
// paints as usual.
//
// A box that only displays (SetDisplayOnly) also takes a new value without
// setting the line edit's text while it is at rest: it paints the value
// itself, and the line edit's text catches up (Settle) before anything else
// can see it: at any event but a paint (focus, pointer, keys, drags, menus,
// changes of style), before the line edit paints, and when accessibility
// comes on. Setting a line edit's text lays the text out, emits signals and
// tells accessibility; for the panel's eighteen readings ten times a second
// that was the largest cost of the GUI thread after the X server's round
// trips. Value() is always what the box shows.

#include <QAccessible>
#include <QGlyphRun>
#include <QImage>
#include <QLineEdit>
#include <QList>
#include <QMargins>
#include <QPointF>
#include <QRawFont>
#include <QString>
#include <array>
#include <bitset>
#include <optional>
#include <unordered_map>

#include "GlyphStamps.h"

namespace ui {

class CValueBox : public QLineEdit, private QAccessible::ActivationObserver {
 public:
  explicit CValueBox(const QString& text, QWidget* parent = nullptr);
  ~CValueBox() override;

  // Only ShowValue writes this box, and nothing reads its text but the
  // operator. (A text set otherwise still replaces a value not handed over
  // where it changes the line edit's text.)
  void SetDisplayOnly(bool displayOnly) { mDisplayOnly = displayOnly; }
  // Shows `text`, at once or, on a box that only displays, as above.
  void ShowValue(const QString& text);
  // What the box shows, whether or not the line edit has it yet.
  QString Value() const { return mPending ? *mPending : text(); }
  // Hands a value the box shows to the line edit.
  void Settle();

  // Paints made by the box itself (for the tests).
  unsigned OwnPaints() const { return mOwnPaints; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // A drag over the box shows where the text would drop: the line edit
  // paints while one is on.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // What the learned drawing depends on that no change event announces.
  struct T_Setting {
    Qt::Alignment Alignment;
    bool Frame;
    QMargins Margins;
    bool operator==(const T_Setting& other) const {
      return Alignment == other.Alignment && Frame == other.Frame && Margins == other.Margins;
    }
  };
  struct T_Glyph {
    quint32 Index = 0;
    qreal Advance = 0;
  };

  void accessibilityActiveChanged(bool active) override;
  // Paints as the line edit, with its text up to date.
  void PaintAsLineEdit(QPaintEvent* event);
  bool AtRest() const;
  bool ClearButton() const;
  T_Setting Setting() const;
  // Compares what the line edit just painted with the box's own drawing and
  // keeps the place of the text where the two agree.
  void Learn(const QRegion& painted);
  // One more text it could not learn from.
  void Unlearned();
  // Draws the empty panel and measures the line.
  void PreparePanel();
  // The glyph run of `text` from `origin` (the line's top left); false when
  // a character has no glyph or the text does not fit.
  bool Layout(const QString& text, QPointF origin);
  const T_Glyph* GlyphFor(QChar character);
  // The panel and the run on `painter`, which paints straight on an image.
  void PaintOwn(QPainter& painter, const QRegion& region);
  void Forget();
  void ForgetGlyphs();

  bool mDisplayOnly = false;
  std::optional<QString> mPending;  // shown, not yet the line edit's text
  bool mSettling = false;
  bool mAccessible = false;  // as last announced to the observers
  mutable std::optional<bool> mClearButton;  // known until the children change
  bool mDragOver = false;
  bool mRefused = false;  // no place reproduces the line edit: it paints
  int mLearnTries = 0;
  std::optional<QPointF> mOrigin;
  std::optional<T_Setting> mSetting;
  QImage mPanel;  // the box without text, as the style draws it
  QRawFont mFont;
  QRectF mLine;  // where the text starts, and how wide it may be
  qreal mAscent = 0;
  QColor mInk;
  static constexpr char16_t kTabledCharacters = 128;
  std::bitset<kTabledCharacters> mTabled;  // known, with or without a glyph
  std::array<std::optional<T_Glyph>, kTabledCharacters> mTabledGlyphs;
  std::unordered_map<char16_t, std::optional<T_Glyph>> mGlyphs;
  QGlyphRun mRun;
  QString mRunText;
  bool mRunValid = false;
  QList<quint32> mIndexes;
  QList<QPointF> mPositions;
  CGlyphStamps mStamps;
  unsigned mOwnPaints = 0;
};

}  // namespace ui
