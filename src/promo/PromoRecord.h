#pragma once

#include <optional>
#include <string_view>

#include "promo/PromoOfferDTO.h"

namespace orvek::promo {

/// Decodes a campaign record: one strict JSON object (as the settings reader accepts) whose
/// members are the fields of `PromoOfferDTO` by the same names and nothing else; dates in RFC
/// 3339 in UTC; `bonusValue` and `maxRedemptionsPerUser` written as integers; the amounts as
/// JSON numbers read from their own text, or absent, or null. Absent for anything else: a name
/// misspelt, a member missing or of another type, an amount beyond `Decimal::kMaxDigits` digits.
/// A fraction of a second finer than the clock's tick moves `startsAt` later and `expiresAt`
/// earlier, never widening the campaign. Throws std::bad_alloc only.
[[nodiscard]] std::optional<PromoOfferDTO> decodePromoRecord(std::string_view bytes);

} // namespace orvek::promo
