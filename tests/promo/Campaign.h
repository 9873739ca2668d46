#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "promo/PromoOfferDTO.h"

namespace orvek::promo::test {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

/// The moment every test runs at: noon UTC, 15 June 2030.
inline const Clock::time_point kNow =
    std::chrono::sys_days(std::chrono::year(2030) / 6 / 15) + std::chrono::hours(12);

inline constexpr std::string_view kWebHost = "orvek.ru";
inline constexpr std::string_view kBalance = "https://orvek.ru/balance";
inline constexpr std::string_view kFormattedDate = "15 июл. 2030 г., 15:00";

/// The instant of a date and time in UTC.
inline Clock::time_point utc(int year, unsigned month, unsigned day, int hour = 0, int minute = 0,
                             int second = 0) {
    return std::chrono::sys_days(std::chrono::year(year) / month / day) + std::chrono::hours(hour) +
           std::chrono::minutes(minute) + std::chrono::seconds(second);
}

/// A campaign as the service issues it, running at `kNow`: a minimum of 100 ₽, a bonus of at
/// most 500 ₽, until 15 July 2030 12:00 UTC.
PromoOfferDTO issuedCampaign();

/// The same campaign as a `promo.json` record.
std::string issuedRecord();

} // namespace orvek::promo::test
