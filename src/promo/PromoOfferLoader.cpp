#include "promo/PromoOfferLoader.h"

#include "base/FilePrimitives.h"
#include "promo/PromoRecord.h"

namespace orvek::promo {

std::string balancePage(std::string_view webHost) {
    std::string page("https://");
    page.append(webHost).append(kTopUpPath);
    return page;
}

std::optional<VerifiedPromoOffer> loadPromoOffer(const std::filesystem::path& resources,
                                                 const installer::Deployment& deployment,
                                                 std::chrono::system_clock::time_point now,
                                                 const DateFormatter& formatDate) noexcept {
    // An offer is optional: whatever goes wrong here, the formatter the application supplies
    // included, the wizard goes on as if there were none.
    try {
        const auto bytes = base::readIfPresent(resources / kPromoRecordFile);
        if (!bytes)
            return std::nullopt;
        const auto dto = decodePromoRecord(*bytes);
        if (!dto)
            return std::nullopt;
        return verifyPromoOffer(*dto, balancePage(deployment.webHost), deployment.webHost, now,
                                formatDate);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace orvek::promo
