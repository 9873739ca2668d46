#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QPalette>
#include <QVBoxLayout>

#include "app/Brand.h"
#include "app/SetupView.h"

namespace orvek::app {

MainWindow::MainWindow(std::shared_ptr<setup::SetupModel> model, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kWidth, kHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Brand::canvas());
    setPalette(palette);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new SetupView(std::move(model), this);
    layout->addWidget(m_view);
}

void MainWindow::setCloseGuard(std::function<bool()> guard) {
    m_closeGuard = std::move(guard);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_closeGuard && !m_closeGuard()) {
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace orvek::app
