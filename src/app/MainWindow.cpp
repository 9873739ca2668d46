#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QPalette>
#include <QVBoxLayout>

#include "app/Brand.h"
#include "app/SetupView.h"
#include "app/SkillsView.h"

namespace orvek::app {

MainWindow::MainWindow(std::shared_ptr<setup::SetupModel> model, QWidget* parent)
    : QWidget(parent), m_model(std::move(model)) {
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
    m_view = new SetupView(m_model, this);
    layout->addWidget(m_view);
}

SkillsView& MainWindow::showSkillsScreen() {
    if (m_skills == nullptr) {
        m_skills = new SkillsView(m_model, this);
        layout()->addWidget(m_skills);
        m_view->hide();
    }
    return *m_skills;
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
