#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/BrandScrollArea.h"
#include "setup/SetupModel.h"

class QLabel;
class QProgressBar;

namespace orvek::app {

class BrandButton;
class BrandCheckBox;
class BrandSecondaryButton;
class SymbolIcon;

/// The optional skills step: one box per work role, the run's status and what to do next,
/// redrawn on every change of the model. Holds no state of its own; scrolls when given less
/// room than it needs.
class SkillsView : public BrandScrollArea {
    Q_OBJECT

public:
    explicit SkillsView(std::shared_ptr<setup::SetupModel> model, QWidget* parent = nullptr);

    static constexpr int kMinimumWidth = 440;
    static constexpr int kMinimumHeight = 400;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct RoleBox {
        std::string id;
        BrandCheckBox* box;
    };

    void build();
    QWidget* buildRoles(QWidget* parent);
    void refresh();
    void toggleRole(const std::string& id, bool on);

    std::shared_ptr<setup::SetupModel> m_model;
    setup::SetupModel::Subscription m_subscription;

    std::vector<RoleBox> m_roles;
    SymbolIcon* m_statusIcon = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QWidget* m_failure = nullptr;
    BrandSecondaryButton* m_alternate = nullptr;
    BrandButton* m_install = nullptr;
    BrandSecondaryButton* m_skip = nullptr;
};

} // namespace orvek::app
