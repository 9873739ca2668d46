#pragma once

#include <memory>

#include <QPointer>
#include <QWidget>

#include "setup/FolderPanel.h"

class QFileDialog;

namespace orvek::app {

/// The folder panel as a modal file dialog over the window in front. Qt's own dialog rather
/// than the system's, because only it can show the request's message above the folders.
class QtFolderPanel final : public setup::FolderPanel {
public:
    /// `window` owns the dialog unless a modal window is in front of it.
    explicit QtFolderPanel(QWidget* window = nullptr);

    [[nodiscard]] std::optional<std::filesystem::path>
    chooseFolder(const setup::FolderPanelRequest& request) override;

    /// The dialog `chooseFolder` runs, configured for `request` but not shown.
    [[nodiscard]] static std::unique_ptr<QFileDialog>
    buildDialog(const setup::FolderPanelRequest& request, QWidget* parent);

private:
    QPointer<QWidget> m_window;
};

} // namespace orvek::app
