// The window's update alert follows the updater: a failure after "升级已准备完成" replaces it in
// the open alert, and a closed alert opens again for the next state.

#include "update/UpdateAlertPresenter.hpp"
#include "UpdateManagerFixture.hpp"

namespace aurelo {
namespace {

using Step = UpdateAlertPresenter::Step;

const std::vector<UpdateAlertButton> kOk = {{"知道了", UpdateAlertAction::Dismiss}};
const std::vector<UpdateAlertButton> kOffer = {{"立即升级", UpdateAlertAction::Install},
                                               {"稍后", UpdateAlertAction::Dismiss}};

TEST(UpdateAlertPresenter, EachChangeOfStateMapsToTheStepThatShowsIt) {
    const UpdateAlert offer{"发现新版本 v2", "新功能", kOffer};
    const UpdateAlert ready{"升级已准备完成", "将自动退出", kOk};
    const UpdateAlert failed{"升级失败", "安装失败。", kOk};
    const struct {
        bool showing;
        UpdateAlert alert;
        Step expected;
    } sequence[] = {
        {false, ready, Step::None},   {true, offer, Step::Open},     {true, offer, Step::None},
        {true, ready, Step::Rebuild}, {true, failed, Step::Refresh}, {true, failed, Step::None},
        {false, failed, Step::Close}, {false, failed, Step::None},   {true, ready, Step::Open},
    };
    UpdateAlertPresenter presenter;
    int index = 0;
    for (const auto& s : sequence) {
        EXPECT_EQ(presenter.next(s.showing, s.alert), s.expected) << "step " << index;
        if (s.showing)
            EXPECT_EQ(presenter.shown(), s.alert) << "step " << index;
        else
            EXPECT_FALSE(presenter.shown()) << "step " << index;
        ++index;
    }
    presenter.closed();
    EXPECT_EQ(presenter.next(true, ready), Step::Open) << "closed by the person, shown again";
}

class UpdateAlertFollowsTheUpdaterTest : public test::UpdateManagerFixture {};

TEST_F(UpdateAlertFollowsTheUpdaterTest, AFailureAfterTheReadyAlertReplacesItInTheOpenAlert) {
    publishBundle(newBundle());
    application.bundleLocation = "/usr"; // staging succeeds, the replacement cannot be scheduled
    UpdateManager& updater = makeManager();
    UpdateAlertPresenter presenter;
    std::vector<Step> steps;
    std::vector<std::string> titles;
    updater.signalChanged().connect([&] {
        steps.push_back(presenter.next(updater.showingAlert(), updater.alert()));
        if (presenter.shown())
            titles.push_back(presenter.shown()->title);
    });
    checkAndInstall();

    ASSERT_TRUE(presenter.shown());
    EXPECT_EQ(*presenter.shown(), updater.alert());
    EXPECT_EQ(presenter.shown()->title, "升级失败");
    // It was the open alert that changed: the ready text was shown, then refreshed in place.
    ASSERT_GE(titles.size(), 2u);
    EXPECT_EQ(titles[titles.size() - 2], "升级已准备完成");
    EXPECT_EQ(steps.back(), Step::Refresh);
}

} // namespace
} // namespace aurelo
