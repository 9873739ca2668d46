#include "app/QtMainExecutor.h"

#include <utility>

namespace orvek::app {

QtMainExecutor::QtMainExecutor(QObject* parent) : QObject(parent) {}

void QtMainExecutor::post(Task task) {
    // Queued invocations on one receiver are delivered in posting order.
    QMetaObject::invokeMethod(
        this,
        [task = std::move(task)] {
            try {
                task();
            } catch (...) {
                // Tasks report their own failures; nothing may unwind into the event loop.
            }
        },
        Qt::QueuedConnection);
}

} // namespace orvek::app
