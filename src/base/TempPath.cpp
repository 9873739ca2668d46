#include "base/TempPath.h"

#include <utility>

#include "base/NoReplaceRename.h"
#include "base/TempFolder.h"

namespace orvek::base {

TempPath::TempPath(std::filesystem::path path) : m_path(std::move(path)) {}

TempPath::~TempPath() {
    if (!m_kept)
        removeTree(m_path);
}

void TempPath::keepAs(const std::filesystem::path& target) {
    publishWithoutReplacing(m_path, target);
    m_kept = true;
}

} // namespace orvek::base
