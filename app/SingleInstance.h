#pragma once

// One running copy per user session: an exclusive lock on the file
// "KVORKAST_CHECK_EVENT" in $XDG_RUNTIME_DIR (else the temp folder). The kernel
// releases it when the process ends, however it ends.

#include <string>

class TSingleInstanceGuard
{
public:
    TSingleInstanceGuard() = default;
    ~TSingleInstanceGuard();
    TSingleInstanceGuard(const TSingleInstanceGuard&) = delete;
    TSingleInstanceGuard& operator=(const TSingleInstanceGuard&) = delete;

    // True when this process now holds the lock; false when another copy holds it.
    // A lock file that cannot be made at all does not stop the program: true.
    bool Acquire();
    void Release();

    static std::string LockFileName();

private:
    int m_fd = -1;
};
