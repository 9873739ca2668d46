#pragma once

#include <string>
#include <vector>

namespace orvek::setup {

/// A work role offered in the skills step; identified by `id`, one of the engine's profile ids.
struct SkillRole {
    std::string id;
    std::string title;
    std::string summary;

    friend bool operator==(const SkillRole& a, const SkillRole& b) { return a.id == b.id; }

    /// The five roles in the order of the sheet and of installation.
    [[nodiscard]] static const std::vector<SkillRole>& roles();
};

} // namespace orvek::setup
