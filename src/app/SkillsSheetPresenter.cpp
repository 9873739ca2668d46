#include "app/SkillsSheetPresenter.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "app/SkillsSheet.h"

namespace orvek::app {

SkillsSheetPresenter::SkillsSheetPresenter(QWidget* parentWindow,
                                           std::shared_ptr<setup::SetupModel> model)
    : m_parent(parentWindow), m_model(std::move(model)) {
    m_subscription = m_model->observe({{}, [this](setup::SetupModel::Property property) {
                                           if (property == setup::SetupModel::Property::showSkills)
                                               queueShowSkillsChanged();
                                       }});
}

void SkillsSheetPresenter::queueShowSkillsChanged() {
    // Queued on this object, so it is dropped if the presenter goes first; the guard covers
    // the rest of the way.
    QMetaObject::invokeMethod(
        this,
        [self = QPointer<SkillsSheetPresenter>(this)] {
            if (!self.isNull())
                self->showSkillsChanged();
        },
        Qt::QueuedConnection);
}

SkillsSheetPresenter::~SkillsSheetPresenter() {
    m_subscription.cancel();
    withdraw();
}

SkillsSheet* SkillsSheetPresenter::sheet() const noexcept {
    return m_sheet.data();
}

void SkillsSheetPresenter::showSkillsChanged() {
    if (m_parent.isNull())
        return;
    // The flag as it is now: a change undone before it was handled shows nothing.
    if (m_model->showSkills())
        present();
    else
        withdraw();
}

void SkillsSheetPresenter::present() {
    if (!m_model->ready() || m_model->busy() || !m_sheet.isNull())
        return;
    const QScreen* screen = m_parent->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect visible = screen->availableGeometry();

    m_sheet = new SkillsSheet(m_model, m_parent);
    m_sheet->resize(std::min(std::max(visible.width() - 48, 440), 600),
                    std::min(std::max(visible.height() - 80, 400), 590));
    m_sheet->show();
    m_sheet->raise();
    m_sheet->activateWindow();
}

void SkillsSheetPresenter::withdraw() {
    if (m_sheet.isNull())
        return;
    m_sheet->hide();
    // Later, as the sheet may be the very widget whose button led here.
    m_sheet->deleteLater();
    m_sheet = nullptr;
}

} // namespace orvek::app
