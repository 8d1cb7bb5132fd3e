// A value box at rest shows, from its own pictures, exactly what the line
// edit itself paints, for the texts a panel shows, at both font sizes; and it
// leaves the painting to the line edit while the operator works in it.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <memory>

#include "FrameCacheStyle.h"
#include "QtApp.h"
#include "ValueBox.h"

namespace {

class ValueBoxTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    TestApp();
    style = std::make_unique<ui::CFrameCacheStyle>();
    window = std::make_unique<QWidget>();
    QFont font = window->font();
    font.setPointSize(GetParam());
    font.setStyleStrategy(QFont::PreferNoShaping);
    window->setFont(font);
    window->resize(300, 120);
    // The focus goes to a button, as on the panel.
    focused = new QPushButton(QStringLiteral("Set"), window.get());
    focused->setGeometry(10, 80, 80, 30);
    box = new ui::CValueBox(QString(), window.get());
    box->setStyle(style.get());
    box->setAttribute(Qt::WA_OpaquePaintEvent);
    box->setGeometry(10, 10, 100 * GetParam() / 9, box->minimumSizeHint().height());
    // A plain line edit beside it, painted by the line edit alone.
    plain = new QLineEdit(window.get());
    plain->setStyle(style.get());
    plain->setAttribute(Qt::WA_OpaquePaintEvent);
    plain->setGeometry(box->geometry().translated(0, box->height() + 10));
    window->show();
    QCoreApplication::processEvents();
  }

  // The box as it is on the screen, against the plain line edit's painting
  // of the same text.
  void ExpectShownAsTheLineEditPaints(const QString& text) {
    box->setText(text);
    plain->setText(text);
    QCoreApplication::processEvents();
    const QImage screen = window->screen()->grabWindow(window->winId()).toImage();
    EXPECT_EQ(screen.copy(box->geometry()), screen.copy(plain->geometry()))
        << "\"" << text.toStdString() << "\" at " << GetParam() << " points";
  }

  std::unique_ptr<ui::CFrameCacheStyle> style;  // outlives the window
  std::unique_ptr<QWidget> window;
  ui::CValueBox* box = nullptr;
  QLineEdit* plain = nullptr;
  QPushButton* focused = nullptr;
};

TEST_P(ValueBoxTest, AtRestShowsWhatTheLineEditPaintsAndItsPicturesServe) {
  // Numbers as the panel writes them, a blank, lengths about the widest
  // that fits, one that does not fit, and characters that are not in a
  // number, among them neighbours whose pixels meet.
  for (const char* text : {"12.34", "-0.56", "65535", "", "7", "-2147483648", "12345678", "123456789", "1234567890",
                           "12345678901", "123456789012345678901234567890", "1.00", "Wy{}|", "0.50", "ffff", "VAVA",
                           "TTTT", "fjfj", "//", "WWW", "r,y"}) {
    ExpectShownAsTheLineEditPaints(QString::fromLatin1(text));
  }
  EXPECT_GT(box->OwnPaints(), 5u);
}

TEST_P(ValueBoxTest, TheLineEditPaintsWhileTheBoxHasTheFocusAndThePicturesAfter) {
  ExpectShownAsTheLineEditPaints(QStringLiteral("12.34"));
  ExpectShownAsTheLineEditPaints(QStringLiteral("12.35"));
  window->activateWindow();
  box->setFocus();
  ASSERT_TRUE(PumpUntil([&] { return box->hasFocus(); }));
  const unsigned before = box->OwnPaints();
  box->setText(QStringLiteral("98.76"));
  QCoreApplication::processEvents();
  EXPECT_EQ(box->OwnPaints(), before);

  focused->setFocus();
  ExpectShownAsTheLineEditPaints(QStringLiteral("45.67"));
  ExpectShownAsTheLineEditPaints(QStringLiteral("45.68"));
  EXPECT_GT(box->OwnPaints(), before);
}

TEST_P(ValueBoxTest, ADisplayOnlyBoxShowsItsValuesItselfAndItsTextCatchesUpBeforeAnyoneCanSeeIt) {
  box->SetDisplayOnly(true);
  ExpectShownAsTheLineEditPaints(QStringLiteral("12.34"));  // learnt from the line edit
  auto expectShown = [&](const QString& text) {
    plain->setText(text);
    QCoreApplication::processEvents();
    const QImage screen = window->screen()->grabWindow(window->winId()).toImage();
    EXPECT_EQ(screen.copy(box->geometry()), screen.copy(plain->geometry())) << text.toStdString();
    EXPECT_EQ(box->Value(), text);
  };
  for (const char* text : {"-0.56", "", "65535", "7.25"}) {
    box->ShowValue(QString::fromLatin1(text));
    expectShown(QString::fromLatin1(text));
  }
  EXPECT_EQ(box->text(), QStringLiteral("12.34")) << "the line edit was not set for a box at rest";
  // Anything that could let the operator see the text hands it over first.
  QEvent enter(QEvent::Enter);
  QCoreApplication::sendEvent(box, &enter);
  EXPECT_EQ(box->text(), QStringLiteral("7.25"));
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(box, &leave);
  box->ShowValue(QStringLiteral("3.21"));
  QAccessible::setActive(true);
  EXPECT_EQ(box->text(), QStringLiteral("3.21"));
  box->ShowValue(QStringLiteral("3.22"));
  EXPECT_EQ(box->text(), QStringLiteral("3.22")) << "set at once while accessibility is on";
  QAccessible::setActive(false);
  // A value the operator could not see whole is set at once: here one
  // longer than the box's limit, which the line edit would cut.
  box->setMaxLength(4);
  box->ShowValue(QStringLiteral("123.45"));
  EXPECT_EQ(box->text(), QStringLiteral("123."));
  box->setMaxLength(32767);
  // A text set on the line edit directly replaces a value not handed over.
  box->ShowValue(QStringLiteral("1.00"));
  box->setText(QStringLiteral("2.00"));
  expectShown(QStringLiteral("2.00"));
  // With a clear button the line edit paints, and takes a value at once.
  box->setClearButtonEnabled(true);
  box->ShowValue(QStringLiteral("9.99"));
  EXPECT_EQ(box->text(), QStringLiteral("9.99"));
  box->setClearButtonEnabled(false);
  // The focus: the line edit paints, with the value last shown.
  box->ShowValue(QStringLiteral("4.56"));
  window->activateWindow();
  box->setFocus();
  ASSERT_TRUE(PumpUntil([&] { return box->hasFocus(); }));
  EXPECT_EQ(box->text(), QStringLiteral("4.56"));
}

TEST_P(ValueBoxTest, ABoxACommandReadsIsSetAtOnce) {
  ExpectShownAsTheLineEditPaints(QStringLiteral("12.34"));
  box->ShowValue(QStringLiteral("56.78"));
  EXPECT_EQ(box->text(), QStringLiteral("56.78"));
}

INSTANTIATE_TEST_SUITE_P(FontSizes, ValueBoxTest, ::testing::Values(9, 18));

}  // namespace
