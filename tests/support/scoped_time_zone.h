#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tavrolin::test {

// Sets TZ for one scope and puts the previous value back. POSIX rule strings ("EST5EDT,M3.2.0,
// M11.1.0") need no zone database, so tests using them run the same on any machine.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) {
            previous_ = std::string(old);
        }
        set(tz);
    }
    ~ScopedTimeZone() {
        if (previous_) {
            ::setenv("TZ", previous_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    // Switches to another zone within the same scope.
    void set(const char* tz) {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }

private:
    std::optional<std::string> previous_;
};

}  // namespace tavrolin::test
