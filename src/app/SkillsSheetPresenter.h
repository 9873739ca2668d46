#pragma once

#include <memory>

#include <QObject>
#include <QPointer>

#include "setup/SetupModel.h"

class QWidget;

namespace orvek::app {

class SkillsSheet;

/// Shows the skills sheet over the main window while the model offers the skills step, and
/// takes it away when the step ends. Every change is handled later on the event loop, so the
/// model never waits for a window and a change arriving after the window is gone does nothing.
class SkillsSheetPresenter final : public QObject {
    Q_OBJECT

public:
    SkillsSheetPresenter(QWidget* parentWindow, std::shared_ptr<setup::SetupModel> model);
    ~SkillsSheetPresenter() override;

    /// The sheet on screen; null when none is.
    [[nodiscard]] SkillsSheet* sheet() const noexcept;

private:
    void queueShowSkillsChanged();
    void showSkillsChanged();
    void present();
    void withdraw();

    QPointer<QWidget> m_parent;
    std::shared_ptr<setup::SetupModel> m_model;
    QPointer<SkillsSheet> m_sheet;
    setup::SetupModel::Subscription m_subscription;
};

} // namespace orvek::app
