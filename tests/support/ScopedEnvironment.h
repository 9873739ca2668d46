#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvek::test {

/// Sets and clears process environment variables for the life of a test and restores every
/// variable it touched, in reverse order, when it goes away. Not for tests that run threads
/// reading the environment meanwhile.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

private:
    void remember(const std::string& name);
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace orvek::test
