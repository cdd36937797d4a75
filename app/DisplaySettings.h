#pragma once

// The operator's display choices that outlive a run, kept in the settings file beside
// the program. A colour is 0x00BBGGRR, stored as a signed decimal.

#include <array>
#include <cstdint>
#include <string>

inline constexpr int CHANNEL_COUNT = 1;

struct TDisplaySettings
{
    std::uint8_t VorkastGraphicType = 0; // chart quantity 0..4; other values press no button
    std::array<std::uint32_t, CHANNEL_COUNT> SeriesColor{};
    std::uint32_t PenColor = 0;
    std::uint32_t BackgroundColor = 0xFFFFFF;

    bool operator==(const TDisplaySettings&) const = default;
};

// Missing or unreadable file, section, key or number: the default of that item.
TDisplaySettings LoadDisplaySettings(const std::string& fileName);
// Writes all four keys in their fixed order and keeps every other line of the file.
// Throws TIniFileError "Unable to write to <file>".
void SaveDisplaySettings(const std::string& fileName, const TDisplaySettings& settings);

// The program's path with its extension replaced by ".ini".
std::string SettingsFileName(const std::string& executablePath);
