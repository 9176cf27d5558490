// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vormelle::test {

// Root reads and enters folders whatever their permission bits say. While one of these lives,
// the calling thread is held to the bits like any other user (the capabilities stay permitted
// and come back at the end), so a "no permission" case tests what it says also under root.
class PermissionBitsApply final {
public:
    PermissionBitsApply() {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_active = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionBitsApply() {
        if (m_active)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionBitsApply(const PermissionBitsApply&) = delete;
    PermissionBitsApply& operator=(const PermissionBitsApply&) = delete;

    // False when the bits still do not apply (a process that could not drop the override).
    bool active() const { return m_active || ::geteuid() != 0; }

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};

} // namespace vormelle::test
