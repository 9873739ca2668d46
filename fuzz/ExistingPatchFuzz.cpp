// Checks the in-place patch of a saved connection's settings: whatever it accepts, it returns
// a file the strict reader still accepts, naming the default model and every model of the set,
// with every other value exactly as it was. Offsets that drift by a byte show up here first.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "config/ConfigReader.h"
#include "config/ProductLists.h"
#include "config/SavedConnection.h"

namespace {

using orvek::base::InstallerFailure;
using orvek::base::JsonError;
using orvek::base::JsonValue;
using orvek::config::ConfigReader;

void check(bool condition, const char* what, std::string_view input) {
    if (condition)
        return;
    std::cerr << "existing patch fuzz: " << what << " (" << input.size() << " bytes)\n";
    std::abort();
}

// The document without what the patch may change: the model and the models' added entries.
JsonValue withoutPatchedParts(JsonValue document, const JsonValue& originalModels) {
    document.erase("model");
    document["provider"]["orvek"]["models"] = originalModels;
    return document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string patched;
    try {
        patched = orvek::config::SavedConnection::patch(input);
    } catch (const InstallerFailure& failure) {
        check(failure.code() == ConfigReader::failure().code(), "an unexpected refusal", input);
        return 0;
    } catch (const JsonError&) {
        return 0;
    }

    const auto before = ConfigReader::parse(input).dictionary;
    JsonValue after;
    try {
        after = ConfigReader::parse(patched).dictionary;
    } catch (const std::exception&) {
        check(false, "the patched file is refused by the reader", input);
    }
    check(after.at("model") == "orvek/" + std::string(orvek::config::defaultOrvekModel),
          "the default model is not set", input);
    const auto& models = after.at("provider").at("orvek").at("models");
    for (const auto id : orvek::config::orvekModels) {
        const std::string name(id);
        check(models.contains(name), "a model of the set is missing", input);
        const auto& original = before.at("provider").at("orvek").at("models");
        check(original.contains(name) ? models.at(name) == original.at(name)
                                      : models.at(name) == JsonValue{{"name", name}},
              "a model entry is not what it should be", input);
    }
    const auto& originalModels = before.at("provider").at("orvek").at("models");
    check(withoutPatchedParts(after, originalModels) == withoutPatchedParts(before, originalModels),
          "a value outside the patch changed", input);
    // Patching again changes nothing more: the file converges after one run.
    check(orvek::config::SavedConnection::patch(patched) == patched,
          "a second patch changes the file again", input);
    return 0;
}
