#include "KivView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QMetaObject>
#include <QPainter>
#include <QPoint>
#include <algorithm>

#include "Diagnostics.h"
#include "SkarvIO.h"
#include "ValueFormat.h"

namespace {

constexpr int kClientWidth = 784;
constexpr int kClientHeight = 562;
constexpr int kMinimumLimit = 10;
// The strip along the bottom that holds the limit boxes.
constexpr int kBoxStripHeight = 37;

// Pen colours of the two traces: the named colours red (#FF0000) and green
// (#008000).
const QColor kDistanceColour(0xFF, 0x00, 0x00);
const QColor kWidthColour(0x00, 0x80, 0x00);

void DrawTrace(QPainter& painter, const std::vector<ui::T_PlotPoint>& points, const QPen& pen) {
  if (points.size() < 2) {
    return;
  }
  std::vector<QPoint> polyline(points.size());
  std::transform(points.begin(), points.end(), polyline.begin(),
                 [](const ui::T_PlotPoint& p) { return QPoint(p.x, p.y); });
  painter.setPen(pen);
  painter.drawPolyline(polyline.data(), static_cast<int>(polyline.size()));
}

}  // namespace

namespace SorvaneClient {

std::array<double, ui::kAngleSteps> mSinAng{};
std::array<double, ui::kAngleSteps> mCosAng{};

namespace {

class CPlotArea : public QWidget {
 public:
  CPlotArea(KivView* view) : QWidget(view), mView(view) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the view fills every pixel itself
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    mView->PaintPlot(painter, rect());
  }

 private:
  KivView* mView;
};

}  // namespace

KivView::KivView()
    : LabelMaxWidth(new QLabel("Max Width", this)),
      ValBoxMaxWidth(new QLineEdit("400", this)),
      LabelMaxDist(new QLabel("Max Distance", this)),
      ValBoxMaxDistance(new QLineEdit("120", this)),
      mPlotArea(new CPlotArea(this)),
      IsocEvents(kTickMs, [this] { IsocEvents_Tick(); }, "View Thread Done....\n") {
  setObjectName("KivView");
  setWindowTitle("KivView");
  resize(kClientWidth, kClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  LabelMaxWidth->adjustSize();
  LabelMaxDist->adjustSize();
  ValBoxMaxWidth->resize(100, 20);
  ValBoxMaxDistance->resize(100, 20);
  setTabOrder(ValBoxMaxDistance, ValBoxMaxWidth);
  PlaceControls();
  // The initial texts are in place before the handlers are attached.
  connect(ValBoxMaxWidth, &QLineEdit::textChanged, this, &KivView::ValBoxMaxWidth_TextChanged);
  connect(ValBoxMaxDistance, &QLineEdit::textChanged, this, &KivView::ValBoxMaxDistance_TextChanged);
  mSinAng = ui::SinTable();
  mCosAng = ui::CosTable();
  mDistDrawingPen = QPen(kDistanceColour, 1, Qt::SolidLine);
  mWidthDrawingPen = QPen(kWidthColour, 1, Qt::SolidLine);
  UpdatePlotRegion();
}

KivView::~KivView() { Stop(); }

void KivView::SetSkarvIO(CSkarvIO* theMainIO) { mSkarvIO = theMainIO; }

void KivView::SetMaxDistPtr(std::atomic<int32_t>* theDistPtr) {
  mPlotDistPtr = theDistPtr;
  SetPlotMaxDistance();
}

void KivView::SetMaxWidthPtr(std::atomic<int32_t>* theWidthPtr) {
  mPlotWidthPtr = theWidthPtr;
  SetPlotMaxWidth();
}

void KivView::SetOnClose(std::function<void()> onClose) { mOnClose = std::move(onClose); }

void KivView::Start() {
  if (mSkarvIO) {
    IsocEvents.Start();
  }
}

void KivView::Stop() { IsocEvents.Stop(); }

void KivView::SetPlotMaxDistance() { SetPlotLimit(ValBoxMaxDistance, mPlotDistPtr); }

void KivView::SetPlotMaxWidth() { SetPlotLimit(ValBoxMaxWidth, mPlotWidthPtr); }

void KivView::ValBoxMaxWidth_TextChanged() { SetPlotMaxWidth(); }

void KivView::ValBoxMaxDistance_TextChanged() { SetPlotMaxDistance(); }

void KivView::SetPlotLimit(QLineEdit* box, std::atomic<int32_t>* limit) {
  if (!limit) {
    return;
  }
  int32_t value = 0;
  if (ui::ParseInt32(box->text().toStdString(), value)) {
    limit->store(value);
  } else {
    limit->store(0);
    box->setText("0");  // runs this again, which converts "0"
  }
  if (limit->load() < kMinimumLimit) {
    limit->store(kMinimumLimit);
  }
}

// Runs on the view's worker thread: the step of the data path.
void KivView::IsocEvents_Tick() {
  if (mSkarvIO->UpdateContiniousData() <= 2) {
    return;
  }
  const int n = mSkarvIO->mFoundScanSize;
  DiagPrintf(EDiagLevel::ePerUpdate, "+++++++++++++++ SkarvIO dataLength = %d\n", n);
  // The completed scan changes only inside UpdateContiniousData, on this
  // thread: copy it here and let the window paint the copy.
  const int m = std::clamp(n, 0, ui::kAngleSteps);
  auto scan = std::make_shared<T_Scan>();
  scan->distances.assign(mSkarvIO->mLastScanDist, mSkarvIO->mLastScanDist + m);
  scan->widths.assign(mSkarvIO->mLastScanWidth, mSkarvIO->mLastScanWidth + m);
  QMetaObject::invokeMethod(
      this, [this, scan = std::shared_ptr<const T_Scan>(std::move(scan))] { ShowScan(scan); }, Qt::QueuedConnection);
}

void KivView::ShowScan(std::shared_ptr<const T_Scan> scan) {
  mLastScan = std::move(scan);
  mPlotArea->update();
}

void KivView::UpdatePlotRegion() {
  const ui::T_PlotRegion region = ui::ComputePlotRegion(mPlotArea->width(), mPlotArea->height());
  mGraphicXCenter = region.xCenter;
  mGraphicYCenter = region.yCenter;
  mPlotScale = region.scale;
}

void KivView::PaintPlot(QPainter& painter, const QRect& area) {
  painter.fillRect(area, Qt::white);
  if (!mLastScan || !mPlotDistPtr || !mPlotWidthPtr) {
    return;
  }
  const int count = static_cast<int>(mLastScan->distances.size());
  const ui::T_PlotRegion region = PlotRegion();
  ui::ComputeTrace(mLastScan->distances.data(), count, mPlotDistPtr->load(), region, mSinAng.data(), mCosAng.data(),
                   mDistPoints);
  ui::ComputeTrace(mLastScan->widths.data(), count, mPlotWidthPtr->load(), region, mSinAng.data(), mCosAng.data(),
                   mWidthPoints);
  DrawTrace(painter, mDistPoints, mDistDrawingPen);
  DrawTrace(painter, mWidthPoints, mWidthDrawingPen);
}

void KivView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceControls();
  KivView_SizeChanged();
}

void KivView::KivView_SizeChanged() { UpdatePlotRegion(); }

// The limit boxes keep their place at the bottom left, the plot area fills
// the rest.
void KivView::PlaceControls() {
  mPlotArea->setGeometry(0, 0, width(), std::max(0, height() - kBoxStripHeight));
  const int fromBottom = kClientHeight - height();
  LabelMaxWidth->move(23, 533 - fromBottom);
  ValBoxMaxWidth->move(101, 530 - fromBottom);
  LabelMaxDist->move(254, 533 - fromBottom);
  ValBoxMaxDistance->move(332, 530 - fromBottom);
}

void KivView::closeEvent(QCloseEvent* event) {
  event->accept();
  if (mOnClose) {
    mOnClose();
  }
}

}  // namespace SorvaneClient
