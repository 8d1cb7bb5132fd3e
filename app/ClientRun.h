#pragma once
// Start-up and shut-down of the client around its two windows.

#include <functional>

class QApplication;
class CSkarvIO;
class CDataPath;
class CStopRequest;
namespace SorvaneClient {
class KivView;
class KivControl;
}  // namespace SorvaneClient

// Initialises the controller, opens the scan view and the control panel with
// their worker threads and the plot limits they share (owned here, for as
// long as the windows live), with the trend store every record feeds and
// the trends window the panel's Trends button opens, and runs until either window is closed or a
// stop is requested (SIGINT, SIGTERM or SIGHUP, caught by `stop`); then
// runs `ending`, when given, while the workers still run, stops both
// workers (the window that closed first prints its line first) and returns
// 0. `started`, when given, runs once the windows are up, before the event
// loop; `attach`, when given, is handed the data path before it starts.
int RunClient(QApplication& app, CSkarvIO& io, CStopRequest& stop,
              const std::function<void(SorvaneClient::KivView&, SorvaneClient::KivControl&)>& started = {},
              const std::function<void(CDataPath&)>& attach = {}, const std::function<void()>& ending = {});
