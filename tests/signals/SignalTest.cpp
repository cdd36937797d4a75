// SIGTERM, SIGINT and SIGHUP to the running program with work pending, whatever window is
// open: the close question decides, and its answer is what reaches the project file.
#include "store/Cp1251.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono;

const auto kWait = seconds(60);

// A running SignalChild and its stdout.
class TChild
{
public:
    explicit TChild(const std::vector<std::string>& args)
    {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        std::vector<char*> argv{const_cast<char*>(SIGNAL_CHILD)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            // A test stopped by force takes its children along.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execv(SIGNAL_CHILD, argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~TChild()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
    }

    // The next line the child says; "" when it says nothing in time or ends.
    std::string Line()
    {
        std::string line;
        const auto end = steady_clock::now() + kWait;
        for (char c = 0; steady_clock::now() < end;) {
            pollfd p{m_out, POLLIN, 0};
            const auto left = duration_cast<milliseconds>(end - steady_clock::now()).count();
            if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0 || read(m_out, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return "";
    }
    void Signal(int signal) { ASSERT_EQ(kill(m_pid, signal), 0); }
    bool Running() { return waitpid(m_pid, nullptr, WNOHANG) == 0; }
    // The exit status, -signal when a signal ended it, -1000 when it did not end in time.
    int Wait()
    {
        int status = 0;
        for (const auto end = steady_clock::now() + kWait; steady_clock::now() < end;) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            }
            usleep(10'000);
        }
        return -1000;
    }

private:
    pid_t m_pid = 0;
    int m_out = -1;
};

struct TCase
{
    int Signal;
    std::string Answer;
    std::string Modal;
    std::string File;
};

// Each signal is answered Отмена first: the program must go on with its changes, open
// the same window again and take a second signal, whose answer ends it.
void Drive(TChild& child, const TCase& c, bool& ended)
{
    for (const std::string& answer : {std::string("cancel"), c.Answer}) {
        ASSERT_EQ(child.Line(), "ready");
        child.Signal(c.Signal);
        // The question comes only once every modal window's loop has returned.
        ASSERT_EQ(child.Line(), "asked level=1");
        if (answer == "cancel") {
            ASSERT_EQ(child.Line(), "kept open=1 changes=1");
            ASSERT_TRUE(child.Running());
        }
    }
    ASSERT_EQ(child.Line(), "ended");
    ASSERT_EQ(child.Wait(), 0);
    ended = true;
}

TEST(SignalTest, CloseQuestionDecidesWhatEachSignalDoesWithAnyWindowOpen)
{
    TTempDir dir;
    const std::string pristine = dir.File("pristine.fdb");
    {
        TMainDataModule m;
        ASSERT_TRUE(m.CreateProjectDatabase(pristine));
        ASSERT_TRUE(m.OpenProjectDatabase(pristine));
        for (int i = 1; i <= 2; ++i) {
            TMsrResult r = NumberedRecord(45000.0 + i, i);
            ASSERT_EQ(m.AddMsrResult(r), -1);
        }
        m.ApplyChanges();
        m.CloseProjectDatabase();
    }
    const std::string before = ProjectContents(pristine);

    // What the same work holds when saved through the command, without any signal.
    const std::string reference = dir.File("saved.fdb");
    std::filesystem::copy_file(pristine, reference);
    {
        TChild child({reference, "save"});
        ASSERT_EQ(child.Line(), "ended");
        ASSERT_EQ(child.Wait(), 0);
    }
    const std::string saved = ProjectContents(reference);
    const TRows comments = Query(reference, "SELECT MEASURE_COMMENT FROM MEASURE_RESULT_TABLE");
    ASSERT_EQ(comments.size(), 2u + 3u) << "the pristine records and the instrument's";
    ASSERT_EQ(std::count(comments.begin(), comments.end(),
                  std::vector<TValue>{TValue{Utf8ToCp1251("записано до сигнала")}}),
        1);

    // Every signal, Отмена then Да or Нет, once with no window over the main one and once
    // with a modal window, the kinds of window taken in turn.
    const char* modals[] = {"summary", "editor", "preview", "message", "file", "summary"};
    std::vector<TCase> cases;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        for (const char* answer : {"yes", "no"})
            for (const bool modal : {false, true})
                cases.push_back({signal, answer, modal ? modals[cases.size() / 2] : "none",
                    dir.File("p" + std::to_string(cases.size()) + ".fdb")});

    // The children start together and wait at "ready" for their signal.
    std::vector<std::unique_ptr<TChild>> children;
    for (const TCase& c : cases) {
        std::filesystem::copy_file(pristine, c.File);
        children.push_back(
            std::make_unique<TChild>(std::vector<std::string>{c.File, c.Modal, "cancel", c.Answer}));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TCase& c = cases[i];
        SCOPED_TRACE(std::string(strsignal(c.Signal)) + ", " + c.Answer + ", modal " + c.Modal);
        bool ended = false;
        Drive(*children[i], c, ended);
        children[i].reset();
        if (ended) {
            EXPECT_EQ(ProjectContents(c.File), c.Answer == "no" ? before : saved);
        }
    }
}

} // namespace
