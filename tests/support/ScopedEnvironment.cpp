#include "ScopedEnvironment.h"

#include <cstdlib>

namespace orvek::test {

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
}

void ScopedEnvironment::remember(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    m_saved.emplace_back(name, value == nullptr ? std::nullopt : std::optional<std::string>(value));
}

void ScopedEnvironment::set(const std::string& name, const std::string& value) {
    remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::unset(const std::string& name) {
    remember(name);
    ::unsetenv(name.c_str());
}

} // namespace orvek::test
