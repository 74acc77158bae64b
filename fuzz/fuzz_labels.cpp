/* Label colour tables and names: the first byte picks the reader, the rest
 * is the file. */
#include "fuzz_input.h"
#include "hostapp/lib/az_labels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::string path = Fuzz_Input_File(data + 1, size - 1, data[0] & 1 ? "labels.txt" : "labels.lut");
    if (path.empty())
        return 0;
    AzLabels labels;
    if (data[0] & 1)
        AzLabels_Read_Names(path, &labels);
    else
        AzLabels_Read_Colours(path, &labels);
    if (labels.names.size() != 256)
        __builtin_trap();
    return 0;
}
