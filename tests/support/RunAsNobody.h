#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

namespace orvek::test {

/// The unprivileged user a root test borrows so that file permissions bind.
inline constexpr uid_t kNobody = 65534;

/// Runs `body` in a forked child as user and group kNobody and returns what it returned; with
/// `realOnly` only the real user changes and the effective one stays root. Needs root. Anything
/// the body throws comes back as "other: WHAT", so no exception escapes into the child's copy of
/// the test run; "cannot change user" when the child could not drop its privileges.
[[nodiscard]] std::string runAsNobody(const std::function<std::string()>& body,
                                      bool realOnly = false);

} // namespace orvek::test
