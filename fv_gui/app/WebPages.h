// The project's own pages that the About menu opens in the browser.
#pragma once

namespace fv {

inline constexpr const char kWebSupportPage[] = "https://ferrovane.org/support";
inline constexpr const char kDonationPage[] = "https://ferrovane.org/donate";

}  // namespace fv
