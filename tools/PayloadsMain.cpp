// orvek-payloads: makes the release's "payloads.json" from the release's own artefacts, or checks
// one made before, exactly as the wizard will read it.

#include <exception>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ReleaseManifest.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "installer/Deployment.h"

namespace {

using namespace orvek;

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsageError = 2;

constexpr std::string_view kUsage =
    "usage: orvek-payloads --image FILE --image-url URL --team TEAM\n"
    "                      --archive FILE --archive-url URL --output FILE\n"
    "       orvek-payloads --check FILE\n";
constexpr std::string_view kHelp =
    "Первая форма пишет манифест выпуска FILE (новый файл) из самих артефактов: образа OpenCode,\n"
    "идентификатора команды его подписи и архива подключения. SHA-256 образа, архива и файла\n"
    "orvek в архиве и размеры считает сама; архив должен быть тем, что закреплён в приложении.\n"
    "Вторая форма проверяет готовый манифест так же, как его прочтёт приложение.\n"
    "Код выхода: 0 готово, 1 отказ (причина в stderr), 2 ошибка в командной строке.\n"
    "\n"
    "Только для тестов: --archive-pin-for-testing SHA256 заменяет закреплённый хеш архива.\n";

int usage() {
    std::cerr << kUsage;
    return kUsageError;
}

// The options, each given once with its value; absent for anything else.
std::optional<std::map<std::string, std::string>> parse(const std::vector<std::string>& args) {
    static const std::vector<std::string_view> kKnown = {
        "--image",       "--image-url", "--team",  "--archive",
        "--archive-url", "--output",    "--check", "--archive-pin-for-testing"};
    std::map<std::string, std::string> options;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        bool known = false;
        for (const auto name : kKnown)
            known = known || args[i] == name;
        if (!known || i + 1 >= args.size() || options.contains(args[i]))
            return std::nullopt;
        options[args[i]] = args[i + 1];
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage << "\n" << kHelp;
        return kDone;
    }
    const auto options = parse(args);
    if (!options)
        return usage();
    auto option = [&options](const char* name) -> std::optional<std::string> {
        const auto found = options->find(name);
        return found == options->end() ? std::nullopt : std::optional(found->second);
    };

    // The application's own pin unless a test brings the sandbox's archive.
    std::string pin = installer::Deployment::production().helperArchiveHash;
    if (const auto testing = option("--archive-pin-for-testing")) {
        if (!base::isSha256Text(*testing))
            return usage();
        pin = *testing;
    }

    try {
        if (const auto file = option("--check")) {
            if (options->size() != (option("--archive-pin-for-testing") ? 2U : 1U))
                return usage();
            tools::ReleaseManifest::checkFile(*file, pin);
            std::cout << "Манифест принят: " << *file << "\n";
            return kDone;
        }
        const auto image = option("--image");
        const auto imageUrl = option("--image-url");
        const auto team = option("--team");
        const auto archive = option("--archive");
        const auto archiveUrl = option("--archive-url");
        const auto output = option("--output");
        if (!image || !imageUrl || !team || !archive || !archiveUrl || !output)
            return usage();
        const auto manifest =
            tools::ReleaseManifest::make({*image, *imageUrl, *team, *archive, *archiveUrl}, pin);
        tools::ReleaseManifest::write(manifest, *output, pin);
        std::cout << "Манифест записан: " << *output << "\n" << manifest.dump(2) << "\n";
        return kDone;
    } catch (const std::exception& refusal) {
        std::cerr << "orvek-payloads: " << refusal.what() << "\n";
        return kRefused;
    }
}
