#pragma once

// Where a project lives: a file of this machine, opened by the embedded engine with the
// project's own user, or a database on a Firebird server, opened with the operator's
// credentials. One place reads Firebird's connection strings and builds them.

#include <string>

struct TProjectTarget
{
    std::string Host; // empty: a local file
    std::string Port; // empty: the server's default
    std::string Path; // the file, or on a server its path or alias
    std::string User;
    std::string Password;

    bool IsServer() const { return !Host.empty(); }
    // What the client library attaches to: the path, or "host[/port]:path".
    std::string ConnectionString() const;
    // What the window's caption shows: the path, or "host:path".
    std::string Caption() const;
};

TProjectTarget LocalProject(const std::string& path);
TProjectTarget ServerProject(const std::string& host, const std::string& port, const std::string& path,
    const std::string& user, const std::string& password);

// Reads "host:/path/file.fdb", "host/port:/path/file.fdb", "host:alias" and
// "[ipv6]/port:path" as a server; anything else, and any name that exists as a file
// here, as a local file ("./a:b.fdb" names a local file with a colon). The user and
// password are left empty.
TProjectTarget ParseProjectTarget(const std::string& text);
