// A save killed at any moment leaves the project with all of that save or none of it,
// and with everything saved before.
#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono;

// A running StoreCrashChild with its stdin and stdout.
class TChild
{
public:
    TChild(const char* mode, const std::string& path)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[1]);
            close(out[0]);
            execl(STORE_CRASH_CHILD, STORE_CRASH_CHILD, mode, path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~TChild()
    {
        Kill();
        close(m_in);
        close(m_out);
    }

    // The next line the child says, or "" when it says nothing within the time or ends.
    std::string Line(milliseconds timeout = seconds(60))
    {
        std::string line;
        const auto end = steady_clock::now() + timeout;
        while (steady_clock::now() < end) {
            pollfd p{m_out, POLLIN, 0};
            const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
            if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0)
                break;
            char c = 0;
            if (read(m_out, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return "";
    }
    void Go() { ASSERT_EQ(write(m_in, "g", 1), 1); }
    // SIGKILL, then reaps; the exit status, or -signal.
    int Kill()
    {
        if (m_pid <= 0)
            return m_status;
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = 0;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return m_status;
    }

private:
    pid_t m_pid = 0;
    int m_in = -1;
    int m_out = -1;
    int m_status = 0;
};

class StoreCrashTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TMainDataModule m;
        ASSERT_TRUE(m.CreateProjectDatabase(m_pristine));
        ASSERT_TRUE(m.OpenProjectDatabase(m_pristine));
        for (int i = 1; i <= 4; ++i) {
            TMsrResult r = NumberedRecord(45000.0 + i, i, 60);
            ASSERT_EQ(m.AddMsrResult(r), -1);
        }
        m.SetProjectDescription("описание до сохранения");
        m.ApplyChanges();
        m.CloseProjectDatabase();
        m_before = ProjectContents(m_pristine);
    }

    void Restore()
    {
        std::filesystem::copy_file(m_pristine, m_work, std::filesystem::copy_options::overwrite_existing);
    }

    // Runs the child's save to its end once: what "all of it" looks like, and how long it takes.
    void Calibrate(const char* mode)
    {
        Restore();
        TChild child(mode, m_work);
        ASSERT_EQ(child.Line(), "ready");
        const auto start = steady_clock::now();
        child.Go();
        ASSERT_EQ(child.Line(), "saved");
        m_saveTime = duration_cast<microseconds>(steady_clock::now() - start);
        child.Kill();
        m_after = ProjectContents(m_work);
        ASSERT_NE(m_after, m_before);
    }

    enum class TOutcome
    {
        None,
        All
    };

    // Kills the child `delay` after its save began (before it, when delay is negative; once it
    // has said "saved", when `afterSave`) and checks what the file holds.
    TOutcome KillAt(const char* mode, microseconds delay, bool afterSave = false)
    {
        Restore();
        {
            TChild child(mode, m_work);
            EXPECT_EQ(child.Line(), "ready");
            if (delay >= microseconds(0)) {
                child.Go();
                if (afterSave)
                    EXPECT_EQ(child.Line(), "saved");
                else
                    std::this_thread::sleep_for(delay);
            }
            EXPECT_EQ(child.Kill(), -SIGKILL);
        }
        // The store must take the file back, then another reader must see one whole state.
        TMainDataModule m;
        EXPECT_TRUE(m.OpenProjectDatabase(m_work));
        m.CloseProjectDatabase();
        const std::string contents = ProjectContents(m_work);
        if (contents == m_after)
            return TOutcome::All;
        EXPECT_EQ(contents, m_before) << "a kill " << delay.count() << " us into the save left part of it";
        return TOutcome::None;
    }

    void SweepKills(const char* mode, int points)
    {
        Calibrate(mode);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(KillAt(mode, microseconds(-1)), TOutcome::None);
        int all = 0;
        // Spread over the measured save time and a little past it.
        for (int i = 0; i < points; ++i) {
            const auto delay = m_saveTime * (i * 12) / (10 * (points - 1));
            all += KillAt(mode, delay) == TOutcome::All;
        }
        EXPECT_EQ(KillAt(mode, microseconds(0), true), TOutcome::All);
        RecordProperty("save_time_us", static_cast<int>(m_saveTime.count()));
        RecordProperty("kills_with_whole_save", all);
        RecordProperty("kills_with_no_save", points - all);
    }

    TTempDir m_dir;
    std::string m_pristine = m_dir.File("pristine.fdb");
    std::string m_work = m_dir.File("project.fdb");
    std::string m_before;
    std::string m_after;
    microseconds m_saveTime{0};
};

TEST_F(StoreCrashTest, KilledSaveLeavesAllOrNothing)
{
    SweepKills("save", 30);
}

TEST_F(StoreCrashTest, KilledDownloadStoreLeavesAllOrNothing)
{
    SweepKills("download", 20);
}

// A full disk: creation leaves no file behind (a tiny memory file system, where one may be
// mounted), and a save (the child's file size limited) is refused in Russian with the file as
// it was and every change still pending.
TEST_F(StoreCrashTest, FullDiskRefusesCreationAndSaveLosingNothing)
{
    auto run = [](const char* mode, const std::string& path) {
        const pid_t pid = fork();
        if (pid == 0) {
            execl(STORE_CRASH_CHILD, STORE_CRASH_CHILD, mode, path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    TTempDir small;
    if (mount("tmpfs", small.Path().c_str(), "tmpfs", 0, "size=256k") == 0) {
        TMainDataModule m;
        EXPECT_FALSE(m.CreateProjectDatabase(small.File("new.fdb")));
        EXPECT_TRUE(std::filesystem::is_empty(small.Path())) << "a refused creation left a file";
        umount(small.Path().c_str());
    } else {
        std::fprintf(stderr, "no tmpfs may be mounted here: creation on a full disk not tried\n");
    }

    Restore();
    EXPECT_EQ(run("save-full", m_work), 0);
    EXPECT_EQ(ProjectContents(m_work), m_before);
}

} // namespace
