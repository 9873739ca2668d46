#include "app/SkillsView.h"

#include <set>

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/Brand.h"
#include "app/BrandButton.h"
#include "app/BrandCheckBox.h"
#include "app/BrandHeader.h"
#include "app/BrandSecondaryButton.h"
#include "app/SymbolIcon.h"

namespace orvek::app {
namespace {

QLabel* makeLabel(const QString& name, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFont(font);
    label->setWordWrap(true);
    // The status quotes paths and engine messages: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QFrame* makeDivider(QWidget* parent) {
    auto* divider = new QFrame(parent);
    divider->setFixedHeight(1);
    divider->setStyleSheet(
        QStringLiteral("background: %1; border: none;").arg(Brand::border().name()));
    return divider;
}

} // namespace

SkillsView::SkillsView(std::shared_ptr<setup::SetupModel> model, QWidget* parent)
    : BrandScrollArea(parent), m_model(std::move(model)) {
    setObjectName(QStringLiteral("skillsView"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    build();

    // Return installs the selection wherever the focus is in the sheet.
    pressOnReturn(m_install);

    m_subscription = m_model->observe({{}, [this](setup::SetupModel::Property) { refresh(); }});
    refresh();
}

void SkillsView::build() {
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("skillsContent"));
    content->setAutoFillBackground(true);
    QPalette canvas = content->palette();
    canvas.setColor(QPalette::Window, Brand::canvas());
    content->setPalette(canvas);
    viewport()->setPalette(canvas);
    viewport()->setAutoFillBackground(true);

    auto* outer = new QVBoxLayout(content);
    outer->setContentsMargins(24, 14, 24, 18);
    outer->setSpacing(0);
    outer->addWidget(new BrandHeader(content));
    outer->addSpacing(10);

    QFont eyebrowFont = Brand::font(11, QFont::Bold);
    eyebrowFont.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    auto* eyebrow = makeLabel(QStringLiteral("eyebrowLabel"), eyebrowFont, Brand::muted(), content);
    eyebrow->setText(QStringLiteral("НЕОБЯЗАТЕЛЬНЫЙ ШАГ"));
    outer->addWidget(eyebrow);
    outer->addSpacing(8);

    QFont titleFont = Brand::font(27, QFont::Bold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
    auto* title = makeLabel(QStringLiteral("titleLabel"), titleFont, Brand::ink(), content);
    title->setText(QStringLiteral("Что пригодится в работе?"));
    outer->addWidget(title);
    outer->addSpacing(8);

    auto* intro = makeLabel(QStringLiteral("introLabel"), Brand::font(14), Brand::muted(), content);
    intro->setText(QStringLiteral(
        "OpenCode уже готов. Выберите навыки для всех проектов. Ничего не выбрано заранее — этот шаг можно пропустить."));
    outer->addWidget(intro);
    outer->addSpacing(14);

    outer->addWidget(buildRoles(content));
    outer->addSpacing(12);

    // The run's status, with a mark once it has an outcome; hidden parts take no room.
    auto* statusBlock = new QVBoxLayout;
    statusBlock->setSpacing(8);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    m_statusIcon = new SymbolIcon(content);
    m_statusIcon->setObjectName(QStringLiteral("skillsStatusIcon"));
    m_status =
        makeLabel(QStringLiteral("skillsStatusLabel"), Brand::font(13), Brand::muted(), content);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusRow->addWidget(m_statusIcon, 0, Qt::AlignTop);
    statusRow->addWidget(m_status, 1);
    statusBlock->addLayout(statusRow);

    m_progress = new QProgressBar(content);
    m_progress->setObjectName(QStringLiteral("skillsProgress"));
    m_progress->setAccessibleName(QStringLiteral("Ход установки навыков"));
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(6);
    m_progress->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 3px; }"
                       " QProgressBar::chunk { background: %2; border-radius: 3px; }")
            .arg(Brand::border().name(), Brand::ink().name()));
    statusBlock->addWidget(m_progress);

    // After a failure: what the user may do, and another folder when the first was taken.
    m_failure = new QWidget(content);
    m_failure->setObjectName(QStringLiteral("failurePanel"));
    auto* failureLayout = new QVBoxLayout(m_failure);
    failureLayout->setContentsMargins(28, 0, 0, 0);
    failureLayout->setSpacing(8);
    auto* hint =
        makeLabel(QStringLiteral("failureHintLabel"), Brand::font(13), Brand::ink(), m_failure);
    hint->setText(QStringLiteral(
        "Повторите установку или продолжите без оставшихся навыков. Уже добавленные файлы сохранены."));
    failureLayout->addWidget(hint);
    m_alternate =
        new BrandSecondaryButton(QStringLiteral("Выбрать другую рабочую папку…"), m_failure);
    m_alternate->setObjectName(QStringLiteral("alternateFolderButton"));
    m_alternate->setAccessibleDescription(QStringLiteral(
        "Открывает выбор папки, в которой будет создана новая рабочая папка Орвека; существующие файлы останутся на месте."));
    failureLayout->addWidget(m_alternate, 0, Qt::AlignLeft);
    statusBlock->addWidget(m_failure);
    outer->addLayout(statusBlock);

    // The actions stay at the bottom of whatever room is left.
    outer->addStretch(1);
    outer->addSpacing(12);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(10);
    m_skip = new BrandSecondaryButton(QString(), content);
    m_skip->setObjectName(QStringLiteral("skipButton"));
    m_install = new BrandButton(QString(), content);
    m_install->setObjectName(QStringLiteral("installButton"));
    actions->addWidget(m_skip, 0, Qt::AlignVCenter);
    actions->addWidget(m_install, 1);
    outer->addLayout(actions);

    connect(m_alternate, &QPushButton::clicked, this, [this] { m_model->chooseAlternateFolder(); });
    connect(m_install, &QPushButton::clicked, this, [this] { m_model->installSkills(); });
    connect(m_skip, &QPushButton::clicked, this, [this] { m_model->dismissSkills(); });

    setWidget(content);
}

QWidget* SkillsView::buildRoles(QWidget* parent) {
    auto* card = new QFrame(parent);
    card->setObjectName(QStringLiteral("rolesCard"));
    card->setStyleSheet(QStringLiteral("QFrame#rolesCard { background: %1; border: 1px solid %2;"
                                       " border-radius: 16px; }")
                            .arg(Brand::panel().name(), Brand::border().name()));
    // One line a role: the box with its title, then what the role covers, which wraps when
    // the sheet is narrow.
    auto* grid = new QGridLayout(card);
    grid->setContentsMargins(18, 2, 18, 2);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(0);
    grid->setColumnStretch(1, 1);

    const auto& roles = m_model->roles();
    int row = 0;
    for (const auto& role : roles) {
        const QString id = QString::fromStdString(role.id);
        if (row > 0)
            grid->addWidget(makeDivider(card), row++, 0, 1, 2);

        auto* box = new BrandCheckBox(QString::fromStdString(role.title), card);
        box->setObjectName(QStringLiteral("roleCheck_") + id);
        box->setAccessibleDescription(QString::fromStdString(role.summary));
        auto* summary =
            makeLabel(QStringLiteral("roleSummary_") + id, Brand::font(13), Brand::muted(), card);
        summary->setText(QString::fromStdString(role.summary));
        // Lines up the caption's first line with the title beside it.
        summary->setContentsMargins(0, 10, 0, 8);
        box->setFixedHeight(box->sizeHint().height() + 12);
        // A click on the caption ticks the box too, as one on the title does.
        summary->setBuddy(box);
        summary->setCursor(Qt::PointingHandCursor);
        summary->installEventFilter(this);
        grid->addWidget(box, row, 0, Qt::AlignTop);
        grid->addWidget(summary, row, 1, Qt::AlignTop);
        ++row;

        connect(box, &QCheckBox::toggled, this,
                [this, id = role.id](bool on) { toggleRole(id, on); });
        m_roles.push_back({role.id, box});
    }
    return card;
}

bool SkillsView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* label = qobject_cast<QLabel*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        auto* box = label != nullptr ? qobject_cast<QCheckBox*>(label->buddy()) : nullptr;
        if (box != nullptr && mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            // Does nothing while the box is disabled.
            box->click();
            return true;
        }
    }
    return BrandScrollArea::eventFilter(watched, event);
}

void SkillsView::toggleRole(const std::string& id, bool on) {
    auto selection = m_model->selection();
    if (on)
        selection.insert(id);
    else
        selection.erase(id);
    m_model->setSelection(std::move(selection));
}

void SkillsView::refresh() {
    const auto& model = *m_model;
    const bool busy = model.skillsBusy();
    const bool failed = model.skillsFailed();

    for (const auto& role : m_roles) {
        {
            const QSignalBlocker quiet(role.box);
            role.box->setChecked(model.selection().contains(role.id));
        }
        role.box->setEnabled(!busy);
    }

    m_status->setText(QString::fromStdString(model.skillsStatus()));
    setTextColor(m_status, failed ? Brand::error() : Brand::muted());
    if (failed)
        m_statusIcon->setSymbol(QStringLiteral("exclamationmark.circle"), Brand::error());
    else if (model.skillsSucceeded())
        m_statusIcon->setSymbol(QStringLiteral("checkmark.circle"), Brand::ink());
    else if (busy)
        m_statusIcon->setSymbol(QStringLiteral("clock"), Brand::muted());
    else
        m_statusIcon->setSymbol(QString(), Brand::muted());
    m_statusIcon->setVisible(!m_statusIcon->symbol().isEmpty());
    m_progress->setVisible(busy);

    m_failure->setVisible(failed);
    m_alternate->setVisible(failed && model.canChooseAlternateFolder());

    if (busy) {
        m_install->setText(QStringLiteral("Добавляем навыки…"));
        m_install->setAccessibleDescription(
            QStringLiteral("Навыки устанавливаются; дождитесь окончания."));
    } else if (failed) {
        m_install->setText(QStringLiteral("Повторить навыки"));
        m_install->setAccessibleDescription(QStringLiteral(
            "Повторяет установку для отмеченных ролей, навыки которых ещё не добавлены."));
    } else {
        m_install->setText(QStringLiteral("Установить выбранные"));
        m_install->setAccessibleDescription(QStringLiteral(
            "Создаёт рабочую папку для каждой отмеченной роли и добавляет её навыки во все проекты OpenCode."));
    }
    m_install->setEnabled(!busy);

    m_skip->setText(failed ? QStringLiteral("Продолжить") : QStringLiteral("Пропустить"));
    m_skip->setAccessibleDescription(
        failed
            ? QStringLiteral(
                  "Закрывает этот шаг без оставшихся навыков; уже добавленные файлы сохраняются.")
            : QStringLiteral(
                  "Закрывает этот шаг без установки; навыки можно добавить позже кнопкой «Навыки»."));
    m_skip->setEnabled(!busy);
}

} // namespace orvek::app
