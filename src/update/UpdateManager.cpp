#include "update/UpdateManager.hpp"

#include "translation/AureloServiceURL.hpp"
#include "update/PackageDownloader.hpp"
#include "update/PackageURL.hpp"

#include <glib.h>

#include <algorithm>

namespace aurelo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kIdleTitle = "升级";

} // namespace

UpdateManager::UpdateManager(std::function<void()> quitApplication)
    : UpdateManager(aureloServiceURL(), sharedHttpSession(), RunningApplication::current(),
                    compiledInUpdatePublicKey(), fs::path(g_get_tmp_dir()),
                    std::move(quitApplication)) {}

UpdateManager::UpdateManager(std::string serviceOrigin, HttpSession& session,
                             RunningApplication application,
                             std::optional<UpdatePublicKey> publicKey, fs::path temporaryDirectory,
                             std::function<void()> quitApplication)
    : m_serviceOrigin(std::move(serviceOrigin)), m_session(&session),
      m_application(std::move(application)), m_publicKey(publicKey),
      m_temporaryDirectory(std::move(temporaryDirectory)),
      m_quitApplication(std::move(quitApplication)),
      m_manifestURL(serviceEndpoint(m_serviceOrigin, "/updates/latest.json")) {}

UpdateManager::~UpdateManager() {
    m_cancellable.cancel();
    if (m_quitTimer)
        g_source_remove(m_quitTimer);
}

UpdateAlert UpdateManager::alert() const {
    UpdateAlert alert{m_alertTitle, m_alertMessage, {}};
    switch (m_alertOffer) {
    case AlertOffer::Install:
        alert.buttons = {{"立即升级", UpdateAlertAction::Install},
                         {"稍后", UpdateAlertAction::Dismiss}};
        break;
    case AlertOffer::Retry:
        alert.buttons = {{"重试", UpdateAlertAction::Retry}, {"关闭", UpdateAlertAction::Dismiss}};
        break;
    case AlertOffer::Nothing:
        alert.buttons = {{"知道了", UpdateAlertAction::Dismiss}};
        break;
    }
    return alert;
}

void UpdateManager::dismissAlert() {
    if (!m_showingAlert)
        return;
    m_showingAlert = false;
    changed();
}

void UpdateManager::chooseAlertAction(UpdateAlertAction action) {
    const bool install =
        (action == UpdateAlertAction::Install && m_alertOffer == AlertOffer::Install) ||
        (action == UpdateAlertAction::Retry && m_alertOffer == AlertOffer::Retry);
    dismissAlert();
    if (install)
        downloadAndInstall();
}

// --- Checking ---

void UpdateManager::checkForUpdates() {
    if (m_isBusy)
        return;
    m_isBusy = true;
    m_buttonTitle = "检查中…";
    changed();

    HttpRequest request;
    request.method = "GET";
    request.url = m_manifestURL;
    request.timeout = m_manifestDeadline;
    m_session->send(
        request,
        [this, cancellation = m_cancellable.token()](HttpResult result) {
            if (cancellation.isCancelled())
                return;
            finishCheck(std::move(result));
        },
        m_cancellable.get());
}

void UpdateManager::finishCheck(HttpResult result) {
    if (!result)
        return failCheck(result.error());
    if (result->status != 200)
        return failCheck(UpdateError::serverUnavailable());
    auto manifest = decodeUpdateManifest(result->body);
    if (!manifest)
        return failCheck(manifest.error());

    if (runningBuildNumber(m_application.buildNumber) < manifest->build) {
        m_alertTitle = "发现新版本 v" + manifest->version;
        m_alertMessage = manifest->notes + "\n\n点击“立即升级”后，应用会自动下载并安装。";
        m_availableManifest = std::move(*manifest);
        m_updateAvailable = true;
        m_alertOffer = AlertOffer::Install;
    } else {
        m_availableManifest.reset();
        m_updateAvailable = false;
        m_alertTitle = "已经是最新版";
        m_alertMessage = "当前版本无需升级。";
        m_alertOffer = AlertOffer::Nothing;
    }
    m_showingAlert = true;
    m_isBusy = false;
    m_buttonTitle = kIdleTitle;
    changed();
}

void UpdateManager::failCheck(const UpdateFailure& failure) {
    // availableManifest keeps what an earlier check found.
    m_updateAvailable = false;
    m_alertTitle = "暂时无法检查更新";
    m_alertMessage = describeUpdateFailure(failure);
    m_alertOffer = AlertOffer::Nothing;
    m_showingAlert = true;
    m_isBusy = false;
    m_buttonTitle = kIdleTitle;
    changed();
}

// --- Installing ---

void UpdateManager::downloadAndInstall() {
    if (!m_availableManifest || m_isBusy)
        return;
    m_isBusy = true;
    m_buttonTitle = "下载中…";
    m_downloadProgress.reset();
    changed();

    auto url = resolvePackageURL(m_manifestURL, m_availableManifest->downloadPath);
    if (!url)
        return failInstallation(url.error());

    // A manifest that states the package's size bounds the download by it: a server that sends
    // more is not sending our package, and is stopped as soon as it passes the mark.
    std::uint64_t maximumSize = std::min(
        m_availableManifest->packageSize.value_or(kMaximumPackageSize), kMaximumPackageSize);
    const CancellationToken cancellation = m_cancellable.token();
    downloadPackage(
        *m_session,
        DownloadRequest{.url = *url, .directory = m_temporaryDirectory, .maximumSize = maximumSize},
        [this, cancellation](std::uint64_t received, std::optional<std::uint64_t> total) {
            if (cancellation.isCancelled() || !total || *total == 0)
                return;
            m_downloadProgress = static_cast<double>(received) / static_cast<double>(*total);
            changed();
        },
        [this, cancellation](std::expected<fs::path, UpdateFailure> result) {
            if (cancellation.isCancelled()) {
                if (result)
                    std::filesystem::remove(*result); // nobody will install it now
                return;
            }
            downloadFinished(std::move(result));
        },
        m_cancellable.get());
}

void UpdateManager::downloadFinished(std::expected<fs::path, UpdateFailure> result) {
    m_downloadProgress.reset();
    if (!result)
        return failInstallation(result.error());
    // Hashing, unpacking, checking and copying take seconds for a real bundle; they run on a
    // worker thread with copies of everything they need.
    auto outcome = std::make_shared<installer::Step<installer::StagedUpdate>>(
        std::unexpected(UpdateError::integrityFailed()));
    m_worker.run(
        [outcome, file = *result, manifest = *m_availableManifest, temporary = m_temporaryDirectory,
         identifier = m_application.bundleIdentifier, key = m_publicKey] {
            try {
                *outcome = installer::verifyAndStage(file, manifest, temporary, identifier, key);
            } catch (const std::exception& error) {
                *outcome = std::unexpected(SystemError{error.what()});
            }
        },
        [this, cancellation = m_cancellable.token(), outcome] {
            if (cancellation.isCancelled())
                return;
            stagingFinished(std::move(*outcome));
        });
}

void UpdateManager::stagingFinished(installer::Step<installer::StagedUpdate> result) {
    if (!result)
        return failInstallation(result.error());
    m_buttonTitle = "准备重启";
    m_alertTitle = "升级已准备完成";
    m_alertMessage =
        "Aurelo翻译器将自动退出、覆盖当前版本并重新打开。无需手动寻找或启动另一个应用；"
        "WhatsApp 等内置软件的登录状态和本机设置都会保留。";
    m_updateAvailable = false;
    m_alertOffer = AlertOffer::Nothing;
    m_showingAlert = true;
    changed();
    scheduleReplacementAndRelaunch(result->stagedCopy, result->info.executable);
}

void UpdateManager::scheduleReplacementAndRelaunch(const fs::path& stagedCopy,
                                                   const std::string& newProgram) {
    auto current = installer::locateReplaceableBundle(m_application.bundleLocation);
    if (!current)
        return failInstallation(current.error());

    auto outcome = std::make_shared<installer::Step<installer::ReplacementPlan>>(
        std::unexpected(UpdateError::installFailed()));
    m_worker.run(
        [outcome, stagedCopy, current = *current, newProgram,
         currentProgram = m_application.executable, key = m_publicKey] {
            try {
                *outcome = installer::copyBesideRunningBundle(stagedCopy, current, newProgram,
                                                              currentProgram, key);
            } catch (const std::exception& error) {
                *outcome = std::unexpected(SystemError{error.what()});
            }
        },
        [this, cancellation = m_cancellable.token(), outcome] {
            if (cancellation.isCancelled())
                return;
            if (!*outcome)
                return failInstallation(outcome->error());
            launchReplacement(**outcome);
        });
}

void UpdateManager::launchReplacement(const installer::ReplacementPlan& plan) {
    auto script = installer::replacementScript(m_application.processIdentifier, plan);
    if (auto launched = installer::launchShell(script); !launched)
        return failInstallation(launched.error());
    // The script waits for this process to end; give the alert a moment to be read first.
    m_quitTimer = g_timeout_add_seconds(1, quitCallback, this);
}

gboolean UpdateManager::quitCallback(gpointer data) {
    // The destructor removes this source, so `data` is alive whenever it runs.
    auto* self = static_cast<UpdateManager*>(data);
    self->m_quitTimer = 0;
    if (self->m_quitApplication)
        self->m_quitApplication();
    return G_SOURCE_REMOVE;
}

void UpdateManager::failInstallation(const UpdateFailure& failure) {
    m_buttonTitle = kIdleTitle;
    m_alertTitle = "升级失败";
    m_alertMessage = describeUpdateFailure(failure);
    // "重试" is offered unless another attempt must fail the same way: a program the package
    // manager installed, a build that can verify no package, or an address in the manifest that
    // names no package (only a new check can change it).
    m_alertOffer = m_availableManifest ? AlertOffer::Retry : AlertOffer::Nothing;
    if (const auto* error = std::get_if<UpdateError>(&failure);
        error && error->detail() == UpdateError::kCannotLocateApplication) {
        m_alertMessage += std::string("\n\n") + kPackageManagerHint;
        m_alertOffer = AlertOffer::Nothing;
    } else if (error && error->kind() == UpdateError::Kind::IntegrityFailed && !m_publicKey) {
        m_alertMessage += std::string("\n\n") + kNoReleaseKeyHint;
        m_alertOffer = AlertOffer::Nothing;
    } else if (error && error->kind() == UpdateError::Kind::InvalidPackageURL) {
        m_alertOffer = AlertOffer::Nothing;
    }
    m_showingAlert = true;
    m_isBusy = false;
    m_downloadProgress.reset();
    changed();
}

} // namespace aurelo
