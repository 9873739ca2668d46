#include "app/QtPromoAlerts.h"

#include <functional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "promo/PromoPresenter.h"

namespace orvek::app {
namespace {

const promo::VerifiedPromoOffer kOffer{"ORVEK-50", "Условия акции.", "https://orvek.ru/balance"};

// Receives the URLs the alert asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// Presses the alert's buttons labelled `labels`, one per showing of the alert, once each is up.
void press(std::vector<QString> labels) {
    auto remaining = std::make_shared<std::vector<QString>>(std::move(labels));
    auto* timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, remaining] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (remaining->empty()) {
            timer->deleteLater();
            return;
        }
        for (auto* button : box->buttons()) {
            if (button->text() == remaining->front()) {
                remaining->erase(remaining->begin());
                button->click();
                break;
            }
        }
        if (remaining->empty())
            timer->deleteLater();
    });
    timer->start();
}

TEST(QtPromoAlerts, BuildsTheAlertWithASelectableCodeAndTheButtonsInOrder) {
    const auto alert = QtPromoAlerts::build(promo::PromoPresenter::alert(kOffer), nullptr);
    EXPECT_EQ(alert->text(), "+50% к первому пополнению");
    EXPECT_EQ(alert->informativeText(), "Условия акции.");
    EXPECT_FALSE(alert->iconPixmap().isNull()) << "the brand art is the alert's icon";
    const auto* code = alert->findChild<QLineEdit*>("promoCode");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->text(), "ORVEK-50");
    EXPECT_TRUE(code->isReadOnly());
    EXPECT_EQ(code->size(), QSize(360, 32));
    QStringList labels;
    for (auto* button : alert->buttons())
        labels << button->text();
    EXPECT_EQ(labels, (QStringList{"Копировать код", "Перейти к пополнению", "Сейчас не нужно"}));
    ASSERT_NE(alert->defaultButton(), nullptr);
    EXPECT_EQ(alert->defaultButton()->text(), "Копировать код");
}

TEST(QtPromoAlerts, CopyKeepsTheAlertOpenAndTopUpOpensTheBalancePage) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    QGuiApplication::clipboard()->setText("прежнее");
    QtPromoAlerts alerts(nullptr);

    press({"Копировать код", "Копировать код", "Сейчас не нужно"});
    alerts.show(kOffer);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "ORVEK-50");
    EXPECT_TRUE(recorder.opened.empty());

    press({"Перейти к пополнению"});
    alerts.show(kOffer);
    EXPECT_EQ(recorder.opened, std::vector<QUrl>{QUrl("https://orvek.ru/balance")});
    QDesktopServices::unsetUrlHandler("https");
}

} // namespace
} // namespace orvek::app

#include "QtPromoAlertsTest.moc"
