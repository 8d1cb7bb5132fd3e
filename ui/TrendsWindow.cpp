#include "TrendsWindow.h"

#include <QComboBox>
#include <algorithm>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "Diagnostics.h"
#include "StripCharts.h"
#include "TrendCsv.h"
#include "TrendReadout.h"
#include "TrendStore.h"

namespace ui {

namespace {

int64_t SpanBuckets(int seconds) { return static_cast<int64_t>(seconds) * trends::kUnitsPerSecond / trends::kBucketUnits; }

}  // namespace

CTrendsWindow::CTrendsWindow(const trends::CTrendStore& store, QWidget* parent) : QWidget(parent), mStore(store) {
  setObjectName(QStringLiteral("TrendsWindow"));
  setWindowTitle(QStringLiteral("Trends"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(QStringLiteral("Span"), this));
  mSpan = new QComboBox(this);
  mSpan->setObjectName(QStringLiteral("TrendsSpan"));
  for (const int seconds : kSpans) {
    mSpan->addItem(QStringLiteral("last %1 s").arg(seconds), seconds);
  }
  bar->addWidget(mSpan);
  mFreeze = new QPushButton(QStringLiteral("Freeze"), this);
  mFreeze->setObjectName(QStringLiteral("TrendsFreeze"));
  mExportPng = new QPushButton(QStringLiteral("Export PNG\u2026"), this);
  mExportPng->setObjectName(QStringLiteral("TrendsExportPng"));
  mExportCsv = new QPushButton(QStringLiteral("Export CSV\u2026"), this);
  mExportCsv->setObjectName(QStringLiteral("TrendsExportCsv"));
  bar->addWidget(mFreeze);
  bar->addStretch(1);
  bar->addWidget(mExportPng);
  bar->addWidget(mExportCsv);
  layout->addLayout(bar);
  mCharts = new CStripCharts(this);
  layout->addWidget(mCharts, 1);
  mReadout = new QLabel(this);
  mReadout->setObjectName(QStringLiteral("TrendsReadout"));
  mReadout->setWordWrap(true);
  mReadout->setTextFormat(Qt::PlainText);
  mReadout->setMinimumHeight(mReadout->fontMetrics().lineSpacing() * 3);
  mReadout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(mReadout);
  mMessage = new QLabel(this);
  mMessage->setTextFormat(Qt::PlainText);
  layout->addWidget(mMessage);
  resize(760, 760);
  // At the screen's right edge, beside the scan view in its middle and the
  // control panel at the left (where the window system leaves it so).
  if (const QScreen* screen = this->screen()) {
    const QRect available = screen->availableGeometry();
    move(std::max(available.left(), available.right() - width()), available.top());
  }

  connect(mSpan, &QComboBox::currentIndexChanged, this,
          [this](int index) { SetSpanSeconds(mSpan->itemData(index).toInt()); });
  connect(mFreeze, &QPushButton::clicked, this, [this] { SetFrozen(!mFrozen); });
  connect(mExportPng, &QPushButton::clicked, this, &CTrendsWindow::ChooseAndExportPng);
  connect(mExportCsv, &QPushButton::clicked, this, &CTrendsWindow::ChooseAndExportCsv);
  mCharts->SetOnPointer([this](int column) { ShowReadout(column); });
  mCharts->SetOnResize([this] { Redraw(); });
  mTimer.setInterval(kRefreshMs);
  connect(&mTimer, &QTimer::timeout, this, &CTrendsWindow::Refresh);
}

void CTrendsWindow::SetSpanSeconds(int seconds) {
  if (seconds == mSpanSeconds) return;
  mSpanSeconds = seconds;
  const int index = mSpan->findData(seconds);
  if (index >= 0 && index != mSpan->currentIndex()) mSpan->setCurrentIndex(index);
  // A frozen picture takes the new span from what it holds.
  Redraw();
}

void CTrendsWindow::Refresh() {
  if (mFrozen) return;
  if (mHistory.Pull(mStore)) {
    Redraw();
  }
}

void CTrendsWindow::Redraw() {
  mHistory.Columns(SpanBuckets(mSpanSeconds), mCharts->PlotWidth(), mColumns);
  mCharts->SwapColumns(mColumns, mSpanSeconds);
  if (mPointerColumn >= 0) ShowReadout(mPointerColumn);
}

void CTrendsWindow::SetFrozen(bool frozen) {
  mFrozen = frozen;
  mFreeze->setText(frozen ? QStringLiteral("Resume") : QStringLiteral("Freeze"));
  if (!frozen) Refresh();
}

void CTrendsWindow::ShowReadout(int column) {
  mPointerColumn = column;
  const std::vector<trends::T_Column>& columns = mCharts->Columns();
  if (column < 0 || column >= static_cast<int>(columns.size())) {
    mReadout->clear();
    return;
  }
  mReadout->setText(QString::fromStdString(TrendReadout(columns[static_cast<size_t>(column)])));
}

QString CTrendsWindow::ReadoutText() const { return mReadout->text(); }

bool CTrendsWindow::ExportPng(const std::string& path, std::string& error) {
  if (!mCharts->Picture().save(QString::fromStdString(path), "PNG")) {
    error = "cannot write the picture to " + path;
    ShowMessage(error, true);
    return false;
  }
  ShowMessage("saved " + path, false);
  return true;
}

bool CTrendsWindow::ExportCsv(const std::string& path, std::string& error) {
  const int64_t start = mHistory.SpanStart(SpanBuckets(mSpanSeconds));
  if (!trends::WriteTrendCsv(path, mHistory.Buckets(start, mHistory.Newest() + 1), error)) {
    ShowMessage(error, true);
    return false;
  }
  ShowMessage("saved " + path, false);
  return true;
}

void CTrendsWindow::ChooseAndExportPng() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"), QStringLiteral("trends.png"),
                                                    QStringLiteral("PNG pictures (*.png)"));
  std::string error;
  if (!path.isEmpty()) ExportPng(path.toStdString(), error);
}

void CTrendsWindow::ChooseAndExportCsv() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("trends.csv"),
                                                    QStringLiteral("CSV files (*.csv)"));
  std::string error;
  if (!path.isEmpty()) ExportCsv(path.toStdString(), error);
}

void CTrendsWindow::ShowMessage(const std::string& text, bool error) {
  mMessage->setText(QString::fromStdString(text));
  QPalette palette = mMessage->palette();
  palette.setColor(QPalette::WindowText, error ? QColor(0xB0, 0, 0) : palette.color(QPalette::Text));
  mMessage->setPalette(palette);
  if (error) DiagPrintf(EDiagLevel::eAlways, "Trends: %s\n", text.c_str());
}

void CTrendsWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  mTimer.start();
  Refresh();
}

void CTrendsWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  mTimer.stop();
}

}  // namespace ui
