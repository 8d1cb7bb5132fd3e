#include "ClientRun.h"

#include <QApplication>
#include <memory>
#include <span>

#include "Diagnostics.h"
#include "KivControl.h"
#include "KivView.h"
#include "PlotLimits.h"
#include "QuitOnSignal.h"
#include "SharedWake.h"
#include "SkarvIO.h"
#include "TrendStore.h"
#include "TrendsWindow.h"

using SorvaneClient::KivControl;
using SorvaneClient::KivView;

int RunClient(QApplication& app, CSkarvIO& io, CStopRequest& stop,
              const std::function<void(KivView&, KivControl&)>& started,
              const std::function<void(CDataPath&)>& attach, const std::function<void()>& ending) {
  DiagPrintf(EDiagLevel::eAlways, " Starting up\n");
  io.Initialize(10);
  DiagPrintf(EDiagLevel::eAlways, "Creating Threads...\n");

  // The plot limits outlive both windows: the scan view writes them, the
  // control panel reads them.
  T_PlotLimits plotLimits;
  // The panel's updates ride along with the scans' wake-ups of the GUI
  // thread; it outlives both windows and their workers.
  ui::CSharedWake sharedWake;
  // The trends of every record since start, for the trends window whenever
  // it is opened; it outlives the data path that feeds it.
  trends::CTrendStore trendStore;
  KivView view;
  view.SetSharedWake(&sharedWake);
  view.SetSkarvIO(&io);
  view.SetMaxDistPtr(&plotLimits.Distance);
  view.SetMaxWidthPtr(&plotLimits.Width);
  if (view.DataPath()) {
    view.DataPath()->SubscribeRecords(
        [&trendStore](std::span<const kiv::T_RawRecord> records) { trendStore.Add(records); });
  }
  if (attach && view.DataPath()) {
    attach(*view.DataPath());
  }
  KivControl control;
  control.SetSkarvIO(&io);
  control.SetSharedWake(&sharedWake);
  control.SetMaxDistPtr(&plotLimits.Distance);
  control.SetMaxWidthPtr(&plotLimits.Width);
  control.SetOnSerialShown([&view](const std::string& serial) { view.ShowSensorSerial(serial); });
  // Made when first asked for, and kept (hidden when closed) until the end;
  // closing it does not end the client.
  std::unique_ptr<ui::CTrendsWindow> trendsWindow;
  control.SetOnTrends([&] {
    if (!trendsWindow) {
      trendsWindow = std::make_unique<ui::CTrendsWindow>(trendStore);
    }
    trendsWindow->show();
    trendsWindow->raise();
    trendsWindow->activateWindow();
  });

  bool controlClosedFirst = false;
  bool closed = false;
  view.SetOnClose([&] {
    closed = true;
    app.quit();
  });
  control.SetOnClose([&] {
    controlClosedFirst = !closed;
    closed = true;
    app.quit();
  });
  CQuitOnSignal quitOnSignal(stop);

  view.Start();
  control.Start();
  view.show();
  control.show();
  DiagPrintf(EDiagLevel::eAlways, "Waiting for Threads...\n");
  DiagFlush();
  if (started) {
    started(view, control);
  }
  app.exec();
  if (ending) {
    ending();
  }

  // Both workers end before anything else goes, so nothing uses the
  // controller once its clean-up begins.
  if (controlClosedFirst) {
    control.Stop();
    view.Stop();
  } else {
    view.Stop();
    control.Stop();
  }
  DiagPrintf(EDiagLevel::eAlways, "Thread Done. Clean up...\n");
  DiagFlush();
  return 0;
}
