#pragma once

#include "platform/MainLoop.hpp"
#include "platform/NotificationCenter.hpp"

#include <optional>

namespace aurelo::test {

// Answers on the main loop as the desktop would; a permission request moves the status to
// whatever the test says the user (or the desktop) answered.
class FakeNotificationCenter : public NotificationCenter {
public:
    using Status = NotificationAuthorizationStatus;

    Status status = Status::NotDetermined;
    std::optional<Status> statusAfterRequest;
    int reads = 0;
    int requests = 0;
    int settingsOpened = 0;

    void readAuthorizationStatus(std::function<void(Status)> done) override {
        ++reads;
        postToMainLoop([this, done = std::move(done)] { done(status); });
    }
    void requestAuthorization(std::function<void()> done) override {
        ++requests;
        postToMainLoop([this, done = std::move(done)] {
            if (statusAfterRequest)
                status = *statusAfterRequest;
            done();
        });
    }
    void openNotificationSettings() override { ++settingsOpened; }
};

} // namespace aurelo::test
