#include "store/ProjectTarget.h"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

std::string TProjectTarget::ConnectionString() const
{
    if (!IsServer())
        return Path;
    return Host + (Port.empty() ? "" : "/" + Port) + ":" + Path;
}

std::string TProjectTarget::Caption() const
{
    return IsServer() ? Host + ":" + Path : Path;
}

TProjectTarget LocalProject(const std::string& path)
{
    TProjectTarget target;
    target.Path = path;
    return target;
}

TProjectTarget ServerProject(const std::string& host, const std::string& port, const std::string& path,
    const std::string& user, const std::string& password)
{
    TProjectTarget target;
    target.Host = host;
    target.Port = port;
    target.Path = path;
    target.User = user;
    target.Password = password;
    return target;
}

TProjectTarget ParseProjectTarget(const std::string& text)
{
    struct stat st
    { };
    if (text.empty() || text[0] == '/' || text[0] == '.' || stat(text.c_str(), &st) == 0)
        return LocalProject(text);
    std::size_t colon;
    std::string host;
    if (text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos)
            return LocalProject(text);
        colon = text.find(':', close);
    } else {
        colon = text.find(':');
    }
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return LocalProject(text);
    host = text.substr(0, colon);
    std::string port;
    const std::size_t slash = host.find('/', host[0] == '[' ? host.find(']') : 0);
    if (slash != std::string::npos) {
        port = host.substr(slash + 1);
        host = host.substr(0, slash);
        // A folder before the colon ("projects/a:b.fdb") is a local name, not a port.
        if (port.empty()
            || !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
            return LocalProject(text);
    }
    if (host.empty())
        return LocalProject(text);
    return ServerProject(host, port, text.substr(colon + 1), "", "");
}
