#include "promo/PromoOfferLoader.h"

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "Campaign.h"
#include "TempHome.h"

namespace orvek::promo {
namespace {

namespace fs = std::filesystem;
using test::Clock;
using test::issuedRecord;
using test::kFormattedDate;
using test::kNow;

constexpr std::size_t kReadLimit = 1'048'576;

std::string formatDate(Clock::time_point) {
    return std::string(kFormattedDate);
}

std::optional<VerifiedPromoOffer> load(const fs::path& resources) {
    return loadPromoOffer(resources, installer::Deployment::production(), kNow, formatDate);
}

// The issued record padded with trailing white space to exactly `size` bytes.
std::string paddedRecord(std::size_t size) {
    auto record = issuedRecord();
    record.resize(size, ' ');
    return record;
}

TEST(PromoOfferLoader, TheTopUpPageIsTheBalanceOnTheWebHost) {
    EXPECT_EQ(balancePage("orvek.ru"), "https://orvek.ru/balance");
    EXPECT_EQ(balancePage(installer::Deployment::production().webHost), "https://orvek.ru/balance");
}

TEST(PromoOfferLoader, OffersTheRecordShippedInTheResources) {
    const orvek::test::TempHome resources;
    resources.write("promo.json", issuedRecord());
    const auto offer = load(resources.path());
    ASSERT_TRUE(offer.has_value());
    EXPECT_EQ(offer->code, "ORVEK-START-50");
    EXPECT_EQ(offer->balance, "https://orvek.ru/balance");
    EXPECT_EQ(
        offer->constraints,
        "Бонус +50% к сумме только первого пополнения. Один раз на пользователя; это не скидка. Право проверяет сервер по истории платежей, включая организации. Минимум: 100 ₽. Максимальный бонус: 500 ₽. Действует до 15 июл. 2030 г., 15:00. Можно закрыть окно и продолжить работу с OpenCode.");
}

TEST(PromoOfferLoader, BuildsTheTopUpPageFromTheDeploymentsWebHost) {
    const orvek::test::TempHome resources;
    resources.write("promo.json", issuedRecord());
    installer::Deployment deployment;
    deployment.webHost = "web.orvek.test";
    const auto offer = loadPromoOffer(resources.path(), deployment, kNow, formatDate);
    ASSERT_TRUE(offer.has_value());
    EXPECT_EQ(offer->balance, "https://web.orvek.test/balance");
}

struct FileRow {
    const char* name;
    std::function<void(const orvek::test::TempHome&)> prepare;
    bool offered;
};

TEST(PromoOfferLoader, ShowsNothingForAnyTroubleWithTheFile) {
    const FileRow rows[] = {
        {"no record", [](const auto&) {}, false},
        {"exactly 1 MiB",
         [](const auto& home) { home.write("promo.json", paddedRecord(kReadLimit)); }, true},
        {"one byte over 1 MiB",
         [](const auto& home) { home.write("promo.json", paddedRecord(kReadLimit + 1)); }, false},
        {"empty file", [](const auto& home) { home.write("promo.json", ""); }, false},
        {"malformed", [](const auto& home) { home.write("promo.json", "{\"code\": \"ORVEK"); },
         false},
        {"binary", [](const auto& home) { home.write("promo.json", std::string("\0\xFF\x01", 3)); },
         false},
        {"expired",
         [](const auto& home) {
             auto record = issuedRecord();
             record.replace(record.find("2030-07-15"), 10, "2030-06-02");
             home.write("promo.json", record);
         },
         false},
        {"a folder in its place",
         [](const auto& home) { fs::create_directory(home / "promo.json"); }, false},
        {"a link to a valid record",
         [](const auto& home) {
             home.write("elsewhere/promo.json", issuedRecord());
             fs::create_symlink(home / "elsewhere/promo.json", home / "promo.json");
         },
         false},
        {"a dangling link",
         [](const auto& home) { fs::create_symlink(home / "nowhere.json", home / "promo.json"); },
         false},
        {"a pipe in its place",
         [](const auto& home) {
             if (::mkfifo((home / "promo.json").c_str(), 0600) != 0)
                 throw std::runtime_error("mkfifo");
         },
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const orvek::test::TempHome resources;
        row.prepare(resources);
        EXPECT_EQ(load(resources.path()).has_value(), row.offered);
    }
}

TEST(PromoOfferLoader, ShowsNothingWhenTheResourcesAreReachedThroughALink) {
    const orvek::test::TempHome home;
    home.write("Resources/promo.json", issuedRecord());
    fs::create_directory_symlink(home / "Resources", home / "Linked");
    EXPECT_TRUE(load(home / "Resources").has_value());
    EXPECT_FALSE(load(home / "Linked").has_value());
}

TEST(PromoOfferLoader, ShowsNothingWhenTheDateCannotBeFormatted) {
    const orvek::test::TempHome resources;
    resources.write("promo.json", issuedRecord());
    const auto failing = [](Clock::time_point) -> std::string {
        throw std::runtime_error("no locale");
    };
    EXPECT_EQ(loadPromoOffer(resources.path(), installer::Deployment::production(), kNow, failing),
              std::nullopt);
    EXPECT_EQ(loadPromoOffer(resources.path(), installer::Deployment::production(), kNow,
                             DateFormatter()),
              std::nullopt);
}

} // namespace
} // namespace orvek::promo
