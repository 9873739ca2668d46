#include "skills/AwarenessSection.h"

#include <set>
#include <string_view>
#include <vector>

#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/Pieces.h"
#include "config/ConfigReader.h"

namespace orvek::skills {

namespace {

constexpr const char* kHeader =
    "# Орвек: навыки и возможности во всех папках\nПеред работой учитывай реально перечисленные доступные навыки и прочитай подходящий SKILL.md из глобального каталога навыков: ";
constexpr const char* kInstalledSkills = ".\nУстановленные навыки: ";
constexpr const char* kInstalledRoles = ".\nУстановленные направления и рабочие папки:\n";
constexpr const char* kClosing =
    "\nИспользуй актуальный список MCP-инструментов этой сессии, их описания, схемы аргументов и инструкции каталога. При необходимости сначала найди подходящие инструменты и прочитай их контракт. Не выдумывай инструменты или возможности; конфигурация MCP не подтверждает доступность сервера и авторизации. Если инструмент недоступен, сообщи об этом.\nВидеонавык orvek-video-edit содержит собственные scripts/ и templates/: разрешай их от каталога SKILL.md, а WORK_DIR задавай отдельно. На вопросы о видео сначала загрузи установленные orvek-video-director, orvek-video-edit и orvek-video-generate. Для заявления о доступной генерации нужны initialize и tools/list в текущей сессии вне мастерской. При needs authentication сообщи о неподтверждённом входе; auth и замену конфигурации не запускай без отдельного выбора. Пустой список ресурсов не равен пустому списку tools.\nДля видео и других задач выбирай подходящие установленные навыки и реально доступные MCP-возможности. Установка навыка или MCP не разрешает платную генерацию: платные вызовы требуют явного разрешения пользователя. Не обходи CAPTCHA и 2FA.";

constexpr const char* kNotUtf8Message = "Инструкции должны быть в UTF-8.";
constexpr const char* kRemovedMessage = "Управляемый раздел инструкций удалён. Файл сохранён.";
constexpr const char* kChangedMessage = "Управляемый раздел инструкций изменён. Файл сохранён.";

std::vector<std::string_view> pieces(std::string_view text) {
    std::vector<std::string_view> result;
    for (const auto piece : base::Pieces(text, '/'))
        if (!piece.empty())
            result.push_back(piece);
    return result;
}

std::size_t occurrences(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

} // namespace

std::string awarenessSection(const std::filesystem::path& globalFolder,
                             const SkillCatalogue& catalogue, const ProfileFolders& profiles) {
    // A skill is named by the folder that holds its SKILL.md: "skills/<name>/…/SKILL.md".
    std::set<std::string> names;
    for (const auto& [name, hash] : catalogue) {
        if (!name.ends_with("/SKILL.md"))
            continue;
        const auto parts = pieces(name);
        if (parts.size() >= 2)
            names.emplace(parts[1]);
    }

    std::string section = kAwarenessBegin;
    section += "\n";
    section += kHeader;
    section += (globalFolder / "skills").string();
    section += kInstalledSkills;
    bool first = true;
    for (const auto& name : names) {
        if (!first)
            section += ", ";
        section += name;
        first = false;
    }
    section += kInstalledRoles;
    first = true;
    for (const auto& [role, folder] : profiles) {
        if (!first)
            section += "\n";
        section += "- " + role + ": " + folder;
        first = false;
    }
    section += kClosing;
    section += "\n";
    section += kAwarenessEnd;
    return section;
}

PlacedSection placeSection(const std::optional<base::Bytes>& agents,
                           const std::optional<std::string>& storedSection,
                           const std::string& section) {
    const std::string_view text = agents ? std::string_view(*agents) : std::string_view();
    if (config::ConfigReader::invalidUtf8(text))
        throw base::InstallerFailure(kNotUtf8Message);

    const std::string_view begin = kAwarenessBegin;
    const std::string_view end = kAwarenessEnd;
    const auto beginAt = text.find(begin);
    const auto endAt = text.find(end);
    std::string_view prefix = text;
    std::string_view suffix;
    if (beginAt == std::string_view::npos && endAt == std::string_view::npos) {
        if (storedSection)
            throw base::InstallerFailure(kRemovedMessage);
    } else {
        // Only the exact section written last is ours to replace; anything else is the user's.
        const bool intact = occurrences(text, begin) == 1 && occurrences(text, end) == 1 &&
                            endAt >= beginAt + begin.size() && storedSection &&
                            text.substr(beginAt, endAt + end.size() - beginAt) == *storedSection;
        if (!intact)
            throw base::InstallerFailure(kChangedMessage);
        prefix = text.substr(0, beginAt);
        suffix = text.substr(endAt + end.size());
    }

    PlacedSection placed;
    placed.agents.reserve(prefix.size() + 1 + section.size() + suffix.size());
    placed.agents.append(prefix);
    if (!prefix.empty() && !prefix.ends_with('\n') && !prefix.ends_with('\r'))
        placed.agents += '\n';
    placed.agents += section;
    placed.agents.append(suffix);
    placed.section = section;
    return placed;
}

base::Bytes awarenessState(const SkillCatalogue& catalogue, const ProfileFolders& profiles,
                           const std::string& section) {
    base::JsonValue state = base::JsonValue::object();
    state["hashes"] = catalogue;
    state["profiles"] = profiles;
    state["section"] = section;
    return base::json(state);
}

} // namespace orvek::skills
