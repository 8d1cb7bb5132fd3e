// A value box at rest shows, from its own pictures, exactly what the line
// edit itself paints, for the texts a panel shows, at both font sizes; and it
// leaves the painting to the line edit while the operator works in it.

#include <gtest/gtest.h>

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
  // number.
  for (const char* text : {"12.34", "-0.56", "65535", "", "7", "-2147483648", "12345678", "123456789", "1234567890",
                           "12345678901", "123456789012345678901234567890", "1.00", "Wy{}|", "0.50"}) {
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

INSTANTIATE_TEST_SUITE_P(FontSizes, ValueBoxTest, ::testing::Values(9, 18));

}  // namespace
