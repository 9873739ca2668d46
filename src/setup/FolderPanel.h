#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvek::setup {

/// What the folder panel shows: its title, the message above the list and the confirm button.
struct FolderPanelRequest {
    std::string title;
    std::string message;
    std::string confirm;
};

/// A modal panel in which the user picks one existing folder (never a file). The application
/// implements it with the window system; tests answer it themselves.
class FolderPanel {
public:
    virtual ~FolderPanel() = default;
    /// Blocks until the user answers; absent when the panel was cancelled.
    [[nodiscard]] virtual std::optional<std::filesystem::path>
    chooseFolder(const FolderPanelRequest& request) = 0;
};

} // namespace orvek::setup
