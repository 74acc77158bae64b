/* Inputs that once made a reader misbehave, replayed through the same
 * calls as the fuzz programs (fuzz/regressions/<reader>/): each must be
 * read or refused with its reason, never crash. */
#include <dirent.h>
#include <string.h>

#include <string>
#include <vector>

#include "hostapp/lib/az_labels.h"
#include "hostapp/lib/az_read.h"
#include "hostlib/util/az_console.h"
#include "stress_fixture.h"

namespace {

std::vector<std::string> Inputs(const char *reader)
{
    std::string folder = std::string(AZ_SOURCE_DIR) + "/fuzz/regressions/" + reader;
    std::vector<std::string> paths;
    if (DIR *dir = opendir(folder.c_str())) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                paths.push_back(folder + "/" + entry->d_name);
        closedir(dir);
    }
    return paths;
}

class Fuzz_Regression : public ::testing::Test {
  protected:
    Console_Capture console;   // keeps the readers' reports off the output
};

}  // namespace

TEST_F(Fuzz_Regression, NiftiInputs)
{
    for (const std::string &path : Inputs("nifti")) {
        AzSeries series;
        AzLoad_Report report;
        int read = AzNifti_Read(path, &series, &report);
        if (!read) {
            EXPECT_FALSE(report.problems.empty()) << path << ": refused without a reason";
            continue;
        }
        for (const AzSeries_Frame &frame : series.frames)
            EXPECT_EQ(frame.gli.size(), (size_t)series.width * series.height * series.times_nb) << path;
        AzLabels labels;
        AzNifti_Read_Labels(path, &labels, &report);
        EXPECT_EQ(labels.tags.size(), (size_t)labels.width * labels.height * labels.depth) << path;
    }
}

TEST_F(Fuzz_Regression, DicomInputs)
{
    for (const std::string &path : Inputs("dicom")) {
        std::vector<AzSeries> series;
        AzLoad_Report report;
        int read = AzDicom_Read(path, &series, &report);
        EXPECT_EQ(read, (int)series.size()) << path;
        if (!read) {
            EXPECT_FALSE(report.problems.empty()) << path << ": refused without a reason";
        }
    }
}

TEST_F(Fuzz_Regression, LabelTableInputs)
{
    for (const std::string &path : Inputs("labels")) {
        AzLabels labels;
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".txt") == 0)
            AzLabels_Read_Names(path, &labels);
        else
            AzLabels_Read_Colours(path, &labels);
        EXPECT_EQ(labels.names.size(), 256u) << path;
    }
}
