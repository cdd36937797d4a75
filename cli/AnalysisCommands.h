#pragma once

// cement-lab-cli's project-wide commands:
//   stats FILE [--days D] [--grade G] [--supplier S] [--from YYYY-MM-DD] [--to YYYY-MM-DD]
//   journal FILE [--format csv|xlsx] OUT [the same filters]
// Exit status as the rest of the tool: 0, 1 with the message on the error stream, 2 for a
// usage error (with `usage` after the message).

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

class TMainDataModule;

// Opens the project named on the command line, or throws with the operator's message.
using TProjectOpener = std::function<void(TMainDataModule&, const std::string&)>;

// `arguments` from the command name on.
int RunAnalysisCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
    const std::string& decimalSeparator, const char* usage, const TProjectOpener& open);
