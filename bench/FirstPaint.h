#pragma once

// Ends the process as soon as a window's first frame has been painted, so that timing the whole
// process from its start to its exit gives the time to the first painted frame. Exit status 0
// after a painted frame.

#include <cstdlib>

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QWidget>

namespace orvek::bench {

/// Sees every event of the application; the first paint inside a shown window queues the exit,
/// so the exit comes once that whole frame is painted and flushed. Any widget counts: a window
/// covered by opaque children gets no paint event of its own.
class FirstPaint final : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_painted) {
            const auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && widget->window()->isVisible()) {
                m_painted = true;
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [] { std::_Exit(0); }, Qt::QueuedConnection);
            }
        }
        return false;
    }

    /// For qAddPreRoutine: runs inside the application object's constructor, before anything
    /// else is built, and watches that application.
    static void watchApplication() {
        auto* application = QCoreApplication::instance();
        application->installEventFilter(new FirstPaint(application));
    }

private:
    bool m_painted = false;
};

} // namespace orvek::bench
