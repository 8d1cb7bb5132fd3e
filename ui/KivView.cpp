#include "KivView.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QPaintEvent>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "FontFit.h"
#include "ScanReadout.h"
#include "SkarvIO.h"
#include "StatusText.h"
#include "ValueFormat.h"

namespace {

constexpr int kClientWidth = 784;
constexpr int kClientHeight = 562;
constexpr int kMinimumLimit = 10;
// The strip along the bottom that holds the limit boxes and the read-out.
constexpr int kBoxStripHeight = 37;
constexpr int kReadoutLeft = 460;
constexpr int kWheelStep = 120;  // angle units of one wheel notch
constexpr int kMarkRadius = 3;
// Every point of a completed scan has its own angle step.
static_assert(CSkarvIO::kScanBufferSize <= ui::kAngleSteps);

// Pen colours of the two traces: the named colours red (#FF0000) and green
// (#008000); the scale in light grey (#D3D3D3) with its labels a shade
// darker, and the mark of the point read out in orange.
const QColor kDistanceColour(0xFF, 0x00, 0x00);
const QColor kWidthColour(0x00, 0x80, 0x00);
const QColor kScaleColour(0xD3, 0xD3, 0xD3);
const QColor kScaleTextColour(0x90, 0x90, 0x90);
const QColor kMarkColour(0xFF, 0x8C, 0x00);

}  // namespace

namespace SorvaneClient {

std::array<double, ui::kAngleSteps> mSinAng{};
std::array<double, ui::kAngleSteps> mCosAng{};

namespace {

class CPlotArea : public QWidget {
 public:
  CPlotArea(KivView* view) : QWidget(view), mView(view) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // the view fills every pixel itself
    setMouseTracking(true);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    mView->PaintPlot(painter, event->region());
  }
  void mouseMoveEvent(QMouseEvent* event) override { mView->PointerMoved(event->position().toPoint()); }
  void leaveEvent(QEvent*) override { mView->PointerLeft(); }
  void wheelEvent(QWheelEvent* event) override {
    mView->WheelTurned(event->angleDelta().y());
    event->accept();
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
      LabelReadout(new QLabel(this)),
      mPlotArea(new CPlotArea(this)) {
  ui::UseUnshapedText(this);
  setObjectName("KivView");
  setWindowTitle("KivView");
  mLayoutScale = ui::LayoutScale(font());
  resize(ui::Scaled(kClientWidth, mLayoutScale), ui::Scaled(kClientHeight, mLayoutScale));
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  LabelReadout->setObjectName("LabelReadout");
  LabelReadout->setTextFormat(Qt::PlainText);
  setTabOrder(ValBoxMaxDistance, ValBoxMaxWidth);
  PlaceControls();
  // The initial texts are in place before the handlers are attached.
  connect(ValBoxMaxWidth, &QLineEdit::textChanged, this, &KivView::ValBoxMaxWidth_TextChanged);
  connect(ValBoxMaxDistance, &QLineEdit::textChanged, this, &KivView::ValBoxMaxDistance_TextChanged);
  mSinAng = ui::SinTable();
  mCosAng = ui::CosTable();
  mDistDrawingPen = QPen(kDistanceColour, 1, Qt::SolidLine);
  mWidthDrawingPen = QPen(kWidthColour, 1, Qt::SolidLine);
  mTraceColours = {mDistDrawingPen.color().rgb(), mWidthDrawingPen.color().rgb()};
  mFrame = std::make_shared<const ui::T_TraceFrame>();
  UpdatePlotRegion();
}

KivView::~KivView() { Stop(); }

void KivView::SetSkarvIO(CSkarvIO* theMainIO) {
  Stop();
  mSkarvIO = theMainIO;
  IsocEvents.reset();
  if (mSkarvIO) {
    IsocEvents = std::make_unique<CDataPath>(*mSkarvIO);
    IsocEvents->SubscribeScans([this](std::shared_ptr<const T_Scan> scan) { IsocEvents_Tick(std::move(scan)); });
  }
}

void KivView::SetMaxDistPtr(std::atomic<int32_t>* theDistPtr) {
  mPlotDistPtr = theDistPtr;
  PublishInputs();
  SetPlotMaxDistance();
  PlotChanged(true);
}

void KivView::SetMaxWidthPtr(std::atomic<int32_t>* theWidthPtr) {
  mPlotWidthPtr = theWidthPtr;
  PublishInputs();
  SetPlotMaxWidth();
  PlotChanged(false);
}

void KivView::SetOnClose(std::function<void()> onClose) { mOnClose = std::move(onClose); }

void KivView::ShowSensorSerial(const std::string& serial) {
  setWindowTitle(QString::fromStdString(ui::WindowTitle("KivView", serial)));
}

void KivView::Start() {
  if (IsocEvents) {
    IsocEvents->Start();
  }
}

void KivView::Stop() {
  if (IsocEvents) {
    IsocEvents->Stop();
  }
}

void KivView::SetPlotMaxDistance() { SetPlotLimit(ValBoxMaxDistance, mPlotDistPtr); }

void KivView::SetPlotMaxWidth() { SetPlotLimit(ValBoxMaxWidth, mPlotWidthPtr); }

void KivView::ValBoxMaxWidth_TextChanged() {
  SetPlotMaxWidth();
  PlotChanged(false);
}

// The rings, their labels and the distance trace follow the box.
void KivView::ValBoxMaxDistance_TextChanged() {
  SetPlotMaxDistance();
  PlotChanged(true);
}

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

// A new scan, limit or size: while the plot is on the screen it is painted
// at once, only where the traces were and are; otherwise the whole plot is
// painted when it shows again.
void KivView::PlotChanged(bool background) {
  const QRect oldMarks = MarkRect();
  mPointsValid = false;
  if (background) {
    mBackgroundValid = false;
  }
  UpdateReadout();
  const bool exposed = PlotExposed();
  mFramesWanted.store(exposed, std::memory_order_relaxed);
  if (!exposed) {
    mShownFrame.reset();
    mPlotArea->update();
    return;
  }
  const std::shared_ptr<const ui::T_TraceFrame> shown = std::move(mShownFrame);
  BuildPoints();
  QRegion changed(mPlotArea->rect());
  if (shown && shown->inputs.backgroundVersion == mFrame->inputs.backgroundVersion) {
    changed &= TileRegion(*shown) + TileRegion(*mFrame) + oldMarks + MarkRect();
  }
  mShownFrame = mFrame;
  // Painted now rather than on a posted update request: a scan arrives on
  // a wake-up of its own anyway, and posting would only wake the loop again.
  mPlotArea->repaint(changed);
}

QRegion KivView::TileRegion(const ui::T_TraceFrame& frame) const {
  std::vector<QRect> rects;
  for (const ui::T_PixelRect& tile : frame.tiles.Rects()) {
    rects.emplace_back(tile.left, tile.top, tile.width, tile.height);
  }
  QRegion region;
  region.setRects(rects.data(), static_cast<int>(rects.size()));
  return region;
}

bool KivView::PlotExposed() const {
  const QWindow* handle = window()->windowHandle();
  return mPlotArea->isVisible() && !window()->isMinimized() && handle && handle->isExposed();
}

// Runs on the data path's thread for each completed scan of more than two
// points. While the plot is on the screen the scan's frame and picture are
// worked out here, so that the GUI thread only copies the tiles that
// changed to the screen; otherwise the GUI thread works them out if and
// when the scan is painted, so a scan that is never seen (a minimised
// window) costs nothing more. The window outlives the data path, which is
// stopped before the window goes.
void KivView::IsocEvents_Tick(std::shared_ptr<const T_Scan> scan) {
  std::shared_ptr<const ui::T_TraceFrame> frame;
  if (mFramesWanted.load(std::memory_order_relaxed)) {
    T_FrameSource source;
    {
      std::lock_guard<std::mutex> lock(mFrameSourceLock);
      source = mFrameSource;
    }
    if (source.distLimit && source.widthLimit && !source.background.isNull()) {
      const ui::T_TraceInputs inputs{source.width,           source.height,         source.region,
                                     source.distLimit->load(), source.widthLimit->load(), source.backgroundVersion};
      // The constant tables mSinAng and mCosAng are copied from, not those
      // two: a window being built on the GUI thread may be writing them.
      ui::CTraceCanvas& canvas = mWorkerCanvases[mNextWorkerCanvas];
      mNextWorkerCanvas = 1 - mNextWorkerCanvas;
      frame = canvas.Build(*scan, inputs, ui::SinTable().data(), ui::CosTable().data(), source.background,
                           mTraceColours);
      mFramesPainted.fetch_add(1, std::memory_order_release);
    }
  }
  if (mSharedWake) {
    mSharedWake->CarrierPosted();
  }
  QMetaObject::invokeMethod(
      this,
      [this, scan = std::move(scan), frame = std::move(frame)] {
        mFramesPainted.load(std::memory_order_acquire);
        ShowScan(scan, frame);
        if (mSharedWake) {
          mSharedWake->RunKept();
        }
      },
      Qt::QueuedConnection);
}

void KivView::ShowScan(std::shared_ptr<const T_Scan> scan, std::shared_ptr<const ui::T_TraceFrame> frame) {
  mLastScan = std::move(scan);
  mOfferedFrame = std::move(frame);
  PlotChanged(false);
}

ui::T_TraceInputs KivView::CurrentInputs() const {
  return {mPlotArea->width(),
          mPlotArea->height(),
          PlotRegion(),
          mPlotDistPtr ? mPlotDistPtr->load() : 0,
          mPlotWidthPtr ? mPlotWidthPtr->load() : 0,
          mBackgroundVersion};
}

void KivView::PublishInputs() {
  std::lock_guard<std::mutex> lock(mFrameSourceLock);
  mFrameSource = {mPlotArea->width(), mPlotArea->height(), PlotRegion(), mPlotDistPtr,
                  mPlotWidthPtr,      mBackground,        mBackgroundVersion};
}

void KivView::UpdatePlotRegion() {
  const ui::T_PlotRegion region = ui::ComputePlotRegion(mPlotArea->width(), mPlotArea->height());
  mGraphicXCenter = region.xCenter;
  mGraphicYCenter = region.yCenter;
  mPlotScale = region.scale;
  PublishInputs();
  PlotChanged(true);
}

// A frame the data path's thread worked out is taken when the size, the
// limits and the background are still those it was worked out for.
void KivView::BuildPoints() {
  EnsureBackground();
  const ui::T_TraceInputs inputs = CurrentInputs();
  if (mPointsValid && mFrame->inputs == inputs) {
    return;
  }
  mPointsValid = true;
  if (mOfferedFrame && mOfferedFrame->inputs == inputs) {
    mFrame = mOfferedFrame;
    return;
  }
  static const T_Scan kNoScan;
  const T_Scan& scan = mLastScan && mPlotDistPtr && mPlotWidthPtr ? *mLastScan : kNoScan;
  mFrame = mCanvas.Build(scan, inputs, mSinAng.data(), mCosAng.data(), mBackground, mTraceColours);
}

void KivView::EnsureBackground() {
  const QSize size = mPlotArea->size();
  const qreal ratio = mPlotArea->devicePixelRatioF();
  if (!mBackgroundValid || mBackground.deviceIndependentSize().toSize() != size ||
      mBackground.devicePixelRatio() != ratio) {
    BuildBackground(size, ratio);
  }
}

// The rings at a quarter to the whole of the full-scale distance, the axes
// through the centre, and each ring's distance where it crosses the axis
// along the plot's longer side, so that every label is on the plot.
void KivView::BuildBackground(const QSize& size, qreal ratio) {
  QImage background(size * ratio, QImage::Format_RGB32);
  background.setDevicePixelRatio(ratio);
  background.fill(Qt::white);
  const int32_t limit = mPlotDistPtr ? mPlotDistPtr->load() : kMinimumLimit;
  mPaintedRings = ui::ComputeRangeRings(limit, mPlotScale);
  QPainter painter(&background);
  painter.setFont(font());
  painter.setPen(QPen(kScaleColour, 1));
  const int xc = mGraphicXCenter;
  const int yc = mGraphicYCenter;
  painter.drawLine(0, yc, size.width() - 1, yc);
  painter.drawLine(xc, 0, xc, size.height() - 1);
  for (const ui::T_RangeRing& ring : mPaintedRings) {
    const int r = static_cast<int>(ring.radius);
    painter.drawEllipse(QPoint(xc, yc), r, r);
  }
  painter.setPen(kScaleTextColour);
  const QFontMetrics metrics(painter.font());
  const bool alongX = size.width() >= size.height();
  for (const ui::T_RangeRing& ring : mPaintedRings) {
    const QString text = QString::fromStdString(ring.label);
    const int r = static_cast<int>(ring.radius);
    if (alongX) {  // inside the ring, just above the horizontal axis
      painter.drawText(xc + r - metrics.horizontalAdvance(text) - 3, yc - metrics.descent() - 2, text);
    } else {  // inside the ring, just right of the vertical axis
      painter.drawText(xc + 3, yc + r - metrics.descent() - 2, text);
    }
  }
  painter.end();
  mBackground = std::move(background);
  ++mBackgroundVersion;
  mBackgroundValid = true;
  PublishInputs();
}

QRect KivView::MarkRect() const {
  if (mReadoutIndex < 0 || mReadoutIndex >= static_cast<int>(mFrame->distPoints.size())) {
    return QRect();
  }
  QRect marks;
  for (const auto* points : {&mFrame->distPoints, &mFrame->widthPoints}) {
    const ui::T_PlotPoint& p = (*points)[mReadoutIndex];
    marks |= QRect(p.x - kMarkRadius - 2, p.y - kMarkRadius - 2, 2 * kMarkRadius + 5, 2 * kMarkRadius + 5);
  }
  return marks;
}

void KivView::PaintPlot(QPainter& painter, const QRegion& region) {
  BuildPoints();
  if (mFrame != mShownFrame) {
    mShownFrame.reset();  // the rest of the plot may show another scan
  }
  // The picture rectangle by rectangle: each copy then covers only the
  // rows and columns of its own rectangle.
  const QImage& picture = mFrame->picture;
  const qreal ratio = picture.devicePixelRatio();
  for (const QRect& rect : region) {
    painter.drawImage(QRectF(rect), picture,
                      QRectF(rect.x() * ratio, rect.y() * ratio, rect.width() * ratio, rect.height() * ratio));
  }
  if (mReadoutIndex >= 0 && mReadoutIndex < static_cast<int>(mFrame->distPoints.size())) {
    painter.setPen(QPen(kMarkColour, 2));
    for (const auto* points : {&mFrame->distPoints, &mFrame->widthPoints}) {
      const ui::T_PlotPoint& p = (*points)[mReadoutIndex];
      painter.drawEllipse(QPoint(p.x, p.y), kMarkRadius, kMarkRadius);
    }
  }
}

void KivView::PointerMoved(const QPoint& position) {
  mPointerInside = true;
  mPointer = position;
  UpdateReadout();
}

void KivView::PointerLeft() {
  mPointerInside = false;
  UpdateReadout();
}

void KivView::UpdateReadout() {
  int index = -1;
  if (mPointerInside && mLastScan) {
    BuildPoints();
    index = ui::NearestScanPoint(mFrame->distPoints, mFrame->widthPoints, mPointer.x(), mPointer.y());
  }
  if (index == mReadoutIndex) {
    return;
  }
  QRect marks = MarkRect();
  mReadoutIndex = index;
  marks |= MarkRect();
  if (index < 0) {
    LabelReadout->clear();
  } else {
    LabelReadout->setText(
        QString::fromStdString(ui::ReadoutText(index, mLastScan->distances[index], mLastScan->widths[index])));
  }
  mPlotArea->update(marks);
}

// The limit lives in the box: a step writes the box, whose handler sets the
// shared limit, so the control panel's bars follow too.
void KivView::WheelTurned(int angleDelta) {
  mWheelRemainder += angleDelta;
  const int steps = mWheelRemainder / kWheelStep;
  mWheelRemainder -= steps * kWheelStep;
  if (steps == 0) {
    return;
  }
  int32_t limit = 0;
  if (!ui::ParseInt32(ValBoxMaxDistance->text().toStdString(), limit) || limit < kMinimumLimit) {
    limit = kMinimumLimit;
  }
  ValBoxMaxDistance->setText(QString::number(ui::ZoomedLimit(limit, steps, kMinimumLimit)));
}

void KivView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceControls();
  KivView_SizeChanged();
}

void KivView::KivView_SizeChanged() { UpdatePlotRegion(); }

// The limit boxes keep their place at the bottom left with the read-out
// beside them, the plot area fills the rest.
void KivView::PlaceControls() {
  const double k = mLayoutScale;
  mPlotArea->setGeometry(0, 0, width(), std::max(0, height() - ui::Scaled(kBoxStripHeight, k)));
  const int boxTop = height() - ui::Scaled(kClientHeight - 530, k);
  auto row = [&](int x, int w) { return QRect(ui::Scaled(x, k), boxTop, ui::Scaled(w, k), ui::Scaled(20, k)); };
  ui::FitBox(ValBoxMaxWidth, row(101, 100));
  ui::FitBox(ValBoxMaxDistance, row(332, 100));
  const int rowHeight = ValBoxMaxDistance->height();
  ui::FitCaption(LabelMaxWidth, QRect(ui::Scaled(23, k), boxTop, ui::Scaled(58, k), rowHeight));
  ui::FitCaption(LabelMaxDist, QRect(ui::Scaled(254, k), boxTop, ui::Scaled(72, k), rowHeight));
  const int readoutLeft = ui::Scaled(kReadoutLeft, k);
  LabelReadout->setGeometry(readoutLeft, boxTop, std::max(0, width() - readoutLeft - ui::Scaled(8, k)), rowHeight);
}

void KivView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  QWindow* handle = window()->windowHandle();
  if (handle && handle != mWatchedWindow) {
    handle->installEventFilter(this);
    mWatchedWindow = handle;
  }
}

bool KivView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == mWatchedWindow && event->type() == QEvent::Expose) {
    // Looked at once Qt has taken the new state in: a plot that comes on
    // the screen is painted whole, one that leaves it stops its frames.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (PlotExposed() != mFramesWanted.load(std::memory_order_relaxed)) {
            PlotChanged(false);
          }
        },
        Qt::QueuedConnection);
  }
  return QWidget::eventFilter(watched, event);
}

void KivView::closeEvent(QCloseEvent* event) {
  event->accept();
  if (mOnClose) {
    mOnClose();
  }
}

}  // namespace SorvaneClient
