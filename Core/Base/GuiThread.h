#pragma once

#include <QCoreApplication>
#include <QThread>

namespace Harbend {

// Whether the caller runs on the GUI thread, the thread of the application
// object; asserted by the operations that only that thread may call.
inline bool onGuiThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return !application || QThread::currentThread() == application->thread();
}

} // namespace Harbend
