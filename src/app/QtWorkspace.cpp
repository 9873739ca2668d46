#include "app/QtWorkspace.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QThread>
#include <QUrl>

namespace orvek::app {
namespace {

// The desktop services belong to the GUI thread; workers hand the request over.
void openOnGuiThread(QUrl url) {
    auto* application = QCoreApplication::instance();
    if (!application)
        return;
    if (QThread::currentThread() == application->thread()) {
        QDesktopServices::openUrl(url);
        return;
    }
    QMetaObject::invokeMethod(
        application, [url = std::move(url)] { QDesktopServices::openUrl(url); },
        Qt::QueuedConnection);
}

} // namespace

void QtWorkspace::openApplication(const std::filesystem::path& app) {
    openOnGuiThread(QUrl::fromLocalFile(QString::fromStdString(app.string())));
}

void QtWorkspace::openUrl(const std::string& url) {
    openOnGuiThread(QUrl(QString::fromStdString(url), QUrl::StrictMode));
}

} // namespace orvek::app
