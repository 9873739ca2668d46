#pragma once

#include <functional>
#include <memory>

#include "app/BrandScrollArea.h"
#include "setup/SetupModel.h"

class QFrame;
class QLabel;
class QProgressBar;
class QVBoxLayout;

namespace orvek::app {

class BrandButton;
class BrandCheckBox;
class BrandSecondaryButton;
class CatPortrait;
class SymbolIcon;

/// The main setup screen: what the wizard says and offers in each state of the model, redrawn
/// on every change. Holds no state of its own; scrolls when given less room than it needs.
class SetupView : public BrandScrollArea {
    Q_OBJECT

public:
    explicit SetupView(std::shared_ptr<setup::SetupModel> model, QWidget* parent = nullptr);

    /// What "Сведения и MCP" does; nothing until one is set.
    void setDetailsAction(std::function<void()> action);
    /// Whether the screen uses its compact form (less than 650 by 550 points of room).
    [[nodiscard]] bool isCompact() const noexcept { return m_compact; }

    static constexpr int kMinimumWidth = 440;
    static constexpr int kMinimumHeight = 400;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void build();
    void refresh();
    void applyForm(bool compact);
    void primaryAction();
    void showDownload(const std::optional<installer::DownloadProgress>& download);

    std::shared_ptr<setup::SetupModel> m_model;
    setup::SetupModel::Subscription m_subscription;
    std::function<void()> m_detailsAction;
    bool m_compact = false;

    QVBoxLayout* m_outer = nullptr;
    QLabel* m_eyebrow = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    CatPortrait* m_cat = nullptr;
    QLabel* m_note = nullptr;
    QWidget* m_statusPanel = nullptr;
    SymbolIcon* m_statusIcon = nullptr;
    QLabel* m_statusHeading = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_downloadCaption = nullptr;
    QFrame* m_divider = nullptr;
    QWidget* m_consentBlock = nullptr;
    BrandCheckBox* m_consent = nullptr;
    BrandButton* m_primary = nullptr;
    BrandSecondaryButton* m_skills = nullptr;
    BrandSecondaryButton* m_details = nullptr;
    BrandSecondaryButton* m_close = nullptr;
};

} // namespace orvek::app
