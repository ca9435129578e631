// Carries a call from any thread over to the GUI thread. The call is queued on the
// application object, which lives as long as the event loop; a target window is held by a
// QPointer, so a call that arrives after the window has gone is dropped, never run.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <utility>

template <class Target, class Call>
void PostToGui(const QPointer<Target>& target, Call&& call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [target, call = std::forward<Call>(call)]() mutable {
        if (Target* t = target.data()) call(*t);
      },
      Qt::QueuedConnection);
}
