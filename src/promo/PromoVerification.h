#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "promo/PromoOfferDTO.h"
#include "promo/VerifiedPromoOffer.h"

namespace orvek::promo {

/// Writes a date and time for the user: the application formats it for the current locale and
/// time zone (medium date, short time); tests pass a fixed text.
using DateFormatter = std::function<std::string(std::chrono::system_clock::time_point)>;

/// Longest code the alert shows, in user-perceived characters (extended grapheme clusters).
inline constexpr std::size_t kMaxCodeCharacters = 128;

/// The offer to show when every rule holds for `dto` at `now`, with `balance` as its top-up
/// page: the campaign is the one the texts describe and is running, the code is short and has
/// no white space, line break or control character, `balance` is "https://" on exactly
/// `webHost` without user information or port, and the amounts make sense. Absent otherwise;
/// `formatDate` is called only for an offer. Throws only what `formatDate` throws, or
/// std::bad_alloc.
[[nodiscard]] std::optional<VerifiedPromoOffer>
verifyPromoOffer(const PromoOfferDTO& dto, std::string_view balance, std::string_view webHost,
                 std::chrono::system_clock::time_point now, const DateFormatter& formatDate);

} // namespace orvek::promo
