#include "promo/PromoPresenter.h"

#include <cstddef>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace orvek::promo {
namespace {

const VerifiedPromoOffer kOffer{"ORVEK-START-50", "Бонус +50% … Действует до завтра.",
                                "https://orvek.ru/balance"};

// The window system as a test drives it: each run of the alert answers with the next button
// pressed, and every alert, clipboard write and opened address is kept in order.
class PressingAlerts final : public PromoAlerts {
public:
    explicit PressingAlerts(std::deque<std::size_t> presses) : m_presses(std::move(presses)) {}

    std::vector<PromoAlert> shown;
    std::vector<std::string> clipboard;
    std::vector<std::string> opened;

    std::size_t run(const PromoAlert& alert) override {
        shown.push_back(alert);
        if (m_presses.empty()) {
            ADD_FAILURE() << "the alert was run again after the last press";
            return static_cast<std::size_t>(PromoPresenter::Choice::notNow);
        }
        const auto pressed = m_presses.front();
        m_presses.pop_front();
        return pressed;
    }

    void copyToClipboard(const std::string& text) override { clipboard.push_back(text); }
    void openUrl(const std::string& url) override { opened.push_back(url); }

    [[nodiscard]] bool pressedEverything() const { return m_presses.empty(); }

private:
    std::deque<std::size_t> m_presses;
};

TEST(PromoPresenter, TheAlertHoldsTheTermsTheCodeAndThreeButtons) {
    const auto alert = PromoPresenter::alert(kOffer);
    EXPECT_EQ(alert.title, "+50% к первому пополнению");
    EXPECT_EQ(alert.informativeText, kOffer.constraints);
    EXPECT_EQ(alert.code, "ORVEK-START-50");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Копировать код", "Перейти к пополнению",
                                                       "Сейчас не нужно"}));
}

struct PressRow {
    const char* name;
    std::deque<std::size_t> presses;
    std::vector<std::string> clipboard;
    std::vector<std::string> opened;
};

TEST(PromoPresenter, EachButtonDoesItsOneThing) {
    const std::string code = kOffer.code;
    const std::string page = kOffer.balance;
    const PressRow rows[] = {
        {"copy twice, then not now", {0, 0, 2}, {code, code}, {}},
        {"go to top-up", {1}, {}, {page}},
        {"copy, then go to top-up", {0, 1}, {code}, {page}},
        {"not now", {2}, {}, {}},
        {"closed without a button", {3}, {}, {}},
        {"copy, then closed without a button", {0, static_cast<std::size_t>(-1)}, {code}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PressingAlerts alerts(row.presses);
        PromoPresenter(alerts).show(kOffer);
        EXPECT_TRUE(alerts.pressedEverything());
        EXPECT_EQ(alerts.clipboard, row.clipboard);
        EXPECT_EQ(alerts.opened, row.opened);
        // The same alert each time: copying leaves the user where they were.
        ASSERT_EQ(alerts.shown.size(), row.presses.size());
        for (const auto& shown : alerts.shown)
            EXPECT_EQ(shown, PromoPresenter::alert(kOffer));
    }
}

} // namespace
} // namespace orvek::promo
