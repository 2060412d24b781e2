#include "commands/window_translation_command.h"

#include <gtest/gtest.h>

using namespace tavrolin;

TEST(OverlayTranslationState, ARetranslationTargetIsTheOverlayOnScreenWhileItWaitsForThatRequest) {
    OverlayTranslationState state;
    EXPECT_FALSE(state.beginRetranslation());

    const QUuid session = QUuid::createUuid();
    state.setContext(OverlayTranslationContext{session});
    const std::optional<QUuid> first = state.beginRetranslation();
    ASSERT_TRUE(first);
    const std::optional<QUuid> second = state.beginRetranslation();
    EXPECT_EQ(state.retranslationTarget(session, *first), nullptr) << "a newer request replaced it";
    ASSERT_NE(state.retranslationTarget(session, *second), nullptr);

    state.setContext(OverlayTranslationContext{QUuid::createUuid()});
    EXPECT_EQ(state.retranslationTarget(session, *second), nullptr) << "another overlay is on screen";
}
