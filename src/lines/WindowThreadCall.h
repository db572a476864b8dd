#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

// Runs fn on the thread of context and returns after it has run: directly
// when the caller already is that thread (a blocking queued call to oneself
// deadlocks), otherwise as a blocking queued call. While the window thread
// shows a modal box its nested event loop still delivers these calls, so the
// functions called this way must be safe to enter again.
template <typename Fn>
void RunOnWindowThread(QObject* context, Fn&& fn)
{
    if (QThread::currentThread() == context->thread())
        fn();
    else
        QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
}
