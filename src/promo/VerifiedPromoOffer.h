#pragma once

#include <string>

namespace orvek::promo {

/// A promo offer that passed every check and may be shown as it is: the code, the complete
/// Russian explanation of its terms and the top-up page the alert opens.
struct VerifiedPromoOffer {
    std::string code;
    std::string constraints;
    std::string balance;

    bool operator==(const VerifiedPromoOffer&) const = default;
};

} // namespace orvek::promo
