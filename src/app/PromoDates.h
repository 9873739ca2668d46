#pragma once

#include "promo/PromoVerification.h"

namespace orvek::app {

/// Formats the offer's end for the user's locale and time zone: the locale's date with the
/// month abbreviated and no weekday, then its short time.
[[nodiscard]] promo::DateFormatter promoDateFormatter();

} // namespace orvek::app
