#include "support/file_permission_checks.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavrolin::test {

namespace {

// The two capabilities that let root past read, write and search bits.
constexpr unsigned kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool threadCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool setThreadCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

ScopedFilePermissionChecks::ScopedFilePermissionChecks() {
    __user_cap_data_struct data[2]{};
    if (!threadCapabilities(data) || (data[0].effective & kOverrides) == 0) {
        return;
    }
    effective_[0] = data[0].effective;
    effective_[1] = data[1].effective;
    data[0].effective &= ~kOverrides;
    dropped_ = setThreadCapabilities(data);
}

ScopedFilePermissionChecks::~ScopedFilePermissionChecks() {
    if (!dropped_) {
        return;
    }
    __user_cap_data_struct data[2]{};
    if (threadCapabilities(data)) {
        data[0].effective = effective_[0];
        data[1].effective = effective_[1];
        setThreadCapabilities(data);
    }
}

void obeyFilePermissionsAfterExec() {
    // Root's capabilities after exec are those of the bounding set: leave the two out of it.
    // Without the right to change it (another user) the bits bind anyway.
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
}

}  // namespace tavrolin::test
