#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

namespace orvek::test {

/// What a driver run does to the file-system calls of its operation.
struct FaultMode {
    enum class Kind {
        count,   // fails nothing and records every call
        fail,    // fails call number `call` with `error`
        shorten, // lets call number `call`, a write, write fewer bytes than asked
    };
    Kind kind = Kind::count;
    std::size_t call = 0;
    int error = 0;
};

/// True on a thread while it reads or writes something other than a file (a child's pipe):
/// such calls are no file-system calls, and the plan neither counts nor fails them.
[[nodiscard]] bool& passingThrough() noexcept;

/// Enables the failure points for as long as it lives, counting the calls the thread that made
/// it passes. Other threads (a test server) and forked children are neither counted nor failed.
/// One per process at a time: libfiu's callbacks carry no context of their own.
class FaultPlan {
public:
    explicit FaultPlan(FaultMode mode);
    ~FaultPlan();
    FaultPlan(const FaultPlan&) = delete;
    FaultPlan& operator=(const FaultPlan&) = delete;

    /// Disables the points; later calls are neither counted nor failed.
    void end();

    /// The point name of each call so far, in order.
    [[nodiscard]] std::vector<std::string> calls() const;
    /// The point that failed or wrote short, empty when none did.
    [[nodiscard]] std::string struck() const;

    /// The points enabled: libfiu's POSIX wrappers and the driver's own for the calls libfiu
    /// does not wrap.
    [[nodiscard]] static const std::vector<std::string>& points();

private:
    static int decide(const char* name, int* failnum, void** failinfo, unsigned* flags);

    FaultMode m_mode;
    pid_t m_thread;
    bool m_enabled = false;
    std::atomic<std::size_t> m_count{0};
    // Written by the one counted thread only, read after `end`.
    std::vector<const char*> m_calls;
    const char* m_struck = nullptr;
};

} // namespace orvek::test
