#pragma once
// A line edit that shows a changing value cheaply. The control panel's boxes
// get a new number ten times a second, and at every paint a line edit lays
// its text out again, measures it and sets up its style; that was most of
// what the GUI thread spent on the panel.
//
// While the box is at rest (no focus, no selection, nothing but plain text
// in it), it paints its empty panel from a picture and draws the text as one
// run of glyphs, each found once per character, placed by their advances.
// The glyphs are Qt's own, drawn by the same engine. The box learns where
// the line edit puts its text by letting the line edit paint once, reading
// the result back, and finding the place where its own drawing gives that
// result pixel for pixel; until then, or if no place does, and for whatever
// else (a text that does not fit, a character the font lacks, a style sheet,
// a painter it cannot read, the operator working in the box) the line edit
// paints as usual.

#include <QGlyphRun>
#include <QImage>
#include <QLineEdit>
#include <QList>
#include <QMargins>
#include <QPointF>
#include <QRawFont>
#include <QString>
#include <optional>
#include <unordered_map>

namespace ui {

class CValueBox : public QLineEdit {
 public:
  explicit CValueBox(const QString& text, QWidget* parent = nullptr);

  // Paints made by the box itself (for the tests).
  unsigned OwnPaints() const { return mOwnPaints; }

 protected:
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

  bool AtRest() const;
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
  std::unordered_map<char16_t, std::optional<T_Glyph>> mGlyphs;
  QGlyphRun mRun;
  QString mRunText;
  bool mRunValid = false;
  QList<quint32> mIndexes;
  QList<QPointF> mPositions;
  unsigned mOwnPaints = 0;
};

}  // namespace ui
