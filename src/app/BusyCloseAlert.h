#pragma once

#include <memory>

#include <QMessageBox>

namespace orvek::app {

/// The alert shown instead of closing while the setup or the skills installation runs.
class BusyCloseAlert {
public:
    /// A modal alert with the brand art as its icon, in the light appearance; not yet shown.
    [[nodiscard]] static std::unique_ptr<QMessageBox> create(QWidget* parent);

    static constexpr const char* kTitle = "Настройка ещё выполняется";
    static constexpr const char* kText =
        "Дождитесь завершения текущего этапа. Вход в браузере ограничен по времени.";
};

} // namespace orvek::app
