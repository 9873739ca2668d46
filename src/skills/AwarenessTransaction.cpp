#include "skills/AwarenessTransaction.h"

#include <unistd.h>

#include <cerrno>

#include "base/Base64.h"
#include "base/FilePrimitives.h"
#include "base/Json.h"
#include "base/PathPresence.h"
#include "base/PlatformError.h"
#include "config/ConfigReader.h"
#include "config/PreservedConfig.h"

namespace orvek::skills::AwarenessTransaction {

namespace fs = std::filesystem;

namespace {

std::optional<base::Bytes> decodedMember(const base::JsonValue& record, const char* key) {
    const auto member = record.find(key);
    if (member == record.end() || !member->is_string())
        return std::nullopt;
    return base::base64Decode(member->get_ref<const std::string&>());
}

void removeFile(const fs::path& path) {
    base::noLinks(path);
    if (::unlink(path.c_str()) != 0)
        throw base::PlatformError(errno, "удалить файл", path);
    base::syncFolder(path.parent_path());
}

// Brings one file from `current` to `updated`: created when it did not exist, otherwise
// replaced only while it still holds `current`.
void commit(const fs::path& path, const std::optional<base::Bytes>& current,
            const base::Bytes& updated, const StepHook& hook) {
    const auto name = path.filename().string();
    if (current) {
        config::PreservedConfig::StepHook guarded;
        if (hook)
            guarded = [&](config::PreservedConfig::Step step) {
                hook(name + " " + config::PreservedConfig::stepName(step));
            };
        config::PreservedConfig::writeForTesting(path, *current, updated, guarded);
    } else {
        base::create(path, updated);
        base::syncFolder(path.parent_path());
    }
    if (hook)
        hook(name + " committed");
}

// `recovery`, telling whether the pair ended committed (true) or rolled back (false).
bool settle(const fs::path& folder) {
    const auto pending = folder / kPendingName;
    base::noLinks(pending);
    if (!base::presentOrFail(pending))
        return false;
    const auto record = base::readObject(pending);
    const auto newAgents = decodedMember(record, "newAgents");
    const auto newState = decodedMember(record, "newState");
    if (!newAgents || !newState)
        throw config::ConfigReader::failure();

    const auto agentsPath = folder / kAgentsName;
    const auto statePath = folder / kStateName;
    base::noLinks(agentsPath);
    base::noLinks(statePath);
    const auto currentAgents = base::readIfPresent(agentsPath);
    const auto currentState = base::readIfPresent(statePath);
    const auto oldAgents = decodedMember(record, "oldAgents");
    const auto oldState = decodedMember(record, "oldState");

    if (currentState == newState && currentAgents == newAgents) {
        removeFile(pending);
        return true;
    }

    // Not both committed: roll back. The state is written last, so it must still be the old one.
    if (currentState != oldState)
        throw config::ConfigReader::failure();
    if (!currentAgents) {
        if (oldAgents)
            throw config::ConfigReader::failure();
    } else if (*currentAgents != *newAgents) {
        if (*currentAgents != oldAgents)
            throw config::ConfigReader::failure();
    } else if (oldAgents) {
        if (*oldAgents != *newAgents)
            config::PreservedConfig::write(agentsPath, *newAgents, *oldAgents);
    } else {
        // The transaction created the file; it goes only while it still holds what it wrote.
        base::noLinks(agentsPath);
        if (base::read(agentsPath) != *newAgents)
            throw config::ConfigReader::failure();
        removeFile(agentsPath);
    }
    removeFile(pending);
    return false;
}

} // namespace

void recovery(const fs::path& folder) {
    (void)settle(folder);
}

void writeForTesting(const fs::path& folder, const Change& change, const StepHook& hook) {
    base::JsonValue record = base::JsonValue::object();
    record["newAgents"] = base::base64Encode(change.newAgents);
    record["newState"] = base::base64Encode(change.newState);
    if (change.oldAgents)
        record["oldAgents"] = base::base64Encode(*change.oldAgents);
    if (change.oldState)
        record["oldState"] = base::base64Encode(*change.oldState);
    // Durable before either file changes, so a crash after it can always be rolled back.
    base::create(folder / kPendingName, base::json(record));
    base::syncFolder(folder);
    if (hook)
        hook("recorded");
    commit(folder / kAgentsName, change.oldAgents, change.newAgents, hook);
    commit(folder / kStateName, change.oldState, change.newState, hook);
    // Another program may have put a file back meanwhile; the pair is then rolled back, and
    // that is no success.
    if (!settle(folder))
        throw config::ConfigReader::failure();
}

void write(const fs::path& folder, const Change& change) {
    writeForTesting(folder, change, {});
}

} // namespace orvek::skills::AwarenessTransaction
