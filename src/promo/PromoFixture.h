#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "promo/PromoOfferDTO.h"

namespace orvek::promo {

// The quoted terms stay on one line, as the user reads them.
// clang-format off
/// The record the render mode draws the promo alert from: a sample code, running from a minute
/// before `now` to an hour after, a minimum of 100 ₽ and a bonus of at most 500 ₽. Its terms
/// name no top-up maximum, so they read
/// "… Минимум: 100 ₽. Максимальный бонус: 500 ₽. Действует до …".
/// It passes `verifyPromoOffer` at `now` with `fixtureBalancePage`.
// clang-format on
[[nodiscard]] PromoOfferDTO fixturePromoOffer(std::chrono::system_clock::time_point now);

/// A top-up page on `webHost` that is plainly not the real one.
[[nodiscard]] std::string fixtureBalancePage(std::string_view webHost);

} // namespace orvek::promo
