#include "platform/linux/linux_dictation_authorization.h"

#include "support/async.h"

#include <gtest/gtest.h>

using namespace tavrolin;

// Linux asks nobody: both decisions stand authorised and every request is granted at once.
TEST(LinuxDictationAuthorization, AlwaysAuthorisedWithoutAsking) {
    LinuxDictationAuthorization authorization;
    EXPECT_EQ(authorization.microphoneStatus(), DictationAuthorizationStatus::authorized);
    EXPECT_EQ(authorization.speechRecognitionStatus(), DictationAuthorizationStatus::authorized);
    EXPECT_TRUE(test::await(authorization.requestMicrophoneAccess()));
    EXPECT_EQ(test::await(authorization.requestSpeechRecognitionAccess()), DictationAuthorizationStatus::authorized);
}
