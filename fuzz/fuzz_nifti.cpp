/* NIfTI reader: any bytes as a .nii file, or as .nii.gz when they start
 * like a gzip stream. */
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bool gzip = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
    std::string path = Fuzz_Input_File(data, size, gzip ? "input.nii.gz" : "input.nii");
    if (path.empty())
        return 0;
    AzSeries series;
    AzLoad_Report report;
    if (AzNifti_Read(path, &series, &report) == 1)
        Fuzz_Planes_Whole(series);
    AzLabels labels;
    AzNifti_Read_Labels(path, &labels, &report);
    if (labels.tags.size() != (size_t)labels.width * labels.height * labels.depth)
        __builtin_trap();
    return 0;
}
