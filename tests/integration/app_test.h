/*
 * The host program's own set-up inside the test: AzApp with the shipped
 * module, on the shared host fixture, and a folder for what a run writes
 * (under the build folder, so that the pictures can be looked at).
 */
#ifndef APP_TEST_H
#define APP_TEST_H

#include <filesystem>
#include <string>

#include "hostapp/lib/az_session.h"
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

/* AZ_BUILD_DIR/integration/NAME, made when missing, emptied of files. */
inline std::string Output_Folder(const std::string &name)
{
    namespace fs = std::filesystem;
    fs::path folder = fs::path(AZ_BUILD_DIR) / "integration" / name;
    std::error_code error;
    fs::create_directories(folder, error);
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, error))
        if (entry.is_regular_file())
            fs::remove(entry.path(), error);
    return fs::is_directory(folder) ? folder.string() : "";
}

inline bool File_Exists(const std::string &path) { return std::filesystem::is_regular_file(path); }

#endif
