#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "setup/Executor.h"
#include "setup/FolderPanel.h"
#include "setup/PromoPresenter.h"
#include "setup/SetupServices.h"
#include "setup/SkillRole.h"
#include "setup/Workspace.h"

namespace orvek::setup {

/// The observable state behind the wizard's window. Lives on the main thread: every published
/// property is read and changed there only; long work runs on the worker executor and reports
/// back through single submissions to the main executor.
class SetupModel : public std::enable_shared_from_this<SetupModel> {
public:
    enum class Property {
        busy,
        ready,
        failed,
        consent,
        status,
        selection,
        folders,
        showSkills,
        skillsBusy,
        skillsFailed,
        skillsSucceeded,
        skillsStatus,
        canChooseAlternateFolder,
        downloadProgress,
    };

    /// Told on the main thread of each change of a published property: `willChange` before
    /// the new value is stored, `didChange` after. Either may be empty.
    struct Observer {
        std::function<void(Property)> willChange;
        std::function<void(Property)> didChange;
    };

    class Subscription;

    /// The executors must outlive the model and every task it submits.
    [[nodiscard]] static std::shared_ptr<SetupModel>
    create(SetupServices services, Executor& mainExecutor, Executor& worker);
    /// With the default services on one engine over the bundled resources and the user's home.
    /// Throws InstallerFailure when the application's resources are missing; the workspace
    /// must outlive the model.
    [[nodiscard]] static std::shared_ptr<SetupModel>
    create(Workspace& workspace, Executor& mainExecutor, Executor& worker);

    [[nodiscard]] Subscription observe(Observer observer);

    // ---- Operations (main thread) ----

    /// Starts the main run: ignored while busy, after success and without consent.
    void start();
    /// Opens OpenCode after a successful run; otherwise does nothing.
    void openClient();
    /// Opens the optional skills step after a successful run.
    void offerSkills();
    /// Prepares the selected roles, in the order of `roles`, one after the other on the worker.
    /// Ignored unless ready and idle with something selected.
    void installSkills();
    /// Closes the skills step; ignored while it installs.
    void dismissSkills();
    /// Asks the folder panel for another parent after an occupied workspace folder and retries
    /// the remaining roles there.
    void chooseAlternateFolder();
    /// Retries the remaining roles with fresh workspaces inside `parent`.
    void retryInAlternateFolder(const std::filesystem::path& parent);
    /// The panel `chooseAlternateFolder` asks; without one that button does nothing.
    void setFolderPanel(std::shared_ptr<FolderPanel> panel) { m_folderPanel = std::move(panel); }
    /// Shows the promo offer once the skills step closes; without one nothing is shown.
    void setPromoPresenter(std::shared_ptr<PromoPresenter> presenter) {
        m_promoPresenter = std::move(presenter);
    }

    // ---- Published state ----

    [[nodiscard]] bool busy() const noexcept { return m_busy; }
    [[nodiscard]] bool ready() const noexcept { return m_ready; }
    [[nodiscard]] bool failed() const noexcept { return m_failed; }
    [[nodiscard]] bool consent() const noexcept { return m_consent; }
    [[nodiscard]] const std::string& status() const noexcept { return m_status; }
    [[nodiscard]] const std::set<std::string>& selection() const noexcept { return m_selection; }
    [[nodiscard]] const std::vector<std::filesystem::path>& folders() const noexcept {
        return m_folders;
    }
    [[nodiscard]] bool showSkills() const noexcept { return m_showSkills; }
    [[nodiscard]] bool skillsBusy() const noexcept { return m_skillsBusy; }
    [[nodiscard]] bool skillsFailed() const noexcept { return m_skillsFailed; }
    [[nodiscard]] bool skillsSucceeded() const noexcept { return m_skillsSucceeded; }
    [[nodiscard]] const std::string& skillsStatus() const noexcept { return m_skillsStatus; }
    [[nodiscard]] bool canChooseAlternateFolder() const noexcept {
        return m_canChooseAlternateFolder;
    }
    /// How far the running download has come; empty when nothing downloads. The status text
    /// stays as the run set it.
    [[nodiscard]] const std::optional<installer::DownloadProgress>&
    downloadProgress() const noexcept {
        return m_downloadProgress;
    }

    // The screens bind to these; the render mode sets fixture states through them.
    void setBusy(bool value);
    void setReady(bool value);
    void setFailed(bool value);
    void setConsent(bool value);
    void setStatus(std::string value);
    void setSelection(std::set<std::string> value);
    void setFolders(std::vector<std::filesystem::path> value);
    void setShowSkills(bool value);
    void setSkillsBusy(bool value);
    void setSkillsFailed(bool value);
    void setSkillsSucceeded(bool value);
    void setSkillsStatus(std::string value);
    void setCanChooseAlternateFolder(bool value);
    void setDownloadProgress(std::optional<installer::DownloadProgress> value);

    // ---- Fixed and unpublished state ----

    [[nodiscard]] const std::optional<std::filesystem::path>& alternateParent() const noexcept {
        return m_alternateParent;
    }
    [[nodiscard]] const SetupServices& services() const noexcept { return m_services; }
    /// The offer shown once after the skills step; absent unless whoever builds the model gives
    /// one.
    [[nodiscard]] const std::optional<promo::VerifiedPromoOffer>&
    verifiedPromoOffer() const noexcept {
        return m_verifiedPromoOffer;
    }
    void setVerifiedPromoOffer(std::optional<promo::VerifiedPromoOffer> offer) {
        m_verifiedPromoOffer = std::move(offer);
    }
    /// Whether the offer was shown already; it is shown at most once per process.
    [[nodiscard]] bool promoShown() const noexcept { return m_promoShown; }
    [[nodiscard]] const std::vector<SkillRole>& roles() const noexcept {
        return SkillRole::roles();
    }

    static constexpr const char* kCheckingText = "Проверяем компьютер…";
    static constexpr const char* kMissingResourcesText =
        "Не найдены файлы мастера. Переустановите приложение.";
    static constexpr const char* kConnectedText =
        "Модели: подключение проверено. MCP: отдельно в сведениях. Навыки: по вашему выбору.";
    static constexpr const char* kNothingSelectedText =
        "Ничего не выбрано. Можно пропустить и добавить навыки позже.";
    static constexpr const char* kAddingSkillsText = "Добавляем выбранные навыки…";
    static constexpr const char* kSkillsReadyText =
        "Выбранные навыки готовы. Уже добавленные файлы сохранены. Перезапустите OpenCode.";
    static constexpr const char* kSkillsRetryText = " OpenCode уже готов. Повторите только навыки.";
    static constexpr const char* kAlternateFolderTitle = "Другая рабочая папка";
    static constexpr const char* kAlternateFolderMessage =
        "В выбранной папке будет создана новая папка Орвека. Существующие файлы останутся на месте.";
    static constexpr const char* kAlternateFolderConfirm = "Создать новую папку";

private:
    struct Registry;
    struct PrivateTag {};

public:
    SetupModel(PrivateTag, SetupServices services, Executor& mainExecutor, Executor& worker);

private:
    template <typename T> void assign(T& field, T value, Property property);
    void notify(Property property, bool before) const;
    void mainSucceeded();
    void mainFailed(std::string description);
    struct SkillsOutcome;
    void skillsFinished(SkillsOutcome outcome);
    void addFolders(const std::vector<std::filesystem::path>& prepared);
    void presentPromoOnce();

    SetupServices m_services;
    Executor& m_main;
    Executor& m_worker;
    std::shared_ptr<Registry> m_registry;

    bool m_busy = false;
    bool m_ready = false;
    bool m_failed = false;
    bool m_consent = false;
    std::string m_status;
    std::set<std::string> m_selection;
    std::vector<std::filesystem::path> m_folders;
    bool m_showSkills = false;
    bool m_skillsBusy = false;
    bool m_skillsFailed = false;
    bool m_skillsSucceeded = false;
    std::string m_skillsStatus;
    bool m_canChooseAlternateFolder = false;
    std::optional<installer::DownloadProgress> m_downloadProgress;
    std::optional<std::filesystem::path> m_alternateParent;
    std::shared_ptr<FolderPanel> m_folderPanel;
    std::shared_ptr<PromoPresenter> m_promoPresenter;
    std::optional<promo::VerifiedPromoOffer> m_verifiedPromoOffer;
    bool m_promoShown = false;
};

/// Keeps an observer registered until destroyed; outliving the model is harmless.
class SetupModel::Subscription {
public:
    Subscription() = default;
    Subscription(std::weak_ptr<Registry> registry, std::uint64_t id);
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription();

    void cancel();

private:
    std::weak_ptr<Registry> m_registry;
    std::uint64_t m_id = 0;
};

} // namespace orvek::setup
