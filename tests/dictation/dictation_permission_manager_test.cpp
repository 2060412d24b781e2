#include "dictation/dictation_permission_manager.h"

#include "core/linux_wording.h"
#include "support/async.h"
#include "support/fakes/fake_dictation_authorization.h"

#include <gtest/gtest.h>
#include <vector>

namespace tavrolin {
namespace {

using Readiness = DictationPermissionManager::Readiness;
using Status = DictationAuthorizationStatus;

struct FlowOutcome {
    bool starts = false;
    std::vector<std::optional<QString>> lines;
};

FlowOutcome runFlow(DictationPermissionManager& manager) {
    FlowOutcome outcome;
    outcome.starts = test::await(runDictationPermissionFlow(
        manager, [&outcome](std::optional<QString> line) { outcome.lines.push_back(std::move(line)); }));
    return outcome;
}

TEST(DictationPermissionManagerTest, ReadinessFollowsTheFirstMatchingRule) {
    struct Case {
        Status microphone;
        Status speech;
        Readiness expected;
    };
    const Case cases[] = {
        {Status::notDetermined, Status::denied, Readiness::microphoneNotDetermined},
        {Status::notDetermined, Status::authorized, Readiness::microphoneNotDetermined},
        // An undecided speech decision comes before a denied microphone.
        {Status::denied, Status::notDetermined, Readiness::speechNotDetermined},
        {Status::authorized, Status::notDetermined, Readiness::speechNotDetermined},
        {Status::restricted, Status::authorized, Readiness::microphoneDenied},
        {Status::denied, Status::denied, Readiness::microphoneDenied},
        {Status::authorized, Status::authorized, Readiness::ready},
        {Status::authorized, Status::restricted, Readiness::speechDenied},
        {Status::authorized, Status::denied, Readiness::speechDenied},
        {Status::unknown, Status::authorized, Readiness::unavailable},
        {Status::authorized, Status::unknown, Readiness::unavailable},
    };
    for (const Case& c : cases) {
        auto authorization = std::make_shared<test::FakeDictationAuthorization>();
        authorization->microphone = c.microphone;
        authorization->speech = c.speech;
        const DictationPermissionManager manager(authorization);
        EXPECT_EQ(manager.readiness(), c.expected)
            << static_cast<int>(c.microphone) << " " << static_cast<int>(c.speech);
    }
}

TEST(DictationPermissionManagerTest, RequestsAskOnlyWhenUndecided) {
    auto authorization = std::make_shared<test::FakeDictationAuthorization>();
    DictationPermissionManager manager(authorization);
    authorization->microphone = Status::denied;
    authorization->speech = Status::authorized;
    EXPECT_FALSE(test::await(manager.requestMicrophoneAccess()));
    EXPECT_TRUE(test::await(manager.requestSpeechAccess()));
    EXPECT_EQ(authorization->microphonePrompts, 0);
    EXPECT_EQ(authorization->speechPrompts, 0);

    authorization->speech = Status::notDetermined;
    authorization->speechAnswer = Status::restricted;
    EXPECT_FALSE(test::await(manager.requestSpeechAccess()));
    EXPECT_EQ(authorization->speechPrompts, 1);
}

// What the desktop's authorisation answers on Linux (always authorised; its own test is the
// Linux back end's): ready, and nobody is asked.
TEST(DictationPermissionManagerTest, AuthorisedIsReadyWithoutAsking) {
    auto authorization = std::make_shared<test::FakeDictationAuthorization>();
    DictationPermissionManager manager(authorization);
    EXPECT_EQ(manager.readiness(), Readiness::ready);
    EXPECT_TRUE(test::await(manager.requestMicrophoneAccess()));
    EXPECT_TRUE(test::await(manager.requestSpeechAccess()));
    const FlowOutcome outcome = runFlow(manager);
    EXPECT_TRUE(outcome.starts);
    EXPECT_TRUE(outcome.lines.empty());
    EXPECT_EQ(authorization->microphonePrompts, 0);
    EXPECT_EQ(authorization->speechPrompts, 0);
}

TEST(DictationPermissionFlowTest, UndecidedMicrophoneThenDeniedSpeechAsksOnce) {
    auto authorization = std::make_shared<test::FakeDictationAuthorization>();
    authorization->microphone = Status::notDetermined;
    authorization->speech = Status::denied;
    DictationPermissionManager manager(authorization);
    const FlowOutcome outcome = runFlow(manager);
    EXPECT_FALSE(outcome.starts);
    EXPECT_EQ(authorization->microphonePrompts, 1);
    EXPECT_EQ(authorization->speechPrompts, 0);
    ASSERT_EQ(outcome.lines.size(), 2u);
    EXPECT_EQ(outcome.lines[0], QStringLiteral("🎤 Dictation needs permissions."));
    EXPECT_EQ(outcome.lines[1], linuxWording(u"🚫 Speech Recognition permission denied. Enable it in System "
                                             u"Settings → Privacy & Security."));
}

TEST(DictationPermissionFlowTest, DeniedMicrophoneWithUndecidedSpeechFailsWithoutAPrompt) {
    auto authorization = std::make_shared<test::FakeDictationAuthorization>();
    authorization->microphone = Status::denied;
    authorization->speech = Status::notDetermined;
    DictationPermissionManager manager(authorization);
    const FlowOutcome outcome = runFlow(manager);
    EXPECT_FALSE(outcome.starts);
    EXPECT_EQ(authorization->microphonePrompts, 0);
    EXPECT_EQ(authorization->speechPrompts, 0);
    ASSERT_EQ(outcome.lines.size(), 2u);
    EXPECT_EQ(outcome.lines[1], linuxWording(u"🚫 Microphone permission denied. Enable it in System Settings → "
                                             u"Privacy & Security."));
}

TEST(DictationPermissionFlowTest, BothGrantedClearsTheLineAndStarts) {
    auto authorization = std::make_shared<test::FakeDictationAuthorization>();
    authorization->microphone = Status::notDetermined;
    authorization->speech = Status::notDetermined;
    DictationPermissionManager manager(authorization);
    const FlowOutcome outcome = runFlow(manager);
    EXPECT_TRUE(outcome.starts);
    EXPECT_EQ(authorization->microphonePrompts, 1);
    EXPECT_EQ(authorization->speechPrompts, 1);
    ASSERT_EQ(outcome.lines.size(), 2u);
    EXPECT_EQ(outcome.lines[1], std::nullopt);
}

TEST(DictationPermissionFlowTest, DecidedRefusalsOnlyShowTheirLine) {
    struct Case {
        Status microphone;
        Status speech;
        const char16_t* line;
        bool reworded;
    };
    const Case cases[] = {
        {Status::denied, Status::authorized,
         u"🚫 Microphone access denied. Enable it in System Settings → Privacy & Security.", true},
        {Status::authorized, Status::restricted,
         u"🚫 Speech Recognition access denied. Enable it in System Settings → Privacy & Security.", true},
        {Status::authorized, Status::unknown, u"⚠️ Dictation unavailable on this device.", false},
    };
    for (const Case& c : cases) {
        auto authorization = std::make_shared<test::FakeDictationAuthorization>();
        authorization->microphone = c.microphone;
        authorization->speech = c.speech;
        DictationPermissionManager manager(authorization);
        const FlowOutcome outcome = runFlow(manager);
        EXPECT_FALSE(outcome.starts);
        EXPECT_EQ(authorization->microphonePrompts + authorization->speechPrompts, 0);
        ASSERT_EQ(outcome.lines.size(), 1u);
        const QString original = QString::fromUtf16(c.line);
        EXPECT_EQ(outcome.lines[0], linuxWording(original));
        // The macOS place name never reaches a Linux user.
        EXPECT_EQ(outcome.lines[0]->contains(QStringLiteral("System Settings")), false) << original.toStdString();
        EXPECT_EQ(*outcome.lines[0] != original, c.reworded);
    }
}

}  // namespace
}  // namespace tavrolin
