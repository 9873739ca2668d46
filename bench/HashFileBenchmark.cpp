// Verifying a downloaded payload: hashFile of a 1 GiB file against
// `openssl dgst -sha256` and `sha256sum` of the same file in the same run (goal: at least 0.9x
// the throughput of openssl), and the peak resident memory of a child that runs hashFile once
// against a child that does nothing (goal: under 64 MiB).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/Hashing.h"
#include "base/ProcessRunner.h"
#include "base/UniqueFd.h"

namespace {

namespace fs = std::filesystem;
using orvek::base::UniqueFd;
namespace base = orvek::base;

constexpr std::uint64_t kFileSize = std::uint64_t{1} << 30;
constexpr std::size_t kWriteChunk = 1 << 20;
// Each pass over 1 GiB takes about a second; a few keep the whole run near a minute.
constexpr int kIterations = 2;
constexpr int kRepetitions = 3;

// A folder under /var/tmp (on disk, not in memory) holding the payload; gone when destroyed.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = "/var/tmp/orvek-bench-hash-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        m_path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] const fs::path& path() const noexcept { return m_path; }

private:
    fs::path m_path;
};

// splitmix64: fast enough that writing the file, not making its bytes, is the cost.
std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void writePayload(const fs::path& path, std::uint64_t size) {
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file)
        throw std::system_error(errno, std::generic_category(), path.string());
    std::vector<std::uint64_t> words(kWriteChunk / sizeof(std::uint64_t));
    std::uint64_t state = 20240611;
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : words)
            word = nextRandom(state);
        const auto* bytes = reinterpret_cast<const char*>(words.data());
        std::size_t offset = 0;
        while (offset < kWriteChunk) {
            const auto count = ::write(file.get(), bytes + offset, kWriteChunk - offset);
            if (count < 0) {
                if (errno == EINTR)
                    continue;
                throw std::system_error(errno, std::generic_category(), path.string());
            }
            offset += static_cast<std::size_t>(count);
        }
        written += kWriteChunk;
    }
}

std::optional<fs::path> findProgram(std::string_view name) {
    const char* search = std::getenv("PATH");
    std::string_view folders = search != nullptr ? search : "/usr/bin:/bin";
    while (!folders.empty()) {
        const auto colon = folders.find(':');
        const fs::path candidate = fs::path(folders.substr(0, colon)) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    }
    return std::nullopt;
}

void hashFileBenchmark(benchmark::State& state, const fs::path& file, const std::string& digest) {
    for (auto _ : state) {
        if (base::hashFile(file) != digest) {
            state.SkipWithError("hashFile gave a different digest");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}

// The same work done by a system tool, run as a process the way the wizard runs its tools.
void toolBenchmark(benchmark::State& state, const std::string& program,
                   const std::vector<std::string>& arguments, const std::string& digest) {
    const auto executable = findProgram(program);
    if (!executable) {
        state.SkipWithError((program + " not found (Debian: apt-get install " +
                             (program == "openssl" ? "openssl" : "coreutils") + ")")
                                .c_str());
        return;
    }
    for (auto _ : state) {
        const auto result = base::run(*executable, arguments, std::nullopt, 120);
        if (result.status != 0 || result.standardOutput.find(digest) == std::string::npos) {
            state.SkipWithError((program + " gave no matching digest").c_str());
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}

// Peak resident set of a forked child, in MiB. A forked child starts with the parent's pages
// mapped, which is why the idle child is the baseline.
double childPeakMiB(const fs::path* file) {
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::system_error(errno, std::generic_category(), "fork");
    if (pid == 0) {
        int code = 0;
        if (file != nullptr) {
            try {
                (void)base::hashFile(*file);
            } catch (...) {
                code = 1;
            }
        }
        ::_exit(code);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "wait4");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the measured child failed");
#if defined(__APPLE__)
    return static_cast<double>(usage.ru_maxrss) / (1024.0 * 1024.0); // bytes
#else
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // KiB
#endif
}

void peakMemoryBenchmark(benchmark::State& state, const fs::path& file) {
    double idle = 0;
    double hashing = 0;
    for (auto _ : state) {
        idle = childPeakMiB(nullptr);
        hashing = childPeakMiB(&file);
    }
    state.counters["idle_child_MiB"] = idle;
    state.counters["hashing_child_MiB"] = hashing;
    state.counters["over_idle_MiB"] = hashing - idle;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        const ScratchFolder folder;
        const auto file = folder.path() / "payload.bin";
        writePayload(file, kFileSize);
        // Also brings the file into the page cache, so no pass pays for the disk alone.
        const std::string digest = base::hashFile(file);

        const auto configure = [](benchmark::internal::Benchmark* benchmark) {
            benchmark->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(kIterations)
                ->Repetitions(kRepetitions)
                ->ReportAggregatesOnly(true);
        };
        configure(benchmark::RegisterBenchmark("BM_HashFile", hashFileBenchmark, file, digest));
        configure(benchmark::RegisterBenchmark(
            "BM_OpenSslDgst", toolBenchmark, "openssl",
            std::vector<std::string>{"dgst", "-sha256", file.string()}, digest));
        configure(benchmark::RegisterBenchmark("BM_Sha256sum", toolBenchmark, "sha256sum",
                                               std::vector<std::string>{file.string()}, digest));
        benchmark::RegisterBenchmark("BM_HashFilePeakMemory", peakMemoryBenchmark, file)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1);

        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
