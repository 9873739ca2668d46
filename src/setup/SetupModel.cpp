#include "setup/SetupModel.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "base/InstallerFailure.h"
#include "setup/DefaultServices.h"

namespace orvek::setup {

namespace {

// Shown when the run fails with something that carries no description of its own.
constexpr const char* kUnexpectedFailureText =
    "Произошла непредвиденная ошибка. Повторите действие.";

constexpr const char* kWorkspaceConflictCode = "WORKSPACE_CONFLICT";

// The user sees only the description: an InstallerFailure's message, a platform error's own
// Russian sentence. Must be called from inside a catch block.
std::string describeCurrentException() {
    try {
        throw;
    } catch (const base::InstallerFailure& failure) {
        return failure.message();
    } catch (const std::exception& error) {
        std::string description = error.what();
        return description.empty() ? kUnexpectedFailureText : description;
    } catch (...) {
        return kUnexpectedFailureText;
    }
}

} // namespace

// Touched on the main thread only, like the rest of the model; no lock needed.
struct SetupModel::Registry {
    std::uint64_t lastId = 0;
    // Held by shared_ptr so an observer that cancels itself mid-call is not destroyed under it.
    std::map<std::uint64_t, std::shared_ptr<const Observer>> observers;
};

std::shared_ptr<SetupModel> SetupModel::create(SetupServices services, Executor& mainExecutor,
                                               Executor& worker) {
    return std::make_shared<SetupModel>(PrivateTag{}, std::move(services), mainExecutor, worker);
}

std::shared_ptr<SetupModel> SetupModel::create(Workspace& workspace, Executor& mainExecutor,
                                               Executor& worker) {
    const auto resources = bundledResources();
    if (!resources)
        throw base::InstallerFailure(kMissingResourcesText);
    auto core = std::make_shared<installer::InstallerCore>(*resources);
    return create(defaultServices(std::move(core), workspace), mainExecutor, worker);
}

SetupModel::SetupModel(PrivateTag, SetupServices services, Executor& mainExecutor, Executor& worker)
    : m_services(std::move(services)), m_main(mainExecutor), m_worker(worker),
      m_registry(std::make_shared<Registry>()) {}

SetupModel::Subscription SetupModel::observe(Observer observer) {
    const auto id = ++m_registry->lastId;
    m_registry->observers.emplace(id, std::make_shared<const Observer>(std::move(observer)));
    return Subscription(m_registry, id);
}

void SetupModel::notify(Property property, bool before) const {
    // A snapshot, because observers may subscribe or cancel while being told.
    const std::vector<std::pair<std::uint64_t, std::shared_ptr<const Observer>>> snapshot(
        m_registry->observers.begin(), m_registry->observers.end());
    for (const auto& [id, observer] : snapshot) {
        // One cancelled by an earlier observer of this same change is not told any more.
        if (!m_registry->observers.contains(id))
            continue;
        const auto& callback = before ? observer->willChange : observer->didChange;
        if (callback)
            callback(property);
    }
}

template <typename T> void SetupModel::assign(T& field, T value, Property property) {
    if (field == value)
        return;
    notify(property, true);
    field = std::move(value);
    notify(property, false);
}

void SetupModel::start() {
    if (m_busy || m_ready || !m_consent)
        return;
    setBusy(true);
    setFailed(false);
    setStatus(kCheckingText);

    // Every task from the worker holds the model, so the results land even if the window has
    // let go of it meanwhile. The worker reads only the fixed services and executors.
    m_worker.post([self = shared_from_this()] {
        const SetupServices::Progress progress = [self](const std::string& text) {
            self->m_main.post([self, text] { self->setStatus(text); });
        };
        // Posted like the texts, so a size never lands after the run that produced it ended.
        const SetupServices::DownloadSink downloads =
            [self](const std::optional<installer::DownloadProgress>& value) {
                self->m_main.post([self, value] { self->setDownloadProgress(value); });
            };
        try {
            // A record without the run is reported like any other failure, not as a crash.
            if (!self->m_services.main)
                throw base::InstallerFailure(kUnexpectedFailureText);
            // The sink holds the model; whoever keeps it lets go when the run ends, or the
            // engine and the model would hold each other for good.
            struct Watching {
                const SetupServices& services;
                ~Watching() {
                    if (services.observeDownloads)
                        services.observeDownloads({});
                }
            } watching{self->m_services};
            if (self->m_services.observeDownloads)
                self->m_services.observeDownloads(downloads);
            self->m_services.main(progress);
        } catch (...) {
            self->m_main.post([self, description = describeCurrentException()]() mutable {
                self->mainFailed(std::move(description));
            });
            return;
        }
        self->m_main.post([self] { self->mainSucceeded(); });
    });
}

void SetupModel::mainSucceeded() {
    setDownloadProgress(std::nullopt);
    setBusy(false);
    setReady(true);
    setFailed(false);
    setStatus(kConnectedText);
    offerSkills();
}

void SetupModel::mainFailed(std::string description) {
    setDownloadProgress(std::nullopt);
    setBusy(false);
    setFailed(true);
    setStatus(std::move(description));
    setShowSkills(false);
}

void SetupModel::openClient() {
    if (!m_ready || m_busy || !m_services.open)
        return;
    m_services.open();
}

void SetupModel::offerSkills() {
    if (!m_ready || m_busy || m_skillsBusy)
        return;
    setSelection({});
    m_alternateParent.reset();
    setCanChooseAlternateFolder(false);
    setSkillsFailed(false);
    setSkillsSucceeded(false);
    setSkillsStatus(kNothingSelectedText);
    // Last, so the sheet opens on the state set above.
    setShowSkills(true);
}

// What the skills worker hands back to the main thread in its one submission.
struct SetupModel::SkillsOutcome {
    std::vector<std::filesystem::path> prepared;
    std::set<std::string> completed;
    bool failed = false;
    bool conflict = false;
    std::string description;
};

void SetupModel::installSkills() {
    if (!m_ready || m_busy || m_skillsBusy || m_selection.empty())
        return;
    // Table order, not the order of the clicks; ids that name no role are ignored.
    std::vector<std::string> work;
    for (const auto& role : roles())
        if (m_selection.contains(role.id))
            work.push_back(role.id);
    if (work.empty())
        return;
    const auto parent = m_alternateParent;

    setSkillsBusy(true);
    setSkillsFailed(false);
    setSkillsSucceeded(false);
    setCanChooseAlternateFolder(false);
    setSkillsStatus(kAddingSkillsText);

    m_worker.post([self = shared_from_this(), work = std::move(work), parent] {
        SkillsOutcome outcome;
        const auto& services = self->m_services;
        for (const auto& role : work) {
            try {
                std::filesystem::path folder;
                if (parent && services.alternateProfile)
                    folder = services.alternateProfile(role, *parent);
                else if (services.profile)
                    folder = services.profile(role);
                else
                    throw base::InstallerFailure(kUnexpectedFailureText);
                outcome.prepared.push_back(std::move(folder));
                outcome.completed.insert(role);
            } catch (...) {
                outcome.failed = true;
                try {
                    throw;
                } catch (const base::InstallerFailure& failure) {
                    outcome.conflict = failure.code() == kWorkspaceConflictCode;
                } catch (...) {
                }
                outcome.description = describeCurrentException();
                break;
            }
        }
        self->m_main.post([self, outcome = std::move(outcome)]() mutable {
            self->skillsFinished(std::move(outcome));
        });
    });
}

void SetupModel::skillsFinished(SkillsOutcome outcome) {
    addFolders(outcome.prepared);
    if (!outcome.failed) {
        setSkillsBusy(false);
        setSkillsSucceeded(true);
        setSkillsStatus(kSkillsReadyText);
        dismissSkills();
        return;
    }
    // What is left selected is the failed role and the ones not attempted yet.
    auto remaining = m_selection;
    for (const auto& role : outcome.completed)
        remaining.erase(role);
    setSelection(std::move(remaining));
    setSkillsBusy(false);
    setSkillsFailed(true);
    setCanChooseAlternateFolder(outcome.conflict && static_cast<bool>(m_services.alternateProfile));
    setSkillsStatus(outcome.description + kSkillsRetryText);
}

void SetupModel::addFolders(const std::vector<std::filesystem::path>& prepared) {
    auto folders = m_folders;
    for (const auto& folder : prepared)
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    setFolders(std::move(folders));
}

void SetupModel::dismissSkills() {
    if (m_skillsBusy)
        return;
    setShowSkills(false);
    presentPromoOnce();
}

// The one-time offer is shown right after the skills step closes, and never again.
void SetupModel::presentPromoOnce() {
    if (!m_ready || m_promoShown || !m_verifiedPromoOffer)
        return;
    m_promoShown = true;
    m_main.post([self = shared_from_this(), offer = *m_verifiedPromoOffer] {
        if (self->m_promoPresenter)
            self->m_promoPresenter->show(offer);
    });
}

void SetupModel::chooseAlternateFolder() {
    if (!m_canChooseAlternateFolder || m_skillsBusy || !m_folderPanel)
        return;
    const auto folder = m_folderPanel->chooseFolder(
        {kAlternateFolderTitle, kAlternateFolderMessage, kAlternateFolderConfirm});
    if (folder)
        retryInAlternateFolder(*folder);
}

void SetupModel::retryInAlternateFolder(const std::filesystem::path& parent) {
    if (!m_ready || m_skillsBusy || !m_canChooseAlternateFolder || !m_services.alternateProfile)
        return;
    m_alternateParent = parent;
    installSkills();
}

void SetupModel::setBusy(bool value) {
    assign(m_busy, value, Property::busy);
}
void SetupModel::setReady(bool value) {
    assign(m_ready, value, Property::ready);
}
void SetupModel::setFailed(bool value) {
    assign(m_failed, value, Property::failed);
}
void SetupModel::setConsent(bool value) {
    assign(m_consent, value, Property::consent);
}
void SetupModel::setStatus(std::string value) {
    assign(m_status, std::move(value), Property::status);
}
void SetupModel::setSelection(std::set<std::string> value) {
    assign(m_selection, std::move(value), Property::selection);
}
void SetupModel::setFolders(std::vector<std::filesystem::path> value) {
    assign(m_folders, std::move(value), Property::folders);
}
void SetupModel::setShowSkills(bool value) {
    assign(m_showSkills, value, Property::showSkills);
}
void SetupModel::setSkillsBusy(bool value) {
    assign(m_skillsBusy, value, Property::skillsBusy);
}
void SetupModel::setSkillsFailed(bool value) {
    assign(m_skillsFailed, value, Property::skillsFailed);
}
void SetupModel::setSkillsSucceeded(bool value) {
    assign(m_skillsSucceeded, value, Property::skillsSucceeded);
}
void SetupModel::setSkillsStatus(std::string value) {
    assign(m_skillsStatus, std::move(value), Property::skillsStatus);
}
void SetupModel::setCanChooseAlternateFolder(bool value) {
    assign(m_canChooseAlternateFolder, value, Property::canChooseAlternateFolder);
}

void SetupModel::setDownloadProgress(std::optional<installer::DownloadProgress> value) {
    assign(m_downloadProgress, std::move(value), Property::downloadProgress);
}

SetupModel::Subscription::Subscription(std::weak_ptr<Registry> registry, std::uint64_t id)
    : m_registry(std::move(registry)), m_id(id) {}

SetupModel::Subscription::Subscription(Subscription&& other) noexcept
    : m_registry(std::move(other.m_registry)), m_id(std::exchange(other.m_id, 0)) {}

SetupModel::Subscription& SetupModel::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        cancel();
        m_registry = std::move(other.m_registry);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

SetupModel::Subscription::~Subscription() {
    cancel();
}

void SetupModel::Subscription::cancel() {
    if (const auto registry = m_registry.lock())
        registry->observers.erase(m_id);
    m_registry.reset();
    m_id = 0;
}

} // namespace orvek::setup
