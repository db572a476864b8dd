#include "SimConfig.h"

#include "core/IniText.h"

#include <filesystem>

namespace sim {

SimConfig::SimConfig(std::string stationDir)
    : m_stationDir(std::move(stationDir))
{
}

std::string SimConfig::busDir() const
{
    const std::string value = IniText(configPath()).readText("SIM_Engine", "BUS_DIR");
    if (value.empty())
        return (std::filesystem::path(m_stationDir) / "simbus").string();
    return (std::filesystem::path(m_stationDir) / value).lexically_normal().string();
}

std::string SimConfig::versionDir() const
{
    return IniText(configPath()).readText("GET_DLL_Setting", "ITEM_VERSIONFILE_PATH");
}

std::string SimConfig::configPath() const
{
    return (std::filesystem::path(m_stationDir) / "config.ini").string();
}

} // namespace sim
