#include "app/MainWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvek::app {

MainWindow::MainWindow(std::shared_ptr<setup::SetupModel> model, QWidget* parent)
    : QWidget(parent), m_model(std::move(model)) {
    setWindowTitle(QStringLiteral("Орвек · OpenCode для Mac"));
    setMinimumSize(440, 420);
    resize(820, 650);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(247, 248, 243));
    setPalette(palette);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 48, 48, 48);
    m_consent = new QCheckBox(this);
    m_consent->setObjectName(QStringLiteral("consentCheck"));
    m_consent->setText(QStringLiteral("Подключить мой аккаунт Орвека"));
    m_primary = new QPushButton(this);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    m_primary->setDefault(true);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    // Messages quote paths and helper output; never let them be read as markup.
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addStretch();
    layout->addWidget(m_consent);
    layout->addWidget(m_primary);
    layout->addWidget(m_status);
    layout->addStretch();

    connect(m_consent, &QCheckBox::toggled, this, [this](bool on) { m_model->setConsent(on); });
    connect(m_primary, &QPushButton::clicked, this, &MainWindow::primaryAction);
    // The model tells before and after each change; the view redraws from the new values.
    m_subscription = m_model->observe({{}, [this](setup::SetupModel::Property) { refresh(); }});
    refresh();
}

void MainWindow::primaryAction() {
    if (m_model->ready())
        m_model->openClient();
    else
        m_model->start();
}

void MainWindow::refresh() {
    const auto& model = *m_model;
    m_consent->setChecked(model.consent());
    m_consent->setVisible(!model.busy() && !model.ready());
    if (model.busy())
        m_primary->setText(QStringLiteral("Настройка выполняется…"));
    else if (model.ready())
        m_primary->setText(QStringLiteral("Открыть OpenCode"));
    else if (model.failed())
        m_primary->setText(QStringLiteral("Повторить подключение"));
    else
        m_primary->setText(QStringLiteral("Установить и подключить"));
    m_primary->setEnabled(!model.busy() && (model.ready() || model.consent()));
    m_status->setText(QString::fromStdString(model.status()));
}

} // namespace orvek::app
