#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "setup/SetupModel.h"

namespace orvek::app {

class SetupView;
class SkillsView;

/// The wizard's one window: hosts the setup screen and asks its close guard before closing.
class MainWindow final : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(std::shared_ptr<setup::SetupModel> model, QWidget* parent = nullptr);

    /// Asked on every close request; the window stays when it answers false.
    void setCloseGuard(std::function<bool()> guard);
    [[nodiscard]] SetupView& setupView() const noexcept { return *m_view; }
    /// Shows the skills screen in place of the setup screen, as the render mode draws it; a
    /// second call returns the same screen.
    SkillsView& showSkillsScreen();
    /// The skills screen once `showSkillsScreen` has put it in; null before.
    [[nodiscard]] SkillsView* skillsScreen() const noexcept { return m_skills; }

    static constexpr const char* kTitle = "Орвек · OpenCode для Mac";
    static constexpr int kWidth = 820;
    static constexpr int kHeight = 650;
    static constexpr int kMinimumWidth = 440;
    static constexpr int kMinimumHeight = 420;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    SetupView* m_view = nullptr;
    SkillsView* m_skills = nullptr;
    std::shared_ptr<setup::SetupModel> m_model;
    std::function<bool()> m_closeGuard;
};

} // namespace orvek::app
