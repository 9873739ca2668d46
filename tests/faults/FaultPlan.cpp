#include "FaultPlan.h"

#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string_view>

#include <fiu-control.h>
#include <fiu.h>

namespace orvek::test {
namespace {

// libfiu hands its callbacks nothing but the point, so the one live plan is found here.
FaultPlan*& livePlan() {
    static FaultPlan* plan = nullptr;
    return plan;
}

// libfiu's POSIX wrappers of the calls that read or change files and folders. close is left
// out: a failed close changes nothing on disk and libfiu's failing close leaks the descriptor.
const std::vector<std::string> kPoints = {
    "posix/io/oc/open",
    "posix/io/rw/read",
    "posix/io/rw/pread",
    "posix/io/rw/readv",
    "posix/io/rw/write",
    "posix/io/rw/pwrite",
    "posix/io/rw/writev",
    "posix/io/rw/pwritev",
    "posix/io/rw/truncate",
    "posix/io/rw/ftruncate",
    "posix/io/sync/fsync",
    "posix/io/sync/fdatasync",
    "posix/io/dir/opendir",
    "posix/io/dir/fdopendir",
    "posix/io/dir/readdir",
    "posix/io/dir/unlink",
    "posix/io/dir/rename",
    "posix/stdio/remove",
    "posix/stdio/oc/fopen",
    "posix/stdio/rw/fread",
    "posix/stdio/rw/fwrite",
    // The driver's own wrappers (FaultWrappers.cpp).
    "orvek/fs/mkdir",
    "orvek/fs/mkdtemp",
    "orvek/fs/openat",
    "orvek/fs/unlinkat",
    "orvek/fs/rmdir",
    "orvek/fs/renameat2",
    "orvek/fs/chmod",
    "orvek/fs/fchmod",
    "orvek/fs/fchown",
    "orvek/fs/fsetxattr",
    "orvek/fs/futimens",
};

// Consulted by libfiu's write wrappers just before the same call's own point: when it fails,
// the call asks for fewer bytes (a random count of at least one).
const std::vector<std::string> kShortenPoints = {
    "posix/io/rw/write/reduce",
    "posix/io/rw/pwrite/reduce",
    "posix/io/rw/writev/reduce",
    "posix/io/rw/pwritev/reduce",
};

// The point's own name: the one libfiu hands the callback is not kept once the point is
// disabled.
const char* pointNamed(std::string_view name) {
    for (const auto* list : {&kPoints, &kShortenPoints})
        for (const auto& point : *list)
            if (point == name)
                return point.c_str();
    return "(unknown point)";
}

} // namespace

bool& passingThrough() noexcept {
    thread_local bool passing = false;
    return passing;
}

FaultPlan::FaultPlan(FaultMode mode) : m_mode(mode), m_thread(::gettid()) {
    if (livePlan() != nullptr)
        throw std::logic_error("one fault plan at a time");
    m_calls.reserve(1 << 16);
    livePlan() = this;
    m_enabled = true;
    for (const auto& point : kPoints)
        if (fiu_enable_external(point.c_str(), 1, nullptr, 0, &FaultPlan::decide) != 0)
            throw std::runtime_error("cannot enable " + point);
    if (m_mode.kind == FaultMode::Kind::shorten)
        for (const auto& point : kShortenPoints)
            if (fiu_enable_external(point.c_str(), 1, nullptr, 0, &FaultPlan::decide) != 0)
                throw std::runtime_error("cannot enable " + point);
}

FaultPlan::~FaultPlan() {
    end();
}

void FaultPlan::end() {
    if (!m_enabled)
        return;
    m_enabled = false;
    for (const auto& point : kPoints)
        fiu_disable(point.c_str());
    if (m_mode.kind == FaultMode::Kind::shorten)
        for (const auto& point : kShortenPoints)
            fiu_disable(point.c_str());
    livePlan() = nullptr;
}

std::vector<std::string> FaultPlan::calls() const {
    return {m_calls.begin(), m_calls.end()};
}

std::string FaultPlan::struck() const {
    return m_struck ? m_struck : "";
}

const std::vector<std::string>& FaultPlan::points() {
    return kPoints;
}

int FaultPlan::decide(const char* name, int* /*failnum*/, void** failinfo, unsigned* /*flags*/) {
    FaultPlan* plan = livePlan();
    if (plan == nullptr || passingThrough() || ::gettid() != plan->m_thread)
        return 0;
    if (std::string_view(name).ends_with("/reduce")) {
        if (plan->m_mode.kind != FaultMode::Kind::shorten || plan->m_count + 1 != plan->m_mode.call)
            return 0;
        plan->m_struck = pointNamed(name);
        return 1;
    }
    const auto number = ++plan->m_count;
    plan->m_calls.push_back(pointNamed(name));
    if (plan->m_mode.kind != FaultMode::Kind::fail || number != plan->m_mode.call)
        return 0;
    // libfiu's wrappers take the failure's information as the errno to set.
    *failinfo = reinterpret_cast<void*>(static_cast<std::intptr_t>(plan->m_mode.error));
    plan->m_struck = pointNamed(name);
    return 1;
}

} // namespace orvek::test
