#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvek::mcp {

/// One modal alert as the window system shows it: an informational alert with a title, an
/// informative text and buttons in this order, the first being the default one.
struct McpAlert {
    std::string title;
    std::string informativeText;
    std::vector<std::string> buttons;

    friend bool operator==(const McpAlert&, const McpAlert&) = default;
};

/// The window system's modal alerts, all run on the interface thread. The application
/// implements it with its message boxes (the icon image and the light appearance are its
/// business); tests press the buttons.
class McpAlerts {
public:
    virtual ~McpAlerts() = default;

    /// Runs `alert` modally until the user presses a button; returns that button's index in
    /// `alert.buttons`.
    [[nodiscard]] virtual std::size_t run(const McpAlert& alert) = 0;

    /// Runs the progress alert modally, spinning the interface thread's event loop (tasks posted
    /// to it run meanwhile), until the user presses its only button or `closeProgress` is
    /// called by one of those tasks.
    virtual void runProgress(const McpAlert& alert) = 0;

    /// Ends the modal run of the progress alert and hides its window; called on the interface
    /// thread while `runProgress` runs.
    virtual void closeProgress() = 0;
};

} // namespace orvek::mcp
