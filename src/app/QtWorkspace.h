#pragma once

#include "setup/Workspace.h"

namespace orvek::app {

/// Opens applications and addresses through the desktop; safe to call from any thread.
class QtWorkspace final : public setup::Workspace {
public:
    void openApplication(const std::filesystem::path& app) override;
    void openUrl(const std::string& url) override;
};

} // namespace orvek::app
