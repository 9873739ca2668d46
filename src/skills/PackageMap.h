#pragma once

#include <map>
#include <string>

#include "base/Bytes.h"

namespace orvek::skills {

/// Files of the toolkit package: path relative to the folder it was found in ("/"-separated)
/// to its complete content.
using PackageMap = std::map<std::string, base::Bytes>;

/// The prefix of package paths that are global skills rather than workspace files.
inline constexpr const char* kSkillsPrefix = ".opencode/skills/";

} // namespace orvek::skills
