#include "app/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

TSingleInstanceGuard::~TSingleInstanceGuard()
{
    Release();
}

std::string TSingleInstanceGuard::LockFileName()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime && *runtime && ::access(runtime, W_OK) == 0
        ? std::string(runtime)
        : std::filesystem::temp_directory_path().string();
    return dir + "/KVORKAST_CHECK_EVENT";
}

bool TSingleInstanceGuard::Acquire()
{
    if (m_fd >= 0)
        return true;
    const int fd = ::open(LockFileName().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true;
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    m_fd = fd;
    return true;
}

void TSingleInstanceGuard::Release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
