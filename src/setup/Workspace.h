#pragma once

#include <filesystem>
#include <string>

namespace orvek::setup {

/// The desktop's own services the setup flow hands work to: opening applications and
/// addresses. The application implements it with the window system; tests record the calls.
class Workspace {
public:
    virtual ~Workspace() = default;
    /// Asks the desktop to open the application bundle at `app`; returns at once.
    virtual void openApplication(const std::filesystem::path& app) = 0;
    /// Asks the desktop to open the address in the default browser; returns at once.
    virtual void openUrl(const std::string& url) = 0;
};

} // namespace orvek::setup
