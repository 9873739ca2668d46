#pragma once

#include <unistd.h>

#include <utility>

namespace orvek::base {

/// Sole owner of a file descriptor: closes it when destroyed or replaced. Move-only.
class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    [[nodiscard]] int get() const noexcept { return m_fd; }
    [[nodiscard]] bool valid() const noexcept { return m_fd >= 0; }
    explicit operator bool() const noexcept { return valid(); }

    /// Gives up ownership without closing.
    [[nodiscard]] int release() noexcept { return std::exchange(m_fd, -1); }

    /// Closes the current descriptor (if any) and takes `fd`. Close errors are ignored: the
    /// descriptor is gone either way, and retrying after EINTR could close someone else's.
    void reset(int fd = -1) noexcept {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

} // namespace orvek::base
