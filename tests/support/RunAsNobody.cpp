#include "RunAsNobody.h"

#include <array>
#include <exception>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/UniqueFd.h"

namespace orvek::test {

std::string runAsNobody(const std::function<std::string()>& body, bool realOnly) {
    std::array<int, 2> ends{};
    if (::pipe(ends.data()) != 0)
        return "pipe failed";
    base::UniqueFd readEnd(ends[0]);
    base::UniqueFd writeEnd(ends[1]);
    const pid_t child = ::fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        readEnd.reset();
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 &&
                             (realOnly ? ::setreuid(kNobody, 0) == 0 : ::setuid(kNobody) == 0);
        std::string result = "cannot change user";
        if (dropped) {
            try {
                result = body();
            } catch (const std::exception& error) {
                result = std::string("other: ") + error.what();
            } catch (...) {
                result = "other: not a std::exception";
            }
        }
        [[maybe_unused]] const auto written = ::write(writeEnd.get(), result.data(), result.size());
        ::_exit(0);
    }
    writeEnd.reset();
    std::string result;
    std::array<char, 512> buffer{};
    ssize_t count = 0;
    while ((count = ::read(readEnd.get(), buffer.data(), buffer.size())) > 0)
        result.append(buffer.data(), static_cast<std::size_t>(count));
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

} // namespace orvek::test
