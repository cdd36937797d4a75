#include "app/SingleInstance.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Result of Acquire in a fresh process.
bool AcquireInChild()
{
    const pid_t pid = fork();
    if (pid == 0) {
        TSingleInstanceGuard guard;
        _exit(guard.Acquire() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(SingleInstance, SecondCopyIsRefusedUntilTheFirstEnds)
{
    TTempDir dir;
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    EXPECT_EQ(TSingleInstanceGuard::LockFileName(), dir.File("KVORKAST_CHECK_EVENT"));

    // The first copy is a child that holds the lock until told to end.
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t first = fork();
    if (first == 0) {
        TSingleInstanceGuard guard;
        const char ok = guard.Acquire() ? 'y' : 'n';
        (void)!write(fromChild[1], &ok, 1);
        char c;
        (void)!read(toChild[0], &c, 1);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(fromChild[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    EXPECT_FALSE(AcquireInChild());
    {
        TSingleInstanceGuard here;
        EXPECT_FALSE(here.Acquire());
    }
    (void)!write(toChild[1], "x", 1);
    waitpid(first, nullptr, 0);
    EXPECT_TRUE(AcquireInChild()) << "a new copy starts once the first has ended";

    // No runtime folder: the temp folder is used.
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(TSingleInstanceGuard::LockFileName(),
        std::filesystem::temp_directory_path().string() + "/KVORKAST_CHECK_EVENT");
}
