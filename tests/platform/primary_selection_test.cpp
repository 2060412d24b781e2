// When the PRIMARY selection may route Translate: held by the front application, newer than the
// user's last left click, from a toolkit that gives it up on deselection, and holding text.
#include "platform/primary_selection.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

const FrontApplication xterm{4242, QStringLiteral("XTerm")};

PrimarySelectionRead heldByFront(const QString& text = QStringLiteral("hello")) {
    PrimarySelectionRead read;
    read.text = text;
    read.acquiredAt = 5000;
    read.ownerProcessId = 4242;
    read.pressesWatched = true;
    read.lastPrimaryButtonPressAt = 4990;  // the press that made the selection
    return read;
}

TEST(PrimarySelectionTest, OnlyTheFrontApplicationsSelectionCounts) {
    EXPECT_EQ(currentSelectionText(heldByFront(), xterm), "hello");
    EXPECT_EQ(currentSelectionText(heldByFront(), std::nullopt), std::nullopt);

    PrimarySelectionRead other = heldByFront();
    other.ownerProcessId = 77;
    EXPECT_EQ(currentSelectionText(other, xterm), std::nullopt) << "another program's old selection";
    // A hidden owner window without a process id still counts when the same client made it.
    other.ownerIsFrontWindowClient = true;
    EXPECT_EQ(currentSelectionText(other, xterm), "hello");

    // A front window naming no process never matches an owner of unknown process.
    PrimarySelectionRead unknown = heldByFront();
    unknown.ownerProcessId = 0;
    EXPECT_EQ(currentSelectionText(unknown, FrontApplication{0, QStringLiteral("X")}), std::nullopt);
}

TEST(PrimarySelectionTest, AClickAfterTheSelectionWasMadeMakesItStale) {
    PrimarySelectionRead read = heldByFront();
    read.lastPrimaryButtonPressAt = 5000;  // the press of a double click taken at that moment
    EXPECT_EQ(currentSelectionText(read, xterm), "hello");
    read.lastPrimaryButtonPressAt = 5001;  // a single click that cleared the highlight
    EXPECT_EQ(currentSelectionText(read, xterm), std::nullopt);
    read.lastPrimaryButtonPressAt.reset();  // no click since the watch began
    EXPECT_EQ(currentSelectionText(read, xterm), "hello");

    // Server time wraps around: a press just after the wrap is later than a selection before it.
    read.acquiredAt = 0xFFFFFFF0u;
    read.lastPrimaryButtonPressAt = 0x10u;
    EXPECT_EQ(currentSelectionText(read, xterm), std::nullopt);
    read.lastPrimaryButtonPressAt = 0xFFFFFF00u;
    EXPECT_EQ(currentSelectionText(read, xterm), "hello");
}

TEST(PrimarySelectionTest, WhatCannotBeToldFreshIsNeverUsed) {
    PrimarySelectionRead qt = heldByFront();
    qt.ownerKeepsDeselectedText = true;
    EXPECT_EQ(currentSelectionText(qt, xterm), std::nullopt);

    PrimarySelectionRead unwatched = heldByFront();
    unwatched.pressesWatched = false;
    EXPECT_EQ(currentSelectionText(unwatched, xterm), std::nullopt);

    PrimarySelectionRead undated = heldByFront();
    undated.acquiredAt.reset();
    EXPECT_EQ(currentSelectionText(undated, xterm), std::nullopt);
}

TEST(PrimarySelectionTest, EmptyAndPlaceholderOnlyTextsAreNoSelection) {
    EXPECT_EQ(currentSelectionText(heldByFront(QString()), xterm), std::nullopt);
    EXPECT_EQ(currentSelectionText(heldByFront(QStringLiteral("\uFFFC")), xterm), std::nullopt);
    EXPECT_EQ(currentSelectionText(heldByFront(QStringLiteral(" \uFFFC\n\uFFFC ")), xterm), std::nullopt);
    EXPECT_EQ(currentSelectionText(heldByFront(QStringLiteral("\uFFFC word")), xterm), QStringLiteral("\uFFFC word"));
    // Blanks alone are a selection the user made.
    EXPECT_EQ(currentSelectionText(heldByFront(QStringLiteral("  ")), xterm), QStringLiteral("  "));
    EXPECT_FALSE(isPlaceholderOnlySelection(QStringLiteral("  ")));
}

}  // namespace
}  // namespace tavrolin
