// The version comparator on arbitrary texts (the server's version and build strings).
// Input: three fields (one length byte each), read as UTF-8 or, when the first byte is odd,
// as raw UTF-16.
#include "fuzz_support.h"
#include "updates/app_update_version_comparator.h"

#include <array>

using namespace tavrolin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const bool utf16 = input.byte() & 1;
    std::array<QString, 3> texts;
    for (auto& text : texts) {
        const QByteArray bytes = input.field();
        text = utf16 ? fuzz::rawUtf16(bytes) : QString::fromUtf8(bytes);
    }
    using Comparator = AppUpdateVersionComparator;
    for (const auto& text : texts) {
        fuzz::require(!Comparator::numericComponents(text).empty(), "a text without components");
        fuzz::require(Comparator::compare(text, text) == std::strong_ordering::equal, "a text unequal to itself");
    }
    const auto& [a, b, c] = texts;
    const auto ab = Comparator::compare(a, b);
    fuzz::require(Comparator::compare(b, a) == (0 <=> ab), "the comparison is not antisymmetric");
    const auto bc = Comparator::compare(b, c);
    const auto ac = Comparator::compare(a, c);
    if (ab <= 0 && bc <= 0) {
        fuzz::require(ac <= 0, "the comparison is not transitive");
    }
    if (ab == 0 && bc == 0) {
        fuzz::require(ac == 0, "equality is not transitive");
    }
    return 0;
}
