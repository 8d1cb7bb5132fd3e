#include "ObscuredWatch.h"

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QObject>
#include <QWidget>
#include <cstdlib>
#include <map>

namespace ui {

namespace {

class CVisibilityFilter : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    if (eventType != "xcb_generic_event_t") {
      return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_VISIBILITY_NOTIFY) {
      return false;
    }
    const auto* visibility = static_cast<const xcb_visibility_notify_event_t*>(message);
    const auto watcher = mWatchers.find(visibility->window);
    if (watcher != mWatchers.end()) {
      watcher->second(visibility->state == XCB_VISIBILITY_FULLY_OBSCURED);
    }
    return false;  // Qt sees the event too
  }

  std::map<xcb_window_t, std::function<void(bool)>> mWatchers;
};

CVisibilityFilter* Filter() {
  static CVisibilityFilter* filter = [] {
    auto* created = new CVisibilityFilter;  // lives as long as the application
    QCoreApplication::instance()->installNativeEventFilter(created);
    return created;
  }();
  return filter;
}

}  // namespace

void WatchObscured(QWidget* window, std::function<void(bool obscured)> changed) {
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) {
    return;
  }
  xcb_connection_t* connection = x11->connection();
  const auto id = static_cast<xcb_window_t>(window->winId());
  // Adds visibility changes to the events Qt already selected.
  xcb_get_window_attributes_reply_t* attributes =
      xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr);
  if (!attributes) {
    return;
  }
  const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
  free(attributes);
  xcb_change_window_attributes(connection, id, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection);
  CVisibilityFilter* filter = Filter();
  filter->mWatchers[id] = std::move(changed);
  QObject::connect(window, &QObject::destroyed, [filter, id] { filter->mWatchers.erase(id); });
}

}  // namespace ui
