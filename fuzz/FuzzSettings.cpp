// The settings file beside the program: whatever an editor, a crash or another program left
// in it. The input is the file's whole text.

#include "app/DisplaySettings.h"
#include "app/IniFile.h"
#include "fuzz/FuzzCheck.h"
#include "store/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct TKey
{
    const char* Section;
    const char* Key;
    std::int32_t Default;
};

// The keys the program owns, with the defaults LoadDisplaySettings gives them.
constexpr std::array<TKey, 4> kOwnedKeys{{
    {"Graphics", "VorkastGraphicType", 0},
    {"Graphics", "SeriesColor0", 0},
    {"DeviceScreenShot", "PenColor", 0},
    {"DeviceScreenShot", "BackgroundColor", 16777215},
}};

// A scratch folder of this process (TMPDIR, best on tmpfs: every save syncs), removed at exit.
class TScratch
{
public:
    TScratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "cementlab-fuzz-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        m_dir = pattern;
    }
    ~TScratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string File() const { return (m_dir / "cement-lab.ini").string(); }

private:
    std::filesystem::path m_dir;
};

void WriteAll(const std::string& path, std::string_view text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    FUZZ_CHECK(out.good());
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Lines as the format has them: split at LF, one CR before it dropped, no line after a
// final LF.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

std::string_view Trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (blank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

// A "Key=Value" line naming one of the program's keys, in whatever section: saving may
// replace it. Every other line must survive a save.
bool MayBeReplaced(std::string_view line)
{
    const std::string_view t = Trimmed(line);
    if (t.empty() || t.front() == ';' || (t.size() >= 2 && t.front() == '[' && t.back() == ']'))
        return false;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos || eq == 0)
        return false;
    const std::string_view key = Trimmed(t.substr(0, eq));
    return std::any_of(
        kOwnedKeys.begin(), kOwnedKeys.end(), [&](const TKey& k) { return SameName(key, k.Key); });
}

TDisplaySettings FromIni(const TIniFile& ini)
{
    TDisplaySettings s;
    s.VorkastGraphicType
        = static_cast<std::uint8_t>(ini.ReadInteger(kOwnedKeys[0].Section, kOwnedKeys[0].Key, 0));
    s.SeriesColor[0]
        = static_cast<std::uint32_t>(ini.ReadInteger(kOwnedKeys[1].Section, kOwnedKeys[1].Key, 0));
    s.PenColor = static_cast<std::uint32_t>(ini.ReadInteger(kOwnedKeys[2].Section, kOwnedKeys[2].Key, 0));
    s.BackgroundColor
        = static_cast<std::uint32_t>(ini.ReadInteger(kOwnedKeys[3].Section, kOwnedKeys[3].Key, 16777215));
    return s;
}

bool Same(const TDisplaySettings& a, const TDisplaySettings& b)
{
    return a.VorkastGraphicType == b.VorkastGraphicType && a.SeriesColor == b.SeriesColor
        && a.PenColor == b.PenColor && a.BackgroundColor == b.BackgroundColor;
}

// Values to save, from the input's last 13 bytes, so the fuzzer reaches the extremes too.
TDisplaySettings ToSave(std::string_view text)
{
    std::array<std::uint8_t, 13> tail{};
    const std::size_t n = std::min(tail.size(), text.size());
    std::copy(text.end() - static_cast<std::ptrdiff_t>(n), text.end(), tail.begin());
    TDisplaySettings s;
    s.VorkastGraphicType = tail[0];
    s.SeriesColor[0] = LoadLE<std::uint32_t>(tail.data(), 1);
    s.PenColor = LoadLE<std::uint32_t>(tail.data(), 5);
    s.BackgroundColor = LoadLE<std::uint32_t>(tail.data(), 9);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const TScratch scratch;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Text writes the lines read, each ended by CR LF; reading that again changes nothing.
    TIniFile parsed(scratch.File() + ".none");
    parsed.Parse(text);
    const std::string written = parsed.Text();
    std::string expectedText;
    for (std::string_view line : Lines(text))
        expectedText.append(line).append("\r\n");
    FUZZ_CHECK(written == expectedText);
    TIniFile reparsed(scratch.File() + ".none");
    reparsed.Parse(written);
    FUZZ_CHECK(reparsed.Text() == written);
    for (const TKey& key : kOwnedKeys)
        FUZZ_CHECK(reparsed.ReadInteger(key.Section, key.Key, key.Default)
            == parsed.ReadInteger(key.Section, key.Key, key.Default));

    // An integer the reader accepts prints back to one it reads the same.
    for (std::string_view line : Lines(text)) {
        std::int32_t value = 0;
        const std::size_t eq = line.find('=');
        if (eq != std::string_view::npos && ParseIniInteger(line.substr(eq + 1), value)) {
            std::int32_t again = 0;
            FUZZ_CHECK(ParseIniInteger(std::to_string(value), again) && again == value);
        }
    }

    // The file reads as its text does.
    const std::string file = scratch.File();
    WriteAll(file, text);
    const TDisplaySettings loaded = LoadDisplaySettings(file);
    FUZZ_CHECK(Same(loaded, FromIni(parsed)));

    // Saved settings read back as saved, and every line the program does not own is kept,
    // in its order.
    const TDisplaySettings saved = ToSave(text);
    SaveDisplaySettings(file, saved);
    FUZZ_CHECK(Same(LoadDisplaySettings(file), saved));
    const std::string after = ReadAll(file);
    const std::vector<std::string_view> newLines = Lines(after);
    auto next = newLines.begin();
    for (std::string_view line : Lines(text)) {
        if (MayBeReplaced(line))
            continue;
        next = std::find(next, newLines.end(), line);
        FUZZ_CHECK(next != newLines.end());
        ++next;
    }
    return 0;
}
