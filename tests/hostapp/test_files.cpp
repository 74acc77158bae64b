/*
 * Writers of small DICOM and NIfTI files for the tests.
 */
#include "test_files.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

Temp_Folder::Temp_Folder()
{
    char pattern[] = "/tmp/az_hostapp_XXXXXX";
    char *made = mkdtemp(pattern);
    path = made ? made : "/tmp";
}

Temp_Folder::~Temp_Folder()
{
    if (path != "/tmp") {
        if (Shell("rm -rf '" + path + "'") != 0)
            fprintf(stderr, "cannot remove %s\n", path.c_str());
    }
}

bool Bytes_Write(const std::string &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

namespace {

/* ---- DICOM, explicit VR little endian --------------------------------- */

void Put(std::string *out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void Element(std::string *out, uint16_t group, uint16_t element, const char *vr, std::string value)
{
    bool long_form = !strcmp(vr, "OB") || !strcmp(vr, "OW") || !strcmp(vr, "SQ") || !strcmp(vr, "UN");
    if (value.size() % 2)
        value.push_back(!strcmp(vr, "UI") || long_form ? '\0' : ' ');
    Put(out, group, 2);
    Put(out, element, 2);
    out->append(vr, 2);
    if (long_form)
        Put(out, 0, 2);
    Put(out, static_cast<uint32_t>(value.size()), long_form ? 4 : 2);
    out->append(value);
}

std::string Us(int v)
{
    std::string s;
    Put(&s, static_cast<uint32_t>(v), 2);
    return s;
}

/* Decimal strings, split by backslashes. */
std::string Ds(std::initializer_list<double> values)
{
    std::string s;
    for (double v : values) {
        char text[32];
        snprintf(text, sizeof(text), "%.8g", v);
        s += (s.empty() ? "" : "\\") + std::string(text);
    }
    return s;
}

} // namespace

bool Dicom_Write(const std::string &path, const Dicom_Plan &plan)
{
    const char *sop_class = plan.modality == "CT"   ? "1.2.840.10008.5.1.4.1.1.2"
                            : plan.modality == "PT" ? "1.2.840.10008.5.1.4.1.1.128"
                                                    : "1.2.840.10008.5.1.4.1.1.4";
    std::string meta, out(128, '\0');
    Element(&meta, 0x0002, 0x0001, "OB", std::string("\0\1", 2));
    Element(&meta, 0x0002, 0x0002, "UI", sop_class);
    Element(&meta, 0x0002, 0x0003, "UI", plan.sop_instance);
    Element(&meta, 0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
    out += "DICM";
    std::string length;
    Put(&length, static_cast<uint32_t>(meta.size()), 4);
    Element(&out, 0x0002, 0x0000, "UL", length);
    out += meta;
    Element(&out, 0x0008, 0x0016, "UI", sop_class);
    Element(&out, 0x0008, 0x0018, "UI", plan.sop_instance);
    Element(&out, 0x0008, 0x0060, "CS", plan.modality);
    Element(&out, 0x0008, 0x103e, "LO", plan.description);
    Element(&out, 0x0010, 0x0010, "PN", "Test^Patient");
    if (plan.frames > 1)
        Element(&out, 0x0018, 0x0088, "DS", Ds({plan.frame_step}));
    Element(&out, 0x0020, 0x000d, "UI", "1.2.826.0.1.3680043.2.1125.9");
    Element(&out, 0x0020, 0x000e, "UI", plan.series_uid);
    if (!plan.series_number.empty())
        Element(&out, 0x0020, 0x0011, "IS", plan.series_number);
    Element(&out, 0x0020, 0x0013, "IS", std::to_string(plan.instance_number));
    Element(&out, 0x0020, 0x0032, "DS", Ds({plan.position[0], plan.position[1], plan.position[2]}));
    Element(&out, 0x0020, 0x0037, "DS", Ds({plan.row[0], plan.row[1], plan.row[2], plan.col[0], plan.col[1], plan.col[2]}));
    if (plan.with_pixels) {
        Element(&out, 0x0028, 0x0002, "US", Us(1));
        Element(&out, 0x0028, 0x0004, "CS", "MONOCHROME2");
        if (plan.frames > 1)
            Element(&out, 0x0028, 0x0008, "IS", std::to_string(plan.frames));
        Element(&out, 0x0028, 0x0010, "US", Us(plan.height));
        Element(&out, 0x0028, 0x0011, "US", Us(plan.width));
        Element(&out, 0x0028, 0x0030, "DS", Ds({plan.row_spacing, plan.col_spacing}));
        Element(&out, 0x0028, 0x0100, "US", Us(16));
        Element(&out, 0x0028, 0x0101, "US", Us(plan.bits_stored));
        Element(&out, 0x0028, 0x0102, "US", Us(plan.bits_stored - 1));
        Element(&out, 0x0028, 0x0103, "US", Us(plan.is_signed));
        if (plan.has_window) {
            Element(&out, 0x0028, 0x1050, "DS", Ds({plan.window_center}));
            Element(&out, 0x0028, 0x1051, "DS", Ds({plan.window_width}));
        }
        Element(&out, 0x0028, 0x1052, "DS", Ds({plan.intercept}));
        Element(&out, 0x0028, 0x1053, "DS", Ds({plan.slope}));
        std::string pixels;
        for (size_t i = 0; i < static_cast<size_t>(plan.width) * plan.height * plan.frames; i++)
            Put(&pixels, i < plan.stored.size() ? plan.stored[i] : 0, 2);
        Element(&out, 0x7fe0, 0x0010, "OW", pixels);
    }
    return Bytes_Write(path, out);
}

namespace {

/* ---- NIfTI ------------------------------------------------------------- */

/* A header field: an integer of `bytes` bytes, or a float (4) or double (8) when real. */
void Field_Put(std::string *h, size_t offset, int bytes, bool real, double v)
{
    char raw[8];
    if (real && bytes == 4) {
        float f = static_cast<float>(v);
        memcpy(raw, &f, 4);
    } else if (real) {
        memcpy(raw, &v, 8);
    } else {
        int64_t i = static_cast<int64_t>(v);  // little endian: the low bytes first
        memcpy(raw, &i, 8);
    }
    memcpy(&(*h)[offset], raw, bytes);
}

int Bytes_Per(int datatype) { return datatype == 2 ? 1 : datatype == 4 ? 2 : 4; }

/* Both versions hold the same fields; version 2 widens them and moves them. */
std::string Header(const Nifti_Plan &plan)
{
    const bool two = plan.version == 2;
    const int n = two ? 8 : 2, r = two ? 8 : 4;  // widths of dim and of the real fields
    std::string h(two ? 544 : 352, '\0');
    Field_Put(&h, 0, 4, false, two ? 540 : 348);
    memcpy(&h[two ? 4 : 344], two ? "n+2\0\r\n\032\n" : "n+1", two ? 8 : 4);
    Field_Put(&h, two ? 12 : 70, 2, false, plan.datatype);
    Field_Put(&h, two ? 14 : 72, 2, false, 8 * Bytes_Per(plan.datatype));
    for (int i = 0; i < 8; i++)
        Field_Put(&h, (two ? 16 : 40) + n * i, n, false, i == 0 ? (plan.dim[3] > 1 ? 4 : 3) : i <= 4 ? plan.dim[i - 1] : 1);
    for (int i = 0; i < 5; i++) {  // pixdim: qfac, the three voxel sizes, the time step
        const Affine &m = plan.sform;
        double size = i == 0 || i == 4 ? 1.0 : sqrt(m[0][i - 1] * m[0][i - 1] + m[1][i - 1] * m[1][i - 1] + m[2][i - 1] * m[2][i - 1]);
        Field_Put(&h, (two ? 104 : 76) + r * i, r, true, size);
    }
    Field_Put(&h, two ? 168 : 108, r, !two, two ? 544 : 352);  // vox_offset
    Field_Put(&h, two ? 176 : 112, r, true, plan.slope);
    Field_Put(&h, two ? 176 + r : 116, r, true, plan.intercept);
    Field_Put(&h, two ? 348 : 254, two ? 4 : 2, false, plan.sform_code);
    for (int row = 0; row < 3; row++)
        for (int c = 0; c < 4; c++)
            Field_Put(&h, (two ? 400 : 280) + 4 * r * row + r * c, r, true, plan.sform[row][c]);
    return h;
}

} // namespace

bool Nifti_Write(const std::string &path, const Nifti_Plan &plan)
{
    const int size = Bytes_Per(plan.datatype);
    std::string bytes = Header(plan);
    size_t at = bytes.size(), count = static_cast<size_t>(plan.dim[0]) * plan.dim[1] * plan.dim[2] * plan.dim[3];
    bytes.resize(at + count * size);
    for (size_t i = 0; i < count; i++)
        Field_Put(&bytes, at + i * size, size, plan.datatype == 16, i < plan.values.size() ? plan.values[i] : 0.0);
    if (plan.truncate_to >= 0 && static_cast<size_t>(plan.truncate_to) < bytes.size())
        bytes.resize(plan.truncate_to);
    return Bytes_Write(path, bytes);
}

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool Matches(const std::string &text, std::string pattern)
{
    bool head = !pattern.empty() && pattern[0] == '^';
    bool tail = pattern.size() > (head ? 1u : 0u) && pattern.back() == '$';
    pattern = pattern.substr(head, pattern.size() - head - tail);
    for (size_t at = 0, from = 0;;) {
        size_t star = pattern.find('*', from);
        std::string part = pattern.substr(from, star == std::string::npos ? std::string::npos : star - from);
        size_t found = text.find(part, at);
        if (star == std::string::npos && tail)
            found = text.size() >= at + part.size() && text.compare(text.size() - part.size(), part.size(), part) == 0
                        ? text.size() - part.size()
                        : std::string::npos;
        if (found == std::string::npos || (head && from == 0 && found != 0))
            return false;
        if (star == std::string::npos)
            return true;
        at = found + part.size();
        from = star + 1;
    }
}

std::string Text_Of(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Names_In(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (struct dirent *entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int Shell(const std::string &line) { return system(line.c_str()); }

std::string Shell_Output(const std::string &line)
{
    std::string text;
    char buffer[4096];
    FILE *pipe = popen((line + " 2>&1").c_str(), "r");
    for (size_t length; pipe && (length = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        text.append(buffer, length);
    if (pipe)
        pclose(pipe);
    return text;
}

AzSeries Series_Read(const std::string &path)
{
    std::vector<AzSeries> series;
    AzLoad_Report report;
    EXPECT_EQ(1, AzSeries_Read(path, &series, &report)) << path;
    return series.empty() ? AzSeries() : series[0];
}

std::string Png_Size(const std::string &path)
{
    std::string bytes = Text_Of(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
        return "";
    return std::to_string(ntohl(Field<uint32_t>(bytes, 16))) + "x" + std::to_string(ntohl(Field<uint32_t>(bytes, 20)));
}

void Inputs_Make(const std::string &make, const Temp_Folder &folder)
{
    for (size_t at = 0, bar; at <= make.size(); at = bar + 1) {
        std::string input = make.substr(at, (bar = std::min(make.find('|', at), make.size())) - at);
        size_t is = input.find('=');
        if (is != std::string::npos && Shell("mkdir -p \"$(dirname '" + folder.File(input.substr(0, is)) + "')\"") == 0)
            Bytes_Write(folder.File(input.substr(0, is)), input.substr(is + 1));
        else if (input == "module-copy")
            Shell("cp '" AZ_MODULE_PATH "' '" + folder.File("mine.so") + "'");
        else if (!input.empty() && input.back() == '/')
            Shell("mkdir -p '" + folder.File(input) + "'");
        else if (!input.empty() && input != "-" &&
                 Shell("cp -r '" AZ_SOURCE_DIR "/tests/data/inputs/" + input + "/.' '" + folder.Path() + "'") != 0)
            ADD_FAILURE() << "no input folder " << input;
    }
}

Outcome Program(const std::string &arguments, const std::string &cwd)
{
    Temp_Folder folder;
    std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + "'" + AZ_BUILD_DIR + "/azozude' " +
                          arguments + " >'" + folder.File("out") + "' 2>'" + folder.File("err") + "' </dev/null";
    int status = system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text_Of(folder.File("out")), Text_Of(folder.File("err"))};
}
