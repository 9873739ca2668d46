#include "ProcessWatch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>

namespace orvek::sandbox {

namespace fs = std::filesystem;

namespace {

constexpr auto kInterval = std::chrono::milliseconds(3);

// Empty when the process is gone, which reading its files reports as an error at any point.
std::string contentOf(const fs::path& path) {
    try {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    } catch (const std::exception&) {
        return {};
    }
}

// The parent's pid from /proc/PID/stat; the name before it is in parentheses and may hold
// spaces, so the fields are counted from the last closing one.
std::optional<pid_t> parentOf(pid_t pid) {
    const auto stat = contentOf("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size())
        return std::nullopt;
    try {
        return static_cast<pid_t>(std::stol(stat.substr(close + 4)));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::set<pid_t> runningPids() {
    std::set<pid_t> pids;
    std::error_code error;
    for (fs::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error)) {
        const auto name = entry->path().filename().string();
        if (!name.empty() &&
            std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            pids.insert(static_cast<pid_t>(std::stol(name)));
    }
    return pids;
}

} // namespace

ProcessWatch::ProcessWatch(fs::path log) : m_log(std::move(log)) {
    m_thread = std::thread([this] { watch(); });
}

ProcessWatch::~ProcessWatch() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void ProcessWatch::watch() {
    const pid_t self = ::getpid();
    std::map<pid_t, pid_t> parents;
    std::map<pid_t, std::string> recorded;
    std::ofstream log(m_log, std::ios::app | std::ios::binary);
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, kInterval, [this] { return m_stopping; })) {
        const auto pids = runningPids();
        std::erase_if(parents, [&pids](const auto& entry) { return !pids.contains(entry.first); });
        std::erase_if(recorded, [&pids](const auto& entry) { return !pids.contains(entry.first); });
        for (const pid_t pid : pids)
            if (!parents.contains(pid))
                if (const auto parent = parentOf(pid))
                    parents.emplace(pid, *parent);
        for (const auto& [pid, parent] : parents) {
            // Up the recorded parents to this process; the table has no cycles but is bounded.
            bool descendant = false;
            pid_t up = parent;
            for (std::size_t step = 0; step < parents.size() + 1 && up > 1; ++step) {
                if (up == self) {
                    descendant = true;
                    break;
                }
                const auto found = parents.find(up);
                if (found == parents.end())
                    break;
                up = found->second;
            }
            if (!descendant)
                continue;
            auto arguments = contentOf("/proc/" + std::to_string(pid) + "/cmdline");
            while (arguments.ends_with('\0'))
                arguments.pop_back();
            std::replace(arguments.begin(), arguments.end(), '\0', ' ');
            if (arguments.empty() || recorded[pid] == arguments)
                continue;
            recorded[pid] = arguments;
            log << pid << ": " << arguments << "\n" << std::flush;
        }
    }
}

} // namespace orvek::sandbox
