/* DICOM reader: any bytes as one DICOM file. */
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path = Fuzz_Input_File(data, size, "input.dcm");
    if (path.empty())
        return 0;
    std::vector<AzSeries> series;
    AzLoad_Report report;
    int read = AzDicom_Read(path, &series, &report);
    if (read != (int)series.size())
        __builtin_trap();
    for (const AzSeries &one : series)
        Fuzz_Planes_Whole(one);
    return 0;
}
