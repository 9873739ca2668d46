#include "app/LaunchOptions.h"

#include <cmath>

#include <QRegularExpression>

namespace orvek::app {
namespace {

const QStringList& optionNames() {
    static const QStringList names{QStringLiteral("--render"), QStringLiteral("--width"),
                                   QStringLiteral("--height")};
    return names;
}

/// The argument after `option`, unless it is missing or is itself an option: "--render ready
/// --width 700" names no output file rather than a file called "--width".
std::optional<QString> valueAfter(const QStringList& arguments, qsizetype index) {
    if (index < 0 || index >= arguments.size())
        return std::nullopt;
    const QString& value = arguments[index];
    if (value.isEmpty() || optionNames().contains(value))
        return std::nullopt;
    return value;
}

std::optional<int> points(const QStringList& arguments, const QString& option) {
    const auto at = arguments.indexOf(option);
    const auto value = at < 0 ? std::nullopt : valueAfter(arguments, at + 1);
    if (!value)
        return std::nullopt;
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    if (!decimal.match(*value).hasMatch())
        return std::nullopt;
    const double number = value->toDouble();
    const long rounded = std::lround(number);
    // Nothing narrower than a point draws, and the bitmap limit comes later with a message.
    if (rounded < 1 || rounded > 1'000'000)
        return std::nullopt;
    return static_cast<int>(rounded);
}

} // namespace

LaunchOptions LaunchOptions::parse(const QStringList& arguments) {
    LaunchOptions options;
    const auto render = arguments.indexOf(QStringLiteral("--render"));
    options.renderRequested = render >= 0;
    if (options.renderRequested) {
        const auto screen = valueAfter(arguments, render + 1);
        const auto output = screen ? valueAfter(arguments, render + 2) : std::nullopt;
        if (screen && output)
            options.render = Render{*screen, *output};
    }
    options.width = points(arguments, QStringLiteral("--width"));
    options.height = points(arguments, QStringLiteral("--height"));
    return options;
}

QSize LaunchOptions::sizeOr(QSize defaults) const {
    return {width.value_or(defaults.width()), height.value_or(defaults.height())};
}

} // namespace orvek::app
