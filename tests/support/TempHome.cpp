#include "TempHome.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace orvek::test {

TempHome::TempHome() {
    // Resolve the system folder once so that paths handed to the engine contain no links.
    auto base = std::filesystem::canonical(std::filesystem::temp_directory_path());
    std::string pattern = (base / "orvek-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    m_path = buffer.data();
}

TempHome::~TempHome() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; open them up so removal succeeds.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

void TempHome::write(const std::filesystem::path& relative, std::string_view bytes,
                     std::filesystem::perms mode) const {
    const auto target = m_path / relative;
    std::filesystem::create_directories(target.parent_path());
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out)
            throw std::runtime_error("cannot write " + target.string());
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::permissions(target, mode);
}

std::filesystem::path TempHome::script(const std::filesystem::path& relative,
                                       std::string_view body) const {
    write(relative, "#!/bin/sh\n" + std::string(body) + "\n", std::filesystem::perms::owner_all);
    return m_path / relative;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace orvek::test
