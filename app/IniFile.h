#pragma once

// The settings file: Windows private-profile text ("[Section]" lines, then
// "Key=Value" lines). Section and key names compare without regard to case, as that
// format always has. Lines the program does not own (other keys, comments, blank
// lines) are kept as they were when the file is written back.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class TIniFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TIniFile
{
public:
    // Reads the file; a missing or unreadable file reads as empty.
    explicit TIniFile(std::string fileName);

    // Parses file contents (also what the constructor does with the file).
    void Parse(std::string_view text);
    std::string Text() const;

    // The key's value as a 32-bit signed integer: decimal with an optional sign, or
    // hexadecimal after "$" or "0x" (up to 8 digits, taken as 32 bits). Anything else,
    // or a missing section or key, gives `defaultValue`.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const;
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    // The key's text with the spaces around it trimmed; `defaultValue` when missing. A
    // written text loses its line breaks (each becomes a space).
    std::string ReadString(
        std::string_view section, std::string_view key, std::string_view defaultValue = {}) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    // Writes the file through a temporary file and a rename, so a failed write leaves the
    // old file whole. Throws TIniFileError "Unable to write to <file>".
    void UpdateFile() const;

    const std::string& FileName() const { return m_fileName; }

private:
    struct TLine
    {
        std::string Raw;
        std::string Section; // set on section lines
        std::string Key;     // set on key lines
        std::string Value;
    };
    std::size_t FindSection(std::string_view section) const;
    std::size_t FindKey(std::size_t sectionLine, std::string_view key) const;

    std::string m_fileName;
    std::vector<TLine> m_lines;
};

// Parses an integer as the settings file does; false when the text is not one.
bool ParseIniInteger(std::string_view text, std::int32_t& value);
