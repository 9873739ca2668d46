#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvek::promo {

/// The promo alert as the window system shows it: an informational alert with a title, an
/// informative text, the code in a one-line field the user can select but not edit, and
/// buttons in this order, the first being the default one.
struct PromoAlert {
    std::string title;
    std::string informativeText;
    std::string code;
    std::vector<std::string> buttons;

    friend bool operator==(const PromoAlert&, const PromoAlert&) = default;
};

/// What the promo alert needs from the window system, all on the interface thread. The
/// application implements it with a message box, the clipboard and the desktop's URL handler
/// (the icon and the light appearance are its business); tests press the buttons.
class PromoAlerts {
public:
    virtual ~PromoAlerts() = default;

    /// Runs `alert` modally until the user leaves it; returns the index of the pressed button
    /// in `alert.buttons`, or any other number when the alert was closed without one.
    [[nodiscard]] virtual std::size_t run(const PromoAlert& alert) = 0;

    /// Replaces whatever the clipboard holds with `text` as plain text.
    virtual void copyToClipboard(const std::string& text) = 0;

    /// Opens `url` with the system's default handler (the browser).
    virtual void openUrl(const std::string& url) = 0;
};

} // namespace orvek::promo
