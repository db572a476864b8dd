#pragma once

#include <string>

namespace sim {

// The settings of the stand-in engine, read from "config.ini" in the station
// folder anew at every call, so that the tool's writes take effect at once.
class SimConfig final
{
public:
    explicit SimConfig(std::string stationDir);

    const std::string& stationDir() const { return m_stationDir; }
    // "BUS_DIR" of "SIM_Engine"; relative paths are taken from the station
    // folder. Default: "simbus" in the station folder.
    std::string busDir() const;
    // "ITEM_VERSIONFILE_PATH" of "GET_DLL_Setting"; empty when not set.
    std::string versionDir() const;

private:
    std::string configPath() const;

    std::string m_stationDir;
};

} // namespace sim
