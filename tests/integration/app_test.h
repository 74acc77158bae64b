/*
 * The host program's own set-up inside the test: AzApp with the shipped
 * module, on the shared host fixture, and a folder for what a run writes
 * (under the build folder, so that the pictures can be looked at).
 */
#ifndef APP_TEST_H
#define APP_TEST_H

#include <filesystem>
#include <string>
#include <vector>

#include "hostapp/lib/az_session.h"
#include "hostlib/tools/az_tools.h"
#include "tests/support/host_test.h"

class App_Test : public Host_Test {
  protected:
    void TearDown() override
    {
        AzApp_Stop(&app);
        Host_Test::TearDown();
    }
    /* The host started with the shipped module, console at errors only, a
     * 4-D study entering at time_point. */
    bool Start(int time_point = 0)
    {
        AzApp_Options options;
        options.module_path = AZ_MODULE_PATH;
        options.console_level = 2;
        options.time_point = time_point;
        return AzApp_Start(&app, options) == AZ_EXIT_OK;
    }
    /* "" when the session's text ran, else the reason. */
    std::string Session(const std::string &text, const std::string &name = "test")
    {
        std::string error;
        return AzApp_Session(&app, text, name, &error) == AZ_EXIT_OK ? "" : error;
    }
    AzApp app;
};

/* AZ_BUILD_DIR/integration/NAME, made afresh; "" when it cannot be. */
inline std::string Output_Folder(const std::string &name)
{
    std::filesystem::path folder = std::filesystem::path(AZ_BUILD_DIR) / "integration" / name;
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    return std::filesystem::create_directories(folder, error) ? folder.string() : "";
}

/* The angle (radians) of the panel's valuators of one orientation (the
 * left pair or the bottom pair), which move together. */
inline double Panel_Angle(HWND panel, int vertical)
{
    std::vector<Valuators *> found;
    for (int i = 0; Tools *tool = AzTools_Widget(panel, i); i++)
        if (Valuators *valuator = dynamic_cast<Valuators *>(tool))
            if (((valuator->style & 0x4u) != 0) == (vertical != 0))
                found.push_back(valuator);
    EXPECT_EQ(2u, found.size());
    EXPECT_TRUE(found.size() == 2 && found[0]->value == found[1]->value) << "each pair moves together";
    return found.empty() ? 0.0 : found[0]->value;
}

inline bool File_Exists(const std::string &path) { return std::filesystem::is_regular_file(path); }

#endif
