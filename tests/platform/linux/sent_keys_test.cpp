#include "platform/linux/sent_keys.h"

#include <gtest/gtest.h>

namespace tavrolin::x11 {
namespace {

using namespace std::chrono_literals;

// Each key we send is recognised once, by its key and direction, as it comes back; the same key
// from another program, or ours when the server never reported it in time or before the watch
// began, is not ours.
TEST(SentKeys, EachKeySentIsOursOnceAndOnlyWhileItMayStillComeBack) {
    SentKeys keys;
    const SentKeys::Clock::time_point t0{};
    keys.sent(37, true, t0);
    keys.sent(38, true, t0);
    keys.sent(38, false, t0);
    EXPECT_TRUE(keys.claim(38, true, t0, t0 + 5ms));
    EXPECT_FALSE(keys.claim(38, true, t0, t0 + 5ms)) << "one press, claimed twice";
    EXPECT_TRUE(keys.claim(38, false, t0, t0 + 5ms));
    EXPECT_FALSE(keys.claim(38, false, t0, t0 + 6ms)) << "another program's release of the same key";
    EXPECT_FALSE(keys.claim(37, false, t0, t0 + 6ms)) << "our press is not a release";

    // A release the server never reported (of a key the XTEST keyboard did not hold).
    EXPECT_FALSE(keys.claim(37, true, t0, t0 + SentKeys::kept + 1ms));
    keys.sent(50, false, t0 + 3s);
    EXPECT_FALSE(keys.claim(50, false, t0 + 3s + 1ms, t0 + 3s + 2ms)) << "sent before the watch";
    EXPECT_TRUE(keys.claim(50, false, t0, t0 + 3s + 2ms));
}

}  // namespace
}  // namespace tavrolin::x11
