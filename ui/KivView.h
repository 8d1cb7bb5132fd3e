#pragma once
// The scan view: the latest complete rotation as two polar traces, distance
// in red and width in green, over range rings that give the scale, with the
// boxes that set the full-scale distance and width and a read-out of the
// scan point under the pointer. It owns the data path, whose worker steps
// the controller every 10 ms, and subscribes to its completed scans: each
// one is handed to the GUI thread, kept, and painted whenever the window is
// exposed. The wheel over the plot zooms by changing the Max Distance box.
//
// A new scan's picture is painted on the data path's thread, and the GUI
// thread copies only the tiles its traces and the last shown ones touch;
// the rings and labels are drawn once per size and limit. While the window
// is not exposed (minimised, hidden, or reported covered) nothing is worked
// out or painted until it shows again.

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPen>
#include <QPoint>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "DataPath.h"
#include "PlotGeometry.h"
#include "RangeRings.h"
#include "SharedWake.h"
#include "TraceFrame.h"

class CSkarvIO;
class QPainter;

namespace SorvaneClient {

// The sine and cosine of each plot angle, shared by every scan view; each
// scan view fills them when it is built.
extern std::array<double, ui::kAngleSteps> mSinAng;
extern std::array<double, ui::kAngleSteps> mCosAng;

class KivView : public QWidget {
 public:
  static constexpr int kTickMs = CDataPath::kTickMs;

  // One completed scan, copied off the data path.
  using T_Scan = ::T_Scan;

  KivView();
  ~KivView() override;

  void SetSkarvIO(CSkarvIO* theMainIO);
  void SetMaxDistPtr(std::atomic<int32_t>* theDistPtr);
  void SetMaxWidthPtr(std::atomic<int32_t>* theWidthPtr);
  void SetOnClose(std::function<void()> onClose);
  // The title names the sensor open ("" for none); GUI thread.
  void ShowSensorSerial(const std::string& serial);
  // Not owned; set before Start. Each scan's wake-up of the GUI thread also
  // runs what other threads have left there.
  void SetSharedWake(ui::CSharedWake* wake) { mSharedWake = wake; }

  // Starts and stops the data path's thread; stopping prints "View Thread Done....".
  void Start();
  void Stop();

  // The data path, for another front end to subscribe to before Start.
  CDataPath* DataPath() { return IsocEvents.get(); }

  // Shows a completed scan (GUI thread), with its frame when the data
  // path's thread has worked it out already.
  void ShowScan(std::shared_ptr<const T_Scan> scan, std::shared_ptr<const ui::T_TraceFrame> frame = nullptr);

  void UpdatePlotRegion();
  void SetPlotMaxDistance();
  void SetPlotMaxWidth();
  ui::T_PlotRegion PlotRegion() const { return {mGraphicXCenter, mGraphicYCenter, mPlotScale}; }
  const std::shared_ptr<const T_Scan>& LastScan() const { return mLastScan; }
  // What a frame for the plot as it is now depends on, and the background
  // its traces lie on.
  ui::T_TraceInputs CurrentInputs() const;
  const QImage& Background() const { return mBackground; }

  // Paints `region` of the plot area: white with the range rings and axes,
  // the last scan's two traces over them, and a mark on the point read out.
  void PaintPlot(QPainter& painter, const QRegion& region);

  // The plot area's pointer events: the read-out follows the pointer and is
  // cleared when it leaves; each wheel step (120 units of angle) zooms.
  void PointerMoved(const QPoint& position);
  void PointerLeft();
  void WheelTurned(int angleDelta);

  // The rings as last painted, with their labels.
  const ui::T_RangeRings& PaintedRings() const { return mPaintedRings; }
  QWidget* PlotArea() const { return mPlotArea; }

  QLabel* LabelMaxWidth;
  QLineEdit* ValBoxMaxWidth;
  QLabel* LabelMaxDist;
  QLineEdit* ValBoxMaxDistance;
  // The read-out of the scan point under the pointer, beside the limit boxes.
  QLabel* LabelReadout;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // Follows the window's expose events: what changed while it was not
  // exposed is painted once it is.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The data path's scan subscriber: runs on its thread and hands the scan
  // to the GUI thread.
  void IsocEvents_Tick(std::shared_ptr<const T_Scan> scan);
  void ValBoxMaxWidth_TextChanged();
  void ValBoxMaxDistance_TextChanged();
  void KivView_SizeChanged();
  static void SetPlotLimit(QLineEdit* box, std::atomic<int32_t>* limit);
  void PlaceControls();
  // What a change of a limit, the scan or the size leaves to redo.
  void PlotChanged(bool background);
  // Takes or works out the last scan's frame once per scan, limit and size.
  void BuildPoints();
  // Hands the plot's size, region and limits to the data path's thread.
  void PublishInputs();
  void BuildBackground(const QSize& size, qreal ratio);
  void EnsureBackground();
  bool PlotExposed() const;
  QRegion TileRegion(const ui::T_TraceFrame& frame) const;
  QRect MarkRect() const;
  void UpdateReadout();

  CSkarvIO* mSkarvIO = nullptr;
  ui::CSharedWake* mSharedWake = nullptr;
  // The plot's centre and its radius in pixels, from the plot area's size.
  int mGraphicXCenter = 0;
  int mGraphicYCenter = 0;
  double mPlotScale = 0.0;
  std::atomic<int32_t>* mPlotDistPtr = nullptr;
  std::atomic<int32_t>* mPlotWidthPtr = nullptr;
  QPen mDistDrawingPen;
  QPen mWidthDrawingPen;
  // The pens' colours, for the pictures the data path's thread paints.
  ui::T_TraceColours mTraceColours;
  std::shared_ptr<const T_Scan> mLastScan;
  // The frame that came with the last scan, and the last scan's frame for
  // the current size and limits (its points are what the read-out looks at).
  std::shared_ptr<const ui::T_TraceFrame> mOfferedFrame;
  std::shared_ptr<const ui::T_TraceFrame> mFrame;
  bool mPointsValid = false;
  // The frame whose picture the screen shows, known while each change has
  // repainted every tile it touched; none when not known.
  std::shared_ptr<const ui::T_TraceFrame> mShownFrame;
  // White with the rings, axes and labels, at the screen's pixel ratio,
  // redrawn only when the size, the ratio or the full-scale distance
  // changes; the data path's thread paints its frames over it.
  QImage mBackground;
  uint64_t mBackgroundVersion = 0;
  bool mBackgroundValid = false;
  // The GUI thread's canvas, for frames the data path's thread has not
  // worked out, and the data path thread's two, taken in turn so that the
  // one painted on is seldom the one whose picture the GUI thread holds.
  ui::CTraceCanvas mCanvas;
  ui::CTraceCanvas mWorkerCanvases[2];
  int mNextWorkerCanvas = 0;
  // Counts the pictures the data path's thread has painted. Qt's event
  // queue already puts a picture's pixels before the GUI thread's reading
  // of them; this count says so where a thread checker sees it, as Qt's
  // own locks are not visible to one.
  std::atomic<uint64_t> mFramesPainted{0};
  // What the data path's thread reads to work out each scan's frame, and
  // whether it should: only while the plot is on the screen.
  struct T_FrameSource {
    int width = 0;
    int height = 0;
    ui::T_PlotRegion region;
    std::atomic<int32_t>* distLimit = nullptr;
    std::atomic<int32_t>* widthLimit = nullptr;
    QImage background;
    uint64_t backgroundVersion = 0;
  };
  std::mutex mFrameSourceLock;
  T_FrameSource mFrameSource;
  std::atomic<bool> mFramesWanted{false};
  ui::T_RangeRings mPaintedRings;
  // How much the layout grew for the font (1 for the desktop's usual one).
  double mLayoutScale = 1.0;
  // The window whose expose events are followed.
  QPointer<QObject> mWatchedWindow;
  bool mPointerInside = false;
  QPoint mPointer;
  int mReadoutIndex = -1;  // the scan point read out, -1 for none
  int mWheelRemainder = 0;
  std::function<void()> mOnClose;
  // The plot's own widget, above the strip of limit boxes: a new scan
  // repaints it alone, not the boxes.
  QWidget* mPlotArea;
  // The data path with its 10 ms worker, made when the controller is set.
  std::unique_ptr<CDataPath> IsocEvents;
};

}  // namespace SorvaneClient
