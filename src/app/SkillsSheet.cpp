#include "app/SkillsSheet.h"

#include <QCloseEvent>
#include <QPalette>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/Brand.h"
#include "app/SkillsView.h"

namespace orvek::app {

SkillsSheet::SkillsSheet(std::shared_ptr<setup::SetupModel> model, QWidget* parent)
    : QWidget(parent, Qt::Sheet | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_model(std::move(model)) {
    setObjectName(QStringLiteral("skillsSheet"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowModality(Qt::WindowModal);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Brand::canvas());
    setPalette(palette);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new SkillsView(m_model, this);
    layout->addWidget(m_view);

    // Escape is the keyboard's close button.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &SkillsSheet::requestDismiss);
}

void SkillsSheet::closeEvent(QCloseEvent* event) {
    // Closing is the model's decision: while skills install the step stays open.
    event->ignore();
    requestDismiss();
}

void SkillsSheet::requestDismiss() {
    if (!m_model->skillsBusy())
        m_model->dismissSkills();
}

} // namespace orvek::app
