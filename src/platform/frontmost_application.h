#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tavrolin {

// The application the user works in: the owner of the active window.
struct FrontmostApplication {
    std::int32_t processID = 0;
    // Its name as the desktop shows it; absent when the application gives none.
    std::optional<QString> localizedName;

    bool operator==(const FrontmostApplication&) const = default;
};

class FrontmostApplicationProviding {
public:
    virtual ~FrontmostApplicationProviding() = default;
    // None when no application is in front (no active window, or its owner is unknown).
    virtual std::optional<FrontmostApplication> frontmostApplication() = 0;
};

}  // namespace tavrolin
