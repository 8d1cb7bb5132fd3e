#include "WorkerThread.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <future>

#include "Diagnostics.h"

CWorkerThread::CWorkerThread(int intervalMs, std::function<void()> tick, std::string doneLine)
    : mIntervalMs(intervalMs), mTick(std::move(tick)), mDoneLine(std::move(doneLine)), mContext(new QObject) {
  mContext->moveToThread(&mThread);
}

CWorkerThread::~CWorkerThread() {
  Stop();
  delete mContext;
}

void CWorkerThread::Start() {
  if (mStarted) {
    return;
  }
  mStarted = true;
  // The timer is made on the thread as it starts, and Start returns only
  // once it runs, so that everything the thread set up comes before what
  // this thread does next.
  std::promise<void> running;
  const QMetaObject::Connection setUp = QObject::connect(
      &mThread, &QThread::started, mContext,
      [this, &running] {
        mTimer = new QTimer(mContext);
        mTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(mTimer, &QTimer::timeout, mContext, [this] { mTick(); });
        mTimer->start(mIntervalMs);
        running.set_value();
      },
      Qt::DirectConnection);
  mThread.start();
  running.get_future().wait();
  QObject::disconnect(setUp);
}

void CWorkerThread::Stop() {
  if (!mStarted || mStopped) {
    return;
  }
  mStopped = true;
  QMetaObject::invokeMethod(
      mContext,
      [this] {
        delete mTimer;
        mTimer = nullptr;
        mThread.quit();
      },
      Qt::QueuedConnection);
  mThread.wait();
  DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, mDoneLine);
  DiagFlush();
}

void CWorkerThread::Post(std::function<void()> job) {
  if (!Running()) {
    return;
  }
  QMetaObject::invokeMethod(mContext, std::move(job), Qt::QueuedConnection);
}
