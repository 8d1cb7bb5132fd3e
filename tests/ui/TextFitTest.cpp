// Both windows at the desktop's font and at a font twice its size: every
// caption fits its control, and no caption touches a box or another control.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <string>

#include "KivControl.h"
#include "KivView.h"
#include "QtApp.h"

namespace {

// Checks the direct children of `window`: buttons and labels are at least
// as large as their text needs, every control lies inside the window, and a
// label keeps at least a pixel clear of every other control.
void ExpectTextFits(const QWidget& window, const std::string& scaling) {
  const QRect inside = window.rect();
  const QList<QWidget*> controls = window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (const QWidget* control : controls) {
    const std::string name = scaling + " " + control->objectName().toStdString();
    EXPECT_TRUE(inside.contains(control->geometry())) << name;
    const auto* button = qobject_cast<const QPushButton*>(control);
    const auto* label = qobject_cast<const QLabel*>(control);
    if (button) {
      EXPECT_LE(button->sizeHint().width(), button->width()) << name;
      EXPECT_LE(button->sizeHint().height(), button->height()) << name;
    }
    if (!label || label->text().isEmpty()) {
      continue;
    }
    EXPECT_LE(label->sizeHint().width(), label->width()) << name;
    EXPECT_LE(label->sizeHint().height(), label->height()) << name;
    const QRect clear = label->geometry().adjusted(-1, -1, 1, 1);
    for (const QWidget* other : controls) {
      if (other != control && other->isVisibleTo(&window)) {
        EXPECT_FALSE(clear.intersects(other->geometry())) << name << " touches " << other->objectName().toStdString();
      }
    }
  }
}

void ExpectBothWindowsFit(const std::string& scaling) {
  SorvaneClient::KivControl panel;
  ExpectTextFits(panel, scaling + " panel");
  // The captions the toggles and the read-out take later fit as well.
  for (const char* caption : {"Laser Is On", "Laser: No Sensor"}) {
    panel.ButtonLaserState->setText(caption);
    ExpectTextFits(panel, scaling + " panel with " + caption);
  }
  panel.ButtonSaveFile->setText("File Writing");
  ExpectTextFits(panel, scaling + " panel with File Writing");
  SorvaneClient::KivView view;
  view.LabelReadout->setText(QString::fromUtf8("Angle 359.82\u00B0  Distance 12345.67  Width 12345.67"));
  ExpectTextFits(view, scaling + " view");
}

TEST(TextFit, CaptionsFitAtTheDesktopFontAndAtTwiceItsSize) {
  TestApp();
  const QFont desktop = QApplication::font();
  ExpectBothWindowsFit("100%");
  QFont doubled = desktop;
  doubled.setPointSizeF(desktop.pointSizeF() * 2);
  QApplication::setFont(doubled);
  ExpectBothWindowsFit("200%");
  {
    SorvaneClient::KivControl panel;
    EXPECT_GE(panel.width(), 2 * 684) << "the layout grows with the font";
    EXPECT_GE(panel.LabelFilteredDistance->font().pointSizeF(), 24.0) << "12-point captions doubled";
  }
  QApplication::setFont(desktop);
}

}  // namespace
