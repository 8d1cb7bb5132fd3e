#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "StopRequest.h"

CQuitOnSignal::CQuitOnSignal(CStopRequest& stop) {
  if (stop.WakeFd() < 0) {
    return;
  }
  mNotifier = new QSocketNotifier(stop.WakeFd(), QSocketNotifier::Read);
  QObject::connect(mNotifier, &QSocketNotifier::activated, [&stop] {
    stop.Drain();
    QCoreApplication::quit();
  });
  if (stop.Requested()) {
    // Asked before the event loop ran: it ends as soon as it starts.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
  }
}

CQuitOnSignal::~CQuitOnSignal() { delete mNotifier; }
