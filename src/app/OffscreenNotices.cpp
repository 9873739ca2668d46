#include "app/OffscreenNotices.h"

#include <cstdio>
#include <cstdlib>

#include <QString>
#include <QtGlobal>

namespace orvek::app {

namespace {

bool isOffscreenNotice(QtMsgType type, const QString& message) {
    return type == QtWarningMsg &&
           (message.startsWith(QLatin1String("This plugin does not support")) ||
            message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")));
}

// Everything else is written as Qt's own handler would write it.
void filter(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (isOffscreenNotice(type, message))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void silenceOffscreenNotices() {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qInstallMessageHandler(filter);
}

} // namespace orvek::app
