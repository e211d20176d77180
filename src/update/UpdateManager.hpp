#pragma once

// The updater's observable state and its two operations: checking the managed service's
// manifest for a newer build, and downloading, verifying and installing it. The settings panel's
// button shows buttonTitle() and the main window's alert shows alert(); both re-read the state
// whenever signalChanged() fires. Everything happens on the main thread; the network and the
// file work run without blocking it.

#include "platform/BackgroundWorker.hpp"
#include "platform/Cancellable.hpp"
#include "platform/GRef.hpp"
#include "platform/HttpSession.hpp"
#include "update/ApplicationBundle.hpp"
#include "update/BundleSignature.hpp"
#include "update/UpdateError.hpp"
#include "update/UpdateInstaller.hpp"
#include "update/UpdateManifest.hpp"

#include <sigc++/signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

enum class UpdateAlertAction { Install, Retry, Dismiss };

struct UpdateAlertButton {
    std::string label;
    UpdateAlertAction action;

    friend bool operator==(const UpdateAlertButton&, const UpdateAlertButton&) = default;
};

// What the main window's alert shows while showingAlert() is true.
struct UpdateAlert {
    std::string title;
    std::string message;
    std::vector<UpdateAlertButton> buttons;

    friend bool operator==(const UpdateAlert&, const UpdateAlert&) = default;
};

class UpdateManager {
public:
    // Added to the failure alert when the program does not run from a bundle it could replace.
    static constexpr const char* kPackageManagerHint =
        "如果应用是通过系统的软件包管理器安装的，请使用软件包管理器升级。";
    // Added to the failure alert of a build made without the release key: no package can pass,
    // so "try again" would be the wrong advice. Such builds come from developers and testers.
    static constexpr const char* kNoReleaseKeyHint =
        "此版本构建时未内置更新签名公钥，无法验证任何更新包。请从正式发布渠道下载安装新版本。";

    // The application's updater: the managed service's origin, the shared HTTP session, this
    // process and the release key compiled in. `quitApplication` is called once the
    // replacement has been handed to the relaunch script.
    explicit UpdateManager(std::function<void()> quitApplication);

    // The same against another service, session, application, key and temporary folder (tests).
    UpdateManager(std::string serviceOrigin, HttpSession& session, RunningApplication application,
                  std::optional<UpdatePublicKey> publicKey,
                  std::filesystem::path temporaryDirectory, std::function<void()> quitApplication);

    UpdateManager(const UpdateManager&) = delete;
    UpdateManager& operator=(const UpdateManager&) = delete;
    ~UpdateManager();

    bool isBusy() const { return m_isBusy; }
    const std::string& buttonTitle() const { return m_buttonTitle; }
    bool showingAlert() const { return m_showingAlert; }
    const std::string& alertTitle() const { return m_alertTitle; }
    const std::string& alertMessage() const { return m_alertMessage; }
    bool updateAvailable() const { return m_updateAvailable; }
    const std::string& manifestURL() const { return m_manifestURL; }
    const std::optional<UpdateManifest>& availableManifest() const { return m_availableManifest; }
    // The downloaded share of the package (0…1) while downloading, when its size is known.
    std::optional<double> downloadProgress() const { return m_downloadProgress; }

    // Fires after every change of the fields above.
    sigc::signal<void()>& signalChanged() { return m_signalChanged; }

    // The longest a whole manifest check may take, however steadily the answer trickles in; the
    // session's own limit only catches silence. Tests shorten it.
    static constexpr std::chrono::seconds kManifestDeadline{30};
    void setManifestDeadline(std::chrono::milliseconds deadline) { m_manifestDeadline = deadline; }

    // The alert's title, message and buttons: "立即升级" and "稍后" when an update is available,
    // "重试" and "关闭" after an installation that may pass another time, "知道了" otherwise.
    UpdateAlert alert() const;

    // Starts a check; returns at once. Does nothing while a check or installation runs.
    void checkForUpdates();
    // Starts the installation of availableManifest(); returns at once. Does nothing without a
    // manifest or while busy.
    void downloadAndInstall();
    // The alert was closed, by one of its buttons or otherwise.
    void dismissAlert();
    // A button of the alert was chosen: the alert closes, and Install or Retry starts the
    // installation.
    void chooseAlertAction(UpdateAlertAction action);

private:
    void changed() { m_signalChanged.emit(); }
    void finishCheck(HttpResult result);
    void failCheck(const UpdateFailure& failure);
    void downloadFinished(std::expected<std::filesystem::path, UpdateFailure> result);
    void stagingFinished(installer::Step<installer::StagedUpdate> result);
    void scheduleReplacementAndRelaunch(const std::filesystem::path& stagedCopy,
                                        const std::string& newProgram);
    void launchReplacement(const installer::ReplacementPlan& plan);
    void failInstallation(const UpdateFailure& failure);
    static gboolean quitCallback(gpointer self);

    std::string m_serviceOrigin;
    HttpSession* m_session;
    RunningApplication m_application;
    std::optional<UpdatePublicKey> m_publicKey;
    std::filesystem::path m_temporaryDirectory;
    std::function<void()> m_quitApplication;
    std::chrono::milliseconds m_manifestDeadline = kManifestDeadline;

    bool m_isBusy = false;
    std::string m_buttonTitle = "升级";
    bool m_showingAlert = false;
    std::string m_alertTitle = "检查更新";
    std::string m_alertMessage;
    bool m_updateAvailable = false;
    // What the alert offers besides closing; set with its title and message.
    enum class AlertOffer { Nothing, Install, Retry };
    AlertOffer m_alertOffer = AlertOffer::Nothing;
    std::string m_manifestURL;
    std::optional<UpdateManifest> m_availableManifest;
    std::optional<double> m_downloadProgress;

    sigc::signal<void()> m_signalChanged;
    guint m_quitTimer = 0;
    // One job at a time: staging and copying a bundle follow each other.
    BackgroundWorker m_worker{1};
    // Pending work checks it first and does nothing once the manager is gone.
    Cancellable m_cancellable;
};

} // namespace aurelo
