// Takes a picture of the whole X screen and checks what it shows of the
// client: the scan view's red distance and green width traces over its grey
// range rings, the mark of the point read out under the pointer (the tool
// first puts the pointer on the distance trace), the control panel's filled
// bars and its status line's background while the sensor streams; with
// --trends, the trends window's distance trace, its standard deviation's
// band and its IMU axes' traces too.
// On a screen of fewer than 24 bits a colour is matched as the screen's
// depth can show it.
// Usage: skarv-screen-grab OUTPUT.png [--trends]
// Exits 0 when all are there, 1 otherwise; prints the pixel counts.

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// How far a channel may be from the colour asked for: a 16-bit screen keeps
// 5 bits of red and blue and 6 of green.
int gTolerance = 0;

bool Matches(QRgb pixel, QRgb colour) {
  return std::abs(qRed(pixel) - qRed(colour)) <= gTolerance &&
         std::abs(qGreen(pixel) - qGreen(colour)) <= gTolerance &&
         std::abs(qBlue(pixel) - qBlue(colour)) <= gTolerance;
}

// Pixels of the style's progress bar chunk: clearly blue.
int CountBarPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (qBlue(line[x]) > qRed(line[x]) + 80 && qBlue(line[x]) > qGreen(line[x]) + 20) ++count;
    }
  }
  return count;
}

int Count(const QImage& image, QRgb colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (Matches(line[x], colour)) ++count;
    }
  }
  return count;
}

// A pixel of the distance trace inside the area of the range rings (the
// scan view's plot), or (-1, -1).
QPoint PointOnTrace(const QImage& image, QRgb ring, QRgb trace) {
  QRect plot;
  for (int y = 0; y < image.height(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (Matches(line[x], ring)) plot |= QRect(x, y, 1, 1);
    }
  }
  const QPoint centre = plot.center();
  QPoint best(-1, -1);
  for (int y = plot.top(); y <= plot.bottom(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = plot.left(); x <= plot.right(); ++x) {
      if (Matches(line[x], trace) &&
          (best.x() < 0 || (QPoint(x, y) - centre).manhattanLength() < (best - centre).manhattanLength())) {
        best = QPoint(x, y);
      }
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const bool trends = argc == 3 && std::strcmp(argv[2], "--trends") == 0;
  if (argc != 2 && !trends) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [--trends]\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) {
    std::fprintf(stderr, "no screen\n");
    return 2;
  }
  if (screen->depth() < 24) {
    gTolerance = 8;
  }
  const QRgb ringGrey = qRgb(0xD3, 0xD3, 0xD3);
  const QImage before = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
  const QPoint onTrace = PointOnTrace(before, ringGrey, qRgb(255, 0, 0));
  if (onTrace.x() >= 0) {
    QCursor::setPos(screen, onTrace);
    QGuiApplication::sync();
    QThread::msleep(600);  // the client reads the point out at its next moves and scans
  }
  const QImage image = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
  if (!image.save(argv[1])) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 2;
  }
  const int red = Count(image, qRgb(255, 0, 0));
  const int green = Count(image, qRgb(0, 128, 0));
  const int bars = CountBarPixels(image);
  // The control panel's status line is pale green while records flow.
  const int status = Count(image, qRgb(0xDF, 0xF3, 0xDF));
  const int rings = Count(image, ringGrey);
  const int mark = Count(image, qRgb(0xFF, 0x8C, 0x00));
  std::printf(
      "red %d, green %d, bar %d, streaming status %d, range rings %d, read-out mark %d pixels in %dx%d at %d bits\n",
      red, green, bars, status, rings, mark, image.width(), image.height(), screen->depth());
  const bool client = red > 500 && green > 500 && bars > 500 && status > 5000 && rings > 1000 && mark > 10;
  if (!trends) {
    return client ? 0 : 1;
  }
  // The trends window's colours (ui/TrendChartList.cpp, ui/StripCharts.h).
  const int trendRed = Count(image, qRgb(0xD0, 0x10, 0x10));
  const int trendGreen = Count(image, qRgb(0x10, 0x90, 0x10));
  const int trendBlue = Count(image, qRgb(0x10, 0x40, 0xD0));
  const int bandEdge = Count(image, qRgb(0x50, 0x70, 0xE0));
  std::printf("trends: red %d, green %d, blue %d, band edges %d pixels\n", trendRed, trendGreen, trendBlue, bandEdge);
  return client && trendRed > 2000 && trendGreen > 500 && trendBlue > 500 && bandEdge > 200 ? 0 : 1;
}
