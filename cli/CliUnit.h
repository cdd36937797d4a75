#pragma once

// cement-lab-cli: batch work on project files and the instrument, without the window.
//
// Exit status: 0 success; 1 failure, with the program's own message on the error stream;
// 2 a usage error. A project that failed to open is never written.

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class TUSBBackend;

struct TCliOptions
{
    // The instrument link for "download"; null: the real USB stack.
    std::function<std::shared_ptr<TUSBBackend>()> Backend;
    // Where the desktop program's settings file is looked for (the line colour of the report).
    std::string ProgramFolder;
    // The decimal separator of the texts; empty: the locale's.
    std::string DecimalSeparator;
};

// `arguments` without the program name.
int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
    const TCliOptions& options = {});

// "dd.mm.yyyy" and "hh:mm:ss" of an OLE Automation date.
std::string OleDateText(double oleDate);
std::string OleTimeText(double oleDate);
// A comment on one line: tab, line break and backslash written \t, \n and \\.
std::string EscapeComment(const std::string& text);
