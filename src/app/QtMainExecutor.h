#pragma once

#include <QObject>

#include "setup/Executor.h"

namespace orvek::app {

/// Runs tasks on the Qt main thread's event loop, in the order they were posted, from any
/// thread. Tasks still queued when the executor is destroyed are dropped.
class QtMainExecutor final : public QObject, public setup::Executor {
    Q_OBJECT

public:
    explicit QtMainExecutor(QObject* parent = nullptr);
    void post(Task task) override;
};

} // namespace orvek::app
