#include "tests/server/PrivateServer.h"

#include "store/Cp1251.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kServerProgram = "/usr/sbin/firebird";

using TClock = std::chrono::steady_clock;

int FreeLoopbackPort()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (s >= 0)
        close(s);
    if (!bound)
        throw std::runtime_error("no free loopback port");
    return ntohs(address.sin_port);
}

bool PortAccepts(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool accepted = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return accepted;
}

// The environment of this process with the server's two variables set to ours.
std::vector<std::string> ServerEnvironment(const std::string& root, const std::string& lock)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string_view v(*e);
        if (!v.starts_with("FIREBIRD=") && !v.starts_with("FIREBIRD_LOCK="))
            env.emplace_back(v);
    }
    env.push_back("FIREBIRD=" + root);
    env.push_back("FIREBIRD_LOCK=" + lock);
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& t : texts)
        pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Forks a child in a process group of its own that dies with this process, its output
// appended to `log`. Everything is prepared before the fork: only system calls follow it.
pid_t Spawn(std::vector<std::string> args, std::vector<std::string> env, const std::string& log)
{
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        close_range(3, ~0U, 0);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid > 0)
        setpgid(pid, pid);
    return pid;
}

std::string OneLine(std::string text)
{
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos;)
        text.replace(at, 1, " / ");
    return text;
}

std::string TextOf(const TValue& v)
{
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : std::string();
}

bool DataMatches(std::int64_t number, const TValue& data)
{
    const auto* bytes = std::get_if<std::string>(&data);
    TMsrResult stored;
    if (!bytes || DecodeMsrResult(*bytes, stored) != 0 || stored.Data.empty())
        return false;
    const auto n = static_cast<std::uint32_t>(stored.Data[0].size());
    return *bytes == EncodeMsrResult(NumberedRecord(RecordBegin(static_cast<int>(number)), number, n));
}

std::string StateText(
    std::vector<std::pair<std::int64_t, std::string>> records, const std::string& description)
{
    std::stable_sort(
        records.begin(), records.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string text;
    for (const auto& record : records)
        text += record.second + " ";
    return text + "| '" + description + "'";
}

std::string Entry(std::int64_t number, const TValue& comment, const TValue& data)
{
    return std::to_string(number) + ":'" + Cp1251ToUtf8(TextOf(comment)) + "'"
        + (DataMatches(number, data) ? "" : "!data");
}

bool GoToNumber(TMainDataModule& module, std::int64_t number)
{
    TCachedDataSet& ds = module.ResultDataSet();
    const std::size_t field = ds.FieldIndex("MEASURE_NUMBER");
    for (int row = 0; row < ds.RecordCount(); ++row)
        if (ds.RowField(row, field) == TValue{number}) {
            ds.SetRecNo(row + 1);
            return true;
        }
    return false;
}

} // namespace

TPrivateServer::TPrivateServer()
{
    if (access(kServerProgram, X_OK) != 0)
        throw std::runtime_error(std::string(kServerProgram)
            + " is missing: the server tests need the package firebird3.0-server (scripts/test installs it)");
    if (access("/usr/bin/isql-fb", X_OK) != 0)
        throw std::runtime_error("isql-fb is missing: the server tests need the package firebird3.0-utils");
    const std::string dir = m_dir.Path().string();
    std::filesystem::create_directory(m_dir.Path() / "databases");
    // A port found free may be taken before the server binds it: then try another.
    std::string failures;
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = FreeLoopbackPort();
        const pid_t prepare
            = Spawn({"/bin/bash", PREPARE_SERVER_ROOT, dir, std::to_string(m_port), m_password},
                ServerEnvironment(dir + "/root", dir + "/lock"), dir + "/prepare.log");
        int status = 0;
        if (prepare < 0 || waitpid(prepare, &status, 0) != prepare || !WIFEXITED(status)
            || WEXITSTATUS(status) != 0)
            throw std::runtime_error(
                "prepare-server-root.sh failed:\n" + ReadFileBytes(dir + "/prepare.log"));
        try {
            Start();
            return;
        } catch (const std::runtime_error& error) {
            failures += std::string(error.what()) + "\n";
        }
    }
    throw std::runtime_error("the private Firebird server did not start:\n" + failures);
}

TPrivateServer::~TPrivateServer()
{
    Kill();
}

std::string TPrivateServer::Log() const
{
    return ReadFileBytes(m_dir.File("server.log")) + ReadFileBytes(m_dir.File("root/firebird.log"));
}

void TPrivateServer::Start()
{
    const std::string dir = m_dir.Path().string();
    m_pid = Spawn({kServerProgram}, ServerEnvironment(dir + "/root", dir + "/lock"), dir + "/server.log");
    if (m_pid < 0)
        throw std::runtime_error("cannot fork the server");
    const auto deadline = TClock::now() + std::chrono::seconds(20);
    while (TClock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error(
                "the server ended at start on port " + std::to_string(m_port) + ":\n" + Log());
        }
        if (PortAccepts(m_port))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Kill();
    throw std::runtime_error("the server did not listen on port " + std::to_string(m_port) + ":\n" + Log());
}

void TPrivateServer::Kill()
{
    if (m_pid <= 0)
        return;
    kill(-m_pid, SIGKILL);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
    m_pid = -1;
}

void TPrivateServer::Restart()
{
    Kill();
    Start();
}

std::string TPrivateServer::DatabasePath(const std::string& name) const
{
    return (m_dir.Path() / "databases" / name).string();
}

std::string TPrivateServer::ConnectionString(const std::string& name) const
{
    return "localhost/" + std::to_string(m_port) + ":" + DatabasePath(name);
}

TProjectTarget TPrivateServer::Target(const std::string& name) const
{
    return ServerProject("localhost", std::to_string(m_port), DatabasePath(name), "SYSDBA", m_password);
}

TRows ServerQuery(const TPrivateServer& server, const std::string& name, const std::string& sql)
{
    TConnection c;
    c.Attach(server.ConnectionString(name), "SYSDBA", server.Password(), "ASCII");
    TRows rows;
    {
        auto st = c.Prepare(sql);
        st->Open();
        while (st->Fetch()) {
            rows.emplace_back();
            for (std::size_t i = 0; i < st->ColumnCount(); ++i)
                rows.back().push_back(st->Column(i));
        }
        st->CloseCursor();
    }
    c.Detach();
    return rows;
}

double RecordBegin(int number)
{
    return 45000.0 + number;
}

std::string StoredState(const TPrivateServer& server, const std::string& name)
{
    std::vector<std::pair<std::int64_t, std::string>> records;
    for (const auto& row : ServerQuery(server, name,
             "SELECT MEASURE_NUMBER, MEASURE_COMMENT, MEASURE_DATA FROM MEASURE_RESULT_TABLE "
             "ORDER BY MEASURE_NUMBER, MEASURE_RESULT_TABLE_PK")) {
        const auto* number = std::get_if<std::int64_t>(&row[0]);
        records.emplace_back(number ? *number : -1, Entry(number ? *number : -1, row[1], row[2]));
    }
    const TRows project = ServerQuery(server, name, "SELECT PROJECT_DESCRIPTION FROM SYSTEM_TABLE");
    std::string description;
    for (const auto& row : project)
        description += Cp1251ToUtf8(TextOf(row[0]));
    return StateText(std::move(records), project.size() == 1 ? description : "project rows: " + description);
}

std::string ModuleState(const TMainDataModule& module)
{
    const TCachedDataSet& ds = module.ResultDataSet();
    std::vector<std::pair<std::int64_t, std::string>> records;
    for (int row = 0; row < ds.RecordCount(); ++row) {
        const TValue number = ds.RowField(row, ds.FieldIndex("MEASURE_NUMBER"));
        const TValue comment = ds.RowField(row, ds.FieldIndex("MEASURE_COMMENT"));
        const TValue data = ds.RowField(row, ds.FieldIndex("MEASURE_DATA"));
        const auto* n = std::get_if<std::int64_t>(&number);
        records.emplace_back(n ? *n : -1, Entry(n ? *n : -1, comment, data));
    }
    return StateText(std::move(records), module.GetProjectDescription());
}

std::string Obey(TMainDataModule& module, const TProjectTarget& target, const std::string& command)
{
    std::istringstream in(command);
    std::string word;
    in >> word;
    auto text = [&] {
        std::string rest;
        std::getline(in >> std::ws, rest);
        return rest;
    };
    auto count = [&](std::uint32_t otherwise) {
        std::uint32_t n = 0;
        return in >> n ? n : otherwise;
    };
    try {
        if (word == "open")
            return module.OpenProjectDatabase(target) ? "opened" : "error " + OneLine(module.LastError());
        if (word == "append") {
            const int number = static_cast<int>(count(0));
            TMsrResult record = NumberedRecord(RecordBegin(number), number, count(3));
            return module.AddMsrResult(record) == -1 ? "appended" : "present";
        }
        if (word == "download") {
            const int first = static_cast<int>(count(0));
            const int records = static_cast<int>(count(0));
            const std::uint32_t samples = count(3);
            TArrayOfMsrResult download;
            for (int number = first; number < first + records; ++number)
                download.push_back(NumberedRecord(RecordBegin(number), number, samples));
            return "added " + std::to_string(module.StoreMsrResults(download));
        }
        if (word == "comment" || word == "delete") {
            if (!GoToNumber(module, count(0)))
                return "missing";
            if (word == "delete")
                module.ResultDataSet().Delete();
            else
                module.SetMeasureComment(text());
            module.PostEdits();
            return "ok";
        }
        if (word == "description") {
            module.SetProjectDescription(text());
            module.PostEdits();
            return "ok";
        }
        if (word == "save") {
            module.ApplyChanges();
            return "saved";
        }
        if (word == "refresh") {
            const bool keep = text() == "keep";
            return "refreshed "
                + std::to_string(module.RefreshProject([keep](const TRowConflict&) { return keep; }));
        }
        if (word == "state")
            return ModuleState(module);
        if (word == "close") {
            module.CloseProjectDatabase();
            return "closed";
        }
        return "unknown " + word;
    } catch (const TSaveConflictError& error) {
        return "conflict " + OneLine(error.what());
    } catch (const std::exception& error) {
        return "error " + OneLine(error.what());
    }
}

TWorkstationProcess::TWorkstationProcess(const std::string& program, const TProjectTarget& target)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw std::runtime_error("socketpair failed");
    std::vector<std::string> args{program, target.ConnectionString(), target.User, target.Password};
    std::vector<char*> argv = Pointers(args);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(ends[1], 0);
        dup2(ends[1], 1);
        close_range(3, ~0U, 0);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    close(ends[1]);
    m_socket = ends[0];
    if (m_pid < 0)
        throw std::runtime_error("cannot fork the workstation");
}

TWorkstationProcess::~TWorkstationProcess()
{
    Send("close");
    shutdown(m_socket, SHUT_WR);
    const auto deadline = TClock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (TClock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(m_socket);
}

void TWorkstationProcess::Send(const std::string& command)
{
    const std::string line = command + "\n";
    for (std::size_t sent = 0; sent < line.size();) {
        const ssize_t n = send(m_socket, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string TWorkstationProcess::Answer()
{
    const auto deadline = TClock::now() + std::chrono::seconds(60);
    for (;;) {
        if (const std::size_t end = m_pending.find('\n'); end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        if (left.count() <= 0)
            return "timeout";
        pollfd p{m_socket, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = recv(m_socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            return "gone";
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string TWorkstationProcess::Ask(const std::string& command)
{
    Send(command);
    return Answer();
}
