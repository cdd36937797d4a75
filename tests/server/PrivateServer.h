#pragma once

// What the server tests share with the second workstation they run as a child process:
// a private Firebird server, the child's handle, and one interpreter of the line
// commands both workstations obey, so the two sides change a project the same way.

#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"
#include "tests/support/TempDir.h"

#include <sys/types.h>

#include <string>

// A Firebird server of the test's own: its root folder, security database, lock folder and
// databases live in a temporary folder, and it listens on a free loopback port. The system
// service is never touched. The server dies with the test process, however that ends.
class TPrivateServer
{
public:
    // Prepares the root and starts the server. Throws std::runtime_error saying what is
    // missing or what failed (the server's own log included).
    TPrivateServer();
    ~TPrivateServer(); // kills the server
    TPrivateServer(const TPrivateServer&) = delete;
    TPrivateServer& operator=(const TPrivateServer&) = delete;

    int Port() const { return m_port; }
    const std::string& Password() const { return m_password; }
    bool Running() const { return m_pid > 0; }
    // An absolute name in the databases' folder.
    std::string DatabasePath(const std::string& name) const;
    // "localhost/<port>:<absolute path>"
    std::string ConnectionString(const std::string& name) const;
    TProjectTarget Target(const std::string& name) const;

    // SIGKILL, as a power cut or a crash would end it; waits until it is gone.
    void Kill();
    // Starts it again on the same port (killing it first when it runs).
    void Restart();

private:
    void Start();
    std::string Log() const;

    TTempDir m_dir;
    std::string m_password = "test-server-word";
    int m_port = 0;
    pid_t m_pid = -1;
};

// Rows of a query through the server, read by a connection of its own.
TRows ServerQuery(const TPrivateServer& server, const std::string& name, const std::string& sql);

// The start of record `number`: one day apart, so the list's order is the numbers' order.
double RecordBegin(int number);

// A project's records and description as one line: "1:'a' 2:'' | 'description'", numbers in
// order (a measurement stored twice shows twice), "!data" after a record whose blob is not
// NumberedRecord(RecordBegin(number), number) with its sample count.
std::string StoredState(const TPrivateServer& server, const std::string& name);
std::string ModuleState(const TMainDataModule& module);

// One workstation's command, answered in one line:
//   open                         opened | error <text>
//   append <number> [samples]    appended | present (AddMsrResult)
//   download <first> <count> [samples]  added <n> (StoreMsrResults, numbers first...)
//   comment <number> <text>      ok | missing
//   delete <number>              ok | missing
//   description <text>           ok
//   save                         saved | conflict <text> | error <text>
//   refresh keep|theirs          refreshed <rows that came in different> | error <text>
//   state                        ModuleState
//   close                        closed
// Texts come back on one line: line breaks become " / ".
std::string Obey(TMainDataModule& module, const TProjectTarget& target, const std::string& command);

// The second workstation: the Workstation program in a process of its own, talking over
// its standard input and output. The destructor closes it.
class TWorkstationProcess
{
public:
    TWorkstationProcess(const std::string& program, const TProjectTarget& target);
    ~TWorkstationProcess();
    TWorkstationProcess(const TWorkstationProcess&) = delete;
    TWorkstationProcess& operator=(const TWorkstationProcess&) = delete;

    // Sends a command and waits for its answer.
    std::string Ask(const std::string& command);
    // Sends a command without waiting; Answer() reads what it said.
    void Send(const std::string& command);
    // The next answer line; "timeout" after 60 s, "gone" when the process ended.
    std::string Answer();

private:
    pid_t m_pid = -1;
    int m_socket = -1;
    std::string m_pending;
};
