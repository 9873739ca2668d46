#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "installer/Deployment.h"
#include "promo/PromoVerification.h"
#include "promo/VerifiedPromoOffer.h"

namespace orvek::promo {

/// The campaign record a release may ship in the application's resources.
inline constexpr std::string_view kPromoRecordFile = "promo.json";

/// Where the service's web host keeps the balance and its top-up form.
inline constexpr std::string_view kTopUpPath = "/balance";

/// The top-up page on `webHost`: "https://", the host and `kTopUpPath`.
[[nodiscard]] std::string balancePage(std::string_view webHost);

/// The offer of the campaign record in `resources` when it verifies at `now` with the top-up
/// page on the deployment's web host; absent, silently, when there is no record or any trouble
/// with it (a link, over 1 MiB, not a record, not verified, `formatDate` failing). Nothing is
/// fetched from the network. Never throws.
[[nodiscard]] std::optional<VerifiedPromoOffer>
loadPromoOffer(const std::filesystem::path& resources, const installer::Deployment& deployment,
               std::chrono::system_clock::time_point now, const DateFormatter& formatDate) noexcept;

} // namespace orvek::promo
