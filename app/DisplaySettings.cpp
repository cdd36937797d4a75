#include "app/DisplaySettings.h"

#include "app/IniFile.h"

#include <filesystem>

namespace {

constexpr const char* kGraphics = "Graphics";
constexpr const char* kDeviceScreenShot = "DeviceScreenShot";

std::string SeriesColorKey(int channel)
{
    return "SeriesColor" + std::to_string(channel);
}

} // namespace

TDisplaySettings LoadDisplaySettings(const std::string& fileName)
{
    const TIniFile ini(fileName);
    TDisplaySettings settings;
    settings.VorkastGraphicType
        = static_cast<std::uint8_t>(ini.ReadInteger(kGraphics, "VorkastGraphicType", 0));
    for (int c = 0; c < CHANNEL_COUNT; ++c)
        settings.SeriesColor[c]
            = static_cast<std::uint32_t>(ini.ReadInteger(kGraphics, SeriesColorKey(c), 0));
    settings.PenColor = static_cast<std::uint32_t>(ini.ReadInteger(kDeviceScreenShot, "PenColor", 0));
    settings.BackgroundColor
        = static_cast<std::uint32_t>(ini.ReadInteger(kDeviceScreenShot, "BackgroundColor", 16777215));
    return settings;
}

void SaveDisplaySettings(const std::string& fileName, const TDisplaySettings& settings)
{
    TIniFile ini(fileName);
    ini.WriteInteger(kGraphics, "VorkastGraphicType", settings.VorkastGraphicType);
    for (int c = 0; c < CHANNEL_COUNT; ++c)
        ini.WriteInteger(kGraphics, SeriesColorKey(c), static_cast<std::int32_t>(settings.SeriesColor[c]));
    ini.WriteInteger(kDeviceScreenShot, "PenColor", static_cast<std::int32_t>(settings.PenColor));
    ini.WriteInteger(
        kDeviceScreenShot, "BackgroundColor", static_cast<std::int32_t>(settings.BackgroundColor));
    ini.UpdateFile();
}

std::string SettingsFileName(const std::string& executablePath)
{
    return std::filesystem::path(executablePath).replace_extension(".ini").string();
}
