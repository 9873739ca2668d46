#include "app/PromoDates.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace orvek::app {

promo::DateFormatter promoDateFormatter() {
    return [](std::chrono::system_clock::time_point when) {
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds);
        const QLocale locale = QLocale::system();
        // Qt has no medium date style: the long one without its weekday and with the month
        // abbreviated reads the same way ("11 дек. 2026 г.", "Dec 11, 2026").
        QString pattern = locale.dateFormat(QLocale::LongFormat);
        pattern.remove(QRegularExpression(QStringLiteral("d{4}[,\\s]*")));
        pattern.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
        const QString text = locale.toString(local.date(), pattern.trimmed()) +
                             QStringLiteral(" ") +
                             locale.toString(local.time(), QLocale::ShortFormat);
        return text.toStdString();
    };
}

} // namespace orvek::app
