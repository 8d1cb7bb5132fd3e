// Takes a picture of the whole X screen and checks what it shows of the
// client: the scan view's red distance and green width traces, the
// control panel's filled bars and its status line's background while the
// sensor streams. Usage: skarv-screen-grab OUTPUT.png
// Exits 0 when all four are there, 1 otherwise; prints the pixel counts.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

namespace {

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
      if ((line[x] & 0xFFFFFF) == (colour & 0xFFFFFF)) ++count;
    }
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) {
    std::fprintf(stderr, "no screen\n");
    return 2;
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
  std::printf("red %d, green %d, bar %d, streaming status %d pixels in %dx%d\n", red, green, bars, status,
              image.width(), image.height());
  return red > 500 && green > 500 && bars > 500 && status > 5000 ? 0 : 1;
}
