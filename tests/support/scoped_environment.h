#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace tavrolin::test {

// Sets (or with nullopt removes) one environment variable for a scope and restores it after.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(const char* name, std::optional<QByteArray> value) : name_(name) {
        if (qEnvironmentVariableIsSet(name)) {
            previous_ = qgetenv(name);
        }
        if (value) {
            qputenv(name, *value);
        } else {
            qunsetenv(name);
        }
    }
    ~ScopedEnvironmentVariable() {
        if (previous_) {
            qputenv(name_, *previous_);
        } else {
            qunsetenv(name_);
        }
    }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> previous_;
};

}  // namespace tavrolin::test
