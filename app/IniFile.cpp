#include "app/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y))
            return false;
    }
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool ParseIniInteger(std::string_view text, std::int32_t& value)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    bool hex = false;
    if (!text.empty() && text.front() == '$') {
        hex = true;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        hex = true;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    if (hex) {
        if (text.size() > 8)
            return false;
        std::uint32_t v = 0;
        for (char c : text) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            v = v << 4 | static_cast<std::uint32_t>(d);
        }
        value = static_cast<std::int32_t>(negative ? 0u - v : v);
        return true;
    }
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL)
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

TIniFile::TIniFile(std::string fileName)
    : m_fileName(std::move(fileName))
{
    std::ifstream in(m_fileName, std::ios::binary);
    if (!in)
        return;
    std::ostringstream text;
    text << in.rdbuf();
    Parse(text.str());
}

void TIniFile::Parse(std::string_view text)
{
    m_lines.clear();
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        TLine line;
        line.Raw = raw;
        const std::string_view t = Trim(raw);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            line.Section = Trim(t.substr(1, t.size() - 2));
            if (line.Section.empty())
                line.Section = " "; // "[]" still opens a section, one no key can name
        } else if (!t.empty() && t.front() != ';') {
            const std::size_t eq = t.find('=');
            if (eq != std::string_view::npos && eq > 0) {
                line.Key = Trim(t.substr(0, eq));
                line.Value = Trim(t.substr(eq + 1));
            }
        }
        m_lines.push_back(std::move(line));
    }
}

std::string TIniFile::Text() const
{
    std::string out;
    for (const TLine& line : m_lines)
        out += line.Raw + "\r\n";
    return out;
}

std::size_t TIniFile::FindSection(std::string_view section) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        if (!m_lines[i].Section.empty() && SameName(m_lines[i].Section, section))
            return i;
    return m_lines.size();
}

std::size_t TIniFile::FindKey(std::size_t sectionLine, std::string_view key) const
{
    for (std::size_t i = sectionLine + 1; i < m_lines.size() && m_lines[i].Section.empty(); ++i)
        if (!m_lines[i].Key.empty() && SameName(m_lines[i].Key, key))
            return i;
    return m_lines.size();
}

std::int32_t TIniFile::ReadInteger(
    std::string_view section, std::string_view key, std::int32_t defaultValue) const
{
    const std::size_t s = FindSection(section);
    if (s == m_lines.size())
        return defaultValue;
    const std::size_t k = FindKey(s, key);
    std::int32_t value = 0;
    if (k == m_lines.size() || !ParseIniInteger(m_lines[k].Value, value))
        return defaultValue;
    return value;
}

std::string TIniFile::ReadString(
    std::string_view section, std::string_view key, std::string_view defaultValue) const
{
    const std::size_t s = FindSection(section);
    const std::size_t k = s == m_lines.size() ? s : FindKey(s, key);
    return std::string(k == m_lines.size() ? defaultValue : std::string_view(m_lines[k].Value));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    TLine entry;
    entry.Key = key;
    entry.Value = Trim(value);
    for (char& c : entry.Value)
        if (c == '\n' || c == '\r')
            c = ' ';
    entry.Raw = entry.Key + "=" + entry.Value;
    std::size_t s = FindSection(section);
    if (s == m_lines.size()) {
        if (!m_lines.empty() && !Trim(m_lines.back().Raw).empty())
            m_lines.push_back(TLine{});
        TLine header;
        header.Section = section;
        header.Raw = "[" + header.Section + "]";
        m_lines.push_back(std::move(header));
        m_lines.push_back(std::move(entry));
        return;
    }
    const std::size_t k = FindKey(s, key);
    if (k != m_lines.size()) {
        m_lines[k] = std::move(entry);
        return;
    }
    // After the section's last key, before any blank lines that close it.
    std::size_t at = s + 1;
    for (std::size_t i = s + 1; i < m_lines.size() && m_lines[i].Section.empty(); ++i)
        if (!Trim(m_lines[i].Raw).empty())
            at = i + 1;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
}

void TIniFile::UpdateFile() const
{
    const std::string text = Text();
    const std::string temp = m_fileName + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    if (ok) {
        std::size_t written = 0;
        while (ok && written < text.size()) {
            const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            written += ok ? static_cast<std::size_t>(n) : 0;
        }
        ok = ::fsync(fd) == 0 && ok;
        ok = ::close(fd) == 0 && ok;
    }
    if (ok)
        ok = std::rename(temp.c_str(), m_fileName.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        throw TIniFileError("Unable to write to " + m_fileName);
    }
    // The rename itself reaches the disk only with its folder; without this a power cut
    // could bring the previous settings back.
    const std::size_t slash = m_fileName.rfind('/');
    const std::string folder
        = slash == std::string::npos ? "." : m_fileName.substr(0, slash == 0 ? 1 : slash);
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}
