#pragma once

#include <memory>

#include <QWidget>

#include "setup/SetupModel.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace orvek::app {

/// The wizard's one window: the consent, the primary button and the status line, redrawn
/// whenever the model changes.
class MainWindow final : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(std::shared_ptr<setup::SetupModel> model, QWidget* parent = nullptr);

private:
    void refresh();
    void primaryAction();

    std::shared_ptr<setup::SetupModel> m_model;
    setup::SetupModel::Subscription m_subscription;
    QCheckBox* m_consent = nullptr;
    QPushButton* m_primary = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace orvek::app
