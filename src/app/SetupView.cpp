#include "app/SetupView.h"

#include <algorithm>
#include <cstdint>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/Brand.h"
#include "app/BrandButton.h"
#include "app/BrandCheckBox.h"
#include "app/BrandHeader.h"
#include "app/BrandSecondaryButton.h"
#include "app/CatPortrait.h"
#include "app/SymbolIcon.h"

namespace orvek::app {
namespace {

constexpr int kCompactWidth = 650;
constexpr int kCompactHeight = 550;

QLabel* makeLabel(const char* name, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setWordWrap(true);
    // Status texts quote paths and helper output: never read them as markup.
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

// What the primary button will do, for those who only hear its label.
QString primaryDescription(bool busy, bool ready, bool failed, bool consent) {
    if (busy)
        return QStringLiteral("Станет доступна, когда текущий этап завершится.");
    if (ready)
        return QStringLiteral("Открывает приложение OpenCode.");
    if (!consent)
        return QStringLiteral("Станет доступна, когда отмечено «Подключить мой аккаунт Орвека».");
    if (failed)
        return QStringLiteral("Запускает установку и подключение ещё раз.");
    return QStringLiteral(
        "Проверяет Mac, устанавливает OpenCode и подключает аккаунт Орвека через вход в браузере.");
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QFont titleFont(int points) {
    QFont font = Brand::font(points, QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.8);
    return font;
}

// Fine enough that a large image visibly moves with each look at its size.
constexpr int kProgressSteps = 1000;

// Megabytes of 10^6 bytes, as the Finder counts them, written the Russian way ("4,2").
QString megabytes(std::uint64_t bytes) {
    const double value = static_cast<double>(bytes) / 1e6;
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    return russian.toString(value, 'f', value < 10 ? 1 : 0);
}

} // namespace

SetupView::SetupView(std::shared_ptr<setup::SetupModel> model, QWidget* parent)
    : BrandScrollArea(parent), m_model(std::move(model)) {
    setObjectName(QStringLiteral("setupView"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    build();

    // Return presses the primary button wherever the focus is in the window.
    pressOnReturn(m_primary);

    // The model tells before and after each change; the screen redraws from the new values.
    m_subscription = m_model->observe({{}, [this](setup::SetupModel::Property) { refresh(); }});
    refresh();
}

void SetupView::build() {
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("setupContent"));
    content->setAutoFillBackground(true);
    QPalette canvas = content->palette();
    canvas.setColor(QPalette::Window, Brand::canvas());
    content->setPalette(canvas);
    viewport()->setPalette(canvas);
    viewport()->setAutoFillBackground(true);

    m_outer = new QVBoxLayout(content);
    m_outer->setSpacing(0);
    m_outer->addWidget(new BrandHeader(content));
    // The content sits in the middle of the room left under the header.
    m_outer->addSpacing(16);
    m_outer->addStretch(1);

    // Hero: what this screen is about, beside the cat.
    auto* hero = new QHBoxLayout;
    hero->setSpacing(20);
    auto* text = new QVBoxLayout;
    text->setSpacing(10);
    QFont eyebrowFont = Brand::font(11, QFont::Bold);
    eyebrowFont.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    m_eyebrow = makeLabel("eyebrowLabel", eyebrowFont, Brand::muted(), content);
    m_title = makeLabel("titleLabel", titleFont(38), Brand::ink(), content);
    m_subtitle = makeLabel("subtitleLabel", Brand::font(15), Brand::muted(), content);
    text->addStretch();
    text->addWidget(m_eyebrow);
    text->addWidget(m_title);
    text->addWidget(m_subtitle);
    text->addStretch();
    hero->addLayout(text, 1);
    m_cat = new CatPortrait(200, content);
    hero->addWidget(m_cat, 0, Qt::AlignVCenter);
    m_outer->addLayout(hero);
    m_outer->addSpacing(20);

    // The card: the note or the run's status, then the consent.
    auto* card = new QFrame(content);
    card->setObjectName(QStringLiteral("setupCard"));
    card->setStyleSheet(QStringLiteral("QFrame#setupCard { background: %1; border: 1px solid %2;"
                                       " border-radius: 16px; }")
                            .arg(Brand::panel().name(), Brand::border().name()));
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(20, 18, 20, 18);
    cardLayout->setSpacing(14);

    m_note = makeLabel("noteLabel", Brand::font(14), Brand::muted(), card);
    m_note->setText(QStringLiteral(
        "По умолчанию — Opus 5. Подготовим набор из семи моделей; переключение доступно в OpenCode."));
    cardLayout->addWidget(m_note);

    m_statusPanel = new QWidget(card);
    m_statusPanel->setObjectName(QStringLiteral("statusPanel"));
    auto* statusLayout = new QVBoxLayout(m_statusPanel);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(8);
    auto* headingRow = new QHBoxLayout;
    headingRow->setSpacing(8);
    m_statusIcon = new SymbolIcon(m_statusPanel);
    m_statusIcon->setObjectName(QStringLiteral("statusIcon"));
    m_statusHeading =
        makeLabel("statusHeading", Brand::font(14, QFont::Bold), Brand::ink(), m_statusPanel);
    headingRow->addWidget(m_statusIcon, 0, Qt::AlignVCenter);
    headingRow->addWidget(m_statusHeading, 1);
    statusLayout->addLayout(headingRow);
    m_status = makeLabel("statusLabel", Brand::font(14), Brand::ink(), m_statusPanel);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setContentsMargins(28, 0, 0, 0);
    statusLayout->addWidget(m_status);
    m_progress = new QProgressBar(m_statusPanel);
    m_progress->setObjectName(QStringLiteral("progressIndicator"));
    m_progress->setAccessibleName(QStringLiteral("Ход настройки"));
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(6);
    m_progress->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 3px; }"
                       " QProgressBar::chunk { background: %2; border-radius: 3px; }")
            .arg(Brand::border().name(), Brand::ink().name()));
    statusLayout->addSpacing(2);
    statusLayout->addWidget(m_progress);
    m_downloadCaption =
        makeLabel("downloadCaption", Brand::font(12), Brand::muted(), m_statusPanel);
    m_downloadCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // One short line; wrapping would make the whole screen ask its height for each width.
    m_downloadCaption->setWordWrap(false);
    statusLayout->addWidget(m_downloadCaption);
    cardLayout->addWidget(m_statusPanel);

    m_divider = new QFrame(card);
    m_divider->setObjectName(QStringLiteral("cardDivider"));
    m_divider->setFixedHeight(1);
    m_divider->setStyleSheet(
        QStringLiteral("background: %1; border: none;").arg(Brand::border().name()));
    cardLayout->addWidget(m_divider);

    m_consentBlock = new QWidget(card);
    auto* consentLayout = new QVBoxLayout(m_consentBlock);
    consentLayout->setContentsMargins(0, 0, 0, 0);
    consentLayout->setSpacing(2);
    m_consent = new BrandCheckBox(QStringLiteral("Подключить мой аккаунт Орвека"), m_consentBlock);
    m_consent->setObjectName(QStringLiteral("consentCheck"));
    m_consent->setAccessibleDescription(
        QStringLiteral("В браузере: управление API-ключами, чтение баланса, доступ к MCP."));
    consentLayout->addWidget(m_consent);
    auto* explanation =
        makeLabel("consentExplanation", Brand::font(13), Brand::muted(), m_consentBlock);
    explanation->setText(
        QStringLiteral("В браузере: управление API-ключами, чтение баланса, доступ к MCP."));
    explanation->setContentsMargins(BrandCheckBox::kLabelIndent, 0, 0, 0);
    consentLayout->addWidget(explanation);
    cardLayout->addWidget(m_consentBlock);
    m_outer->addWidget(card);
    m_outer->addSpacing(18);

    m_primary = new BrandButton(QString(), content);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    m_outer->addWidget(m_primary);
    m_outer->addSpacing(12);

    auto* secondary = new QHBoxLayout;
    secondary->setSpacing(10);
    m_skills = new BrandSecondaryButton(QStringLiteral("Навыки"), content);
    m_skills->setObjectName(QStringLiteral("skillsButton"));
    m_skills->setAccessibleDescription(
        QStringLiteral("Открывает необязательный шаг: навыки OpenCode для ваших рабочих ролей."));
    m_details = new BrandSecondaryButton(QStringLiteral("Сведения и MCP"), content);
    m_details->setObjectName(QStringLiteral("detailsButton"));
    m_details->setAccessibleDescription(QStringLiteral(
        "Открывает сведения о сборке и моделях; оттуда можно проверить MCP или подключить его через CLI."));
    m_close = new BrandSecondaryButton(QStringLiteral("Закрыть"), content);
    m_close->setObjectName(QStringLiteral("closeButton"));
    m_close->setAccessibleDescription(QStringLiteral("Закрывает окно настройки."));
    secondary->addWidget(m_skills);
    secondary->addWidget(m_details);
    secondary->addStretch();
    secondary->addWidget(m_close);
    m_outer->addLayout(secondary);
    m_outer->addStretch(1);

    connect(m_consent, &QCheckBox::toggled, this, [this](bool on) { m_model->setConsent(on); });
    connect(m_primary, &QPushButton::clicked, this, &SetupView::primaryAction);
    connect(m_skills, &QPushButton::clicked, this, [this] { m_model->offerSkills(); });
    connect(m_details, &QPushButton::clicked, this, [this] {
        if (m_detailsAction)
            m_detailsAction();
    });
    // Asks the window to close, so the window's own close rule decides.
    connect(m_close, &QPushButton::clicked, this, [this] { window()->close(); });

    setWidget(content);
    applyForm(false);
}

void SetupView::setDetailsAction(std::function<void()> action) {
    m_detailsAction = std::move(action);
}

void SetupView::primaryAction() {
    if (m_model->ready())
        m_model->openClient();
    else
        m_model->start();
}

void SetupView::resizeEvent(QResizeEvent* event) {
    BrandScrollArea::resizeEvent(event);
    // The room the window gives, not the viewport's: a scroll bar coming and going must not
    // flip the form back and forth.
    const QSize room = size();
    const bool compact = room.width() < kCompactWidth || room.height() < kCompactHeight;
    if (compact != m_compact)
        applyForm(compact);
}

void SetupView::applyForm(bool compact) {
    m_compact = compact;
    const int padding = compact ? 20 : 28;
    m_outer->setContentsMargins(padding, padding - 6, padding, padding);
    m_title->setFont(titleFont(compact ? 27 : 38));
    m_cat->setSide(compact ? 132 : 200);
}

void SetupView::refresh() {
    const auto& model = *m_model;
    const bool busy = model.busy();
    const bool ready = model.ready();
    const bool failed = model.failed();
    const QString status = QString::fromStdString(model.status());

    m_eyebrow->setText(ready ? QStringLiteral("ВСЁ ДЛЯ ПЕРВОГО ШАГА")
                             : QStringLiteral("OPENCODE + Орвек"));
    if (failed)
        m_title->setText(QStringLiteral("Продолжим, когда всё готово"));
    else if (ready)
        m_title->setText(QStringLiteral("Орвек подключён"));
    else if (busy && status.contains(QStringLiteral("браузер")))
        m_title->setText(QStringLiteral("Завершите вход в браузере"));
    else if (busy)
        m_title->setText(QStringLiteral("Готовим ваше рабочее место"));
    else
        m_title->setText(QStringLiteral("Орвек для\nваших задач."));
    m_subtitle->setText(
        ready
            ? QStringLiteral(
                  "Модели подключены. MCP проверяется отдельно; навыки можно добавить сейчас или позже.")
            : QStringLiteral("Настроим OpenCode для работы с моделями Орвека."));

    const bool idle = !busy && !failed && !ready;
    m_note->setVisible(idle);
    m_statusPanel->setVisible(!idle);
    if (failed) {
        m_statusHeading->setText(QStringLiteral("Подключение не завершено"));
        m_statusIcon->setSymbol(QStringLiteral("exclamationmark.circle"), Brand::error());
        setTextColor(m_statusHeading, Brand::error());
    } else if (ready) {
        m_statusHeading->setText(QStringLiteral("Основная настройка готова"));
        m_statusIcon->setSymbol(QStringLiteral("checkmark.circle"), Brand::ink());
        setTextColor(m_statusHeading, Brand::ink());
    } else {
        m_statusHeading->setText(QStringLiteral("Настройка выполняется"));
        m_statusIcon->setSymbol(QStringLiteral("clock"), Brand::ink());
        setTextColor(m_statusHeading, Brand::ink());
    }
    m_status->setText(status);
    setTextColor(m_status, failed ? Brand::error() : Brand::ink());
    m_progress->setVisible(busy);
    showDownload(busy ? model.downloadProgress() : std::nullopt);

    const bool offerConsent = !ready && !busy;
    m_consentBlock->setVisible(offerConsent);
    m_divider->setVisible(offerConsent);
    {
        const QSignalBlocker quiet(m_consent);
        m_consent->setChecked(model.consent());
    }
    m_consent->setEnabled(!busy);

    if (busy)
        m_primary->setText(QStringLiteral("Настройка выполняется…"));
    else if (ready)
        m_primary->setText(QStringLiteral("Открыть OpenCode"));
    else if (failed)
        m_primary->setText(QStringLiteral("Повторить подключение"));
    else
        m_primary->setText(QStringLiteral("Установить и подключить"));
    m_primary->setEnabled(!busy && (ready || model.consent()));
    m_primary->setAccessibleDescription(primaryDescription(busy, ready, failed, model.consent()));

    m_skills->setVisible(ready);
    m_details->setEnabled(!busy);
    m_close->setEnabled(!busy);
}

// The bar fills by the received share when the size is known and otherwise keeps moving, with
// the megabytes so far written beneath it; the status text above it never changes for this.
void SetupView::showDownload(const std::optional<installer::DownloadProgress>& download) {
    m_downloadCaption->setVisible(download.has_value());
    if (!download) {
        m_progress->setRange(0, 0);
        m_downloadCaption->clear();
        return;
    }
    if (download->expected) {
        const auto expected = *download->expected;
        const auto shown = std::min(download->received, expected);
        m_progress->setRange(0, kProgressSteps);
        m_progress->setValue(static_cast<int>(shown * kProgressSteps / expected));
        m_downloadCaption->setText(
            QStringLiteral("%1 из %2 МБ").arg(megabytes(shown), megabytes(expected)));
    } else {
        m_progress->setRange(0, 0);
        m_downloadCaption->setText(
            QStringLiteral("Получено %1 МБ").arg(megabytes(download->received)));
    }
    m_progress->setAccessibleDescription(m_downloadCaption->text());
}

} // namespace orvek::app
