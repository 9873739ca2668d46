#pragma once

#include <memory>

#include <QWidget>

#include "setup/SetupModel.h"

namespace orvek::app {

class SkillsView;

/// The window-modal sheet over the main window that hosts the skills step. It never closes
/// itself: its close button and Escape ask the model to end the step, and whoever presents
/// the sheet hides it once the model says so.
class SkillsSheet final : public QWidget {
    Q_OBJECT

public:
    SkillsSheet(std::shared_ptr<setup::SetupModel> model, QWidget* parent);

    [[nodiscard]] SkillsView& view() const noexcept { return *m_view; }

    static constexpr const char* kTitle = "Навыки для OpenCode";
    static constexpr int kMinimumWidth = 440;
    static constexpr int kMinimumHeight = 420;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void requestDismiss();

    std::shared_ptr<setup::SetupModel> m_model;
    SkillsView* m_view = nullptr;
};

} // namespace orvek::app
