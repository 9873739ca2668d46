#include "TempHome.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace orvek::test {

// Tests may leave read-only folders behind; the folder's owner opens them up to remove them.
TempHome::TempHome() : m_folder(base::TempFolder::unique("orvek-test-")) {}

void TempHome::write(const std::filesystem::path& relative, std::string_view bytes,
                     std::filesystem::perms mode) const {
    const auto target = path() / relative;
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
    return path() / relative;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace orvek::test
