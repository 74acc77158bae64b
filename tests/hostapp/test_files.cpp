/*
 * Writers of small DICOM and NIfTI files for the tests.
 */
#include "test_files.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

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

void Put16(std::string *out, uint16_t v)
{
    out->push_back(static_cast<char>(v & 0xff));
    out->push_back(static_cast<char>(v >> 8));
}

void Put32(std::string *out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void Element(std::string *out, uint16_t group, uint16_t element, const char *vr, std::string value)
{
    bool long_form = !strcmp(vr, "OB") || !strcmp(vr, "OW") || !strcmp(vr, "SQ") || !strcmp(vr, "UN");
    if (value.size() % 2)
        value.push_back(!strcmp(vr, "UI") || long_form ? '\0' : ' ');
    Put16(out, group);
    Put16(out, element);
    out->append(vr, 2);
    if (long_form) {
        Put16(out, 0);
        Put32(out, static_cast<uint32_t>(value.size()));
    } else {
        Put16(out, static_cast<uint16_t>(value.size()));
    }
    out->append(value);
}

std::string Us(uint16_t v)
{
    std::string s;
    Put16(&s, v);
    return s;
}

std::string Ds(double v)
{
    char text[32];
    snprintf(text, sizeof(text), "%.8g", v);
    return text;
}

std::string Ds3(const double *v, int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += (i ? "\\" : "") + Ds(v[i]);
    return s;
}

} // namespace

bool Dicom_Write(const std::string &path, const Dicom_Plan &plan)
{
    const char *sop_class = plan.modality == "CT"   ? "1.2.840.10008.5.1.4.1.1.2"
                            : plan.modality == "PT" ? "1.2.840.10008.5.1.4.1.1.128"
                                                    : "1.2.840.10008.5.1.4.1.1.4";
    std::string meta;
    Element(&meta, 0x0002, 0x0001, "OB", std::string("\0\1", 2));
    Element(&meta, 0x0002, 0x0002, "UI", sop_class);
    Element(&meta, 0x0002, 0x0003, "UI", plan.sop_instance);
    Element(&meta, 0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
    std::string out(128, '\0');
    out += "DICM";
    Element(&out, 0x0002, 0x0000, "UL", std::string());
    out.resize(out.size() - 2); // UL value follows: length 4
    Put16(&out, 4);
    Put32(&out, static_cast<uint32_t>(meta.size()));
    out += meta;

    Element(&out, 0x0008, 0x0016, "UI", sop_class);
    Element(&out, 0x0008, 0x0018, "UI", plan.sop_instance);
    Element(&out, 0x0008, 0x0060, "CS", plan.modality);
    Element(&out, 0x0008, 0x103e, "LO", plan.description);
    Element(&out, 0x0010, 0x0010, "PN", "Test^Patient");
    if (plan.frames > 1)
        Element(&out, 0x0018, 0x0088, "DS", Ds(plan.frame_step));
    Element(&out, 0x0020, 0x000d, "UI", "1.2.826.0.1.3680043.2.1125.9");
    Element(&out, 0x0020, 0x000e, "UI", plan.series_uid);
    if (!plan.series_number.empty())
        Element(&out, 0x0020, 0x0011, "IS", plan.series_number);
    Element(&out, 0x0020, 0x0013, "IS", std::to_string(plan.instance_number));
    Element(&out, 0x0020, 0x0032, "DS", Ds3(plan.position.data(), 3));
    double cosines[6] = {plan.row[0], plan.row[1], plan.row[2], plan.col[0], plan.col[1], plan.col[2]};
    Element(&out, 0x0020, 0x0037, "DS", Ds3(cosines, 6));
    if (plan.with_pixels) {
        Element(&out, 0x0028, 0x0002, "US", Us(1));
        Element(&out, 0x0028, 0x0004, "CS", "MONOCHROME2");
        if (plan.frames > 1)
            Element(&out, 0x0028, 0x0008, "IS", std::to_string(plan.frames));
        Element(&out, 0x0028, 0x0010, "US", Us(static_cast<uint16_t>(plan.height)));
        Element(&out, 0x0028, 0x0011, "US", Us(static_cast<uint16_t>(plan.width)));
        double spacing[2] = {plan.row_spacing, plan.col_spacing};
        Element(&out, 0x0028, 0x0030, "DS", Ds3(spacing, 2));
        Element(&out, 0x0028, 0x0100, "US", Us(16));
        Element(&out, 0x0028, 0x0101, "US", Us(static_cast<uint16_t>(plan.bits_stored)));
        Element(&out, 0x0028, 0x0102, "US", Us(static_cast<uint16_t>(plan.bits_stored - 1)));
        Element(&out, 0x0028, 0x0103, "US", Us(static_cast<uint16_t>(plan.is_signed)));
        if (plan.has_window) {
            Element(&out, 0x0028, 0x1050, "DS", Ds(plan.window_center));
            Element(&out, 0x0028, 0x1051, "DS", Ds(plan.window_width));
        }
        Element(&out, 0x0028, 0x1052, "DS", Ds(plan.intercept));
        Element(&out, 0x0028, 0x1053, "DS", Ds(plan.slope));
        std::string pixels;
        size_t count = static_cast<size_t>(plan.width) * plan.height * plan.frames;
        for (size_t i = 0; i < count; i++)
            Put16(&pixels, i < plan.stored.size() ? plan.stored[i] : 0);
        Element(&out, 0x7fe0, 0x0010, "OW", pixels);
    }
    return Bytes_Write(path, out);
}

namespace {

/* ---- NIfTI ------------------------------------------------------------- */

template <typename T> void At(std::string *out, size_t offset, T value)
{
    memcpy(&(*out)[offset], &value, sizeof(T));
}

int Bytes_Per(int datatype) { return datatype == 2 ? 1 : datatype == 4 ? 2 : 4; }

std::string Data_Of(const Nifti_Plan &plan)
{
    std::string data;
    size_t count = static_cast<size_t>(plan.dim[0]) * plan.dim[1] * plan.dim[2] * plan.dim[3];
    for (size_t i = 0; i < count; i++) {
        double v = i < plan.values.size() ? plan.values[i] : 0.0;
        if (plan.datatype == 2) {
            data.push_back(static_cast<char>(static_cast<uint8_t>(v)));
        } else if (plan.datatype == 4) {
            int16_t s = static_cast<int16_t>(v);
            data.append(reinterpret_cast<const char *>(&s), 2);
        } else {
            float f = static_cast<float>(v);
            data.append(reinterpret_cast<const char *>(&f), 4);
        }
    }
    return data;
}

std::string Header_1(const Nifti_Plan &plan)
{
    std::string h(352, '\0');
    At<int32_t>(&h, 0, 348);
    int ndim = plan.dim[3] > 1 ? 4 : 3;
    At<int16_t>(&h, 40, static_cast<int16_t>(ndim));
    for (int i = 0; i < 4; i++)
        At<int16_t>(&h, 42 + 2 * i, static_cast<int16_t>(plan.dim[i]));
    for (int i = 4; i < 7; i++)
        At<int16_t>(&h, 42 + 2 * i, 1);
    At<int16_t>(&h, 70, static_cast<int16_t>(plan.datatype));
    At<int16_t>(&h, 72, static_cast<int16_t>(8 * Bytes_Per(plan.datatype)));
    At<float>(&h, 76, 1.0f);
    for (int i = 0; i < 3; i++) {
        double n = sqrt(plan.sform[0][i] * plan.sform[0][i] + plan.sform[1][i] * plan.sform[1][i] +
                        plan.sform[2][i] * plan.sform[2][i]);
        At<float>(&h, 80 + 4 * i, static_cast<float>(n));
    }
    At<float>(&h, 92, 1.0f);
    At<float>(&h, 108, 352.0f);
    At<float>(&h, 112, static_cast<float>(plan.slope));
    At<float>(&h, 116, static_cast<float>(plan.intercept));
    At<int16_t>(&h, 254, static_cast<int16_t>(plan.sform_code));
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++)
            At<float>(&h, 280 + 16 * r + 4 * c, static_cast<float>(plan.sform[r][c]));
    memcpy(&h[344], "n+1", 4);
    return h;
}

std::string Header_2(const Nifti_Plan &plan)
{
    std::string h(544, '\0');
    At<int32_t>(&h, 0, 540);
    memcpy(&h[4], "n+2\0\r\n\032\n", 8);
    At<int16_t>(&h, 12, static_cast<int16_t>(plan.datatype));
    At<int16_t>(&h, 14, static_cast<int16_t>(8 * Bytes_Per(plan.datatype)));
    int ndim = plan.dim[3] > 1 ? 4 : 3;
    At<int64_t>(&h, 16, ndim);
    for (int i = 0; i < 4; i++)
        At<int64_t>(&h, 24 + 8 * i, plan.dim[i]);
    for (int i = 4; i < 7; i++)
        At<int64_t>(&h, 24 + 8 * i, 1);
    At<double>(&h, 104, 1.0);
    for (int i = 0; i < 3; i++) {
        double n = sqrt(plan.sform[0][i] * plan.sform[0][i] + plan.sform[1][i] * plan.sform[1][i] +
                        plan.sform[2][i] * plan.sform[2][i]);
        At<double>(&h, 112 + 8 * i, n);
    }
    At<double>(&h, 136, 1.0);
    At<int64_t>(&h, 168, 544);
    At<double>(&h, 176, plan.slope);
    At<double>(&h, 184, plan.intercept);
    At<int32_t>(&h, 348, plan.sform_code);
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++)
            At<double>(&h, 400 + 32 * r + 8 * c, plan.sform[r][c]);
    return h;
}

} // namespace

bool Nifti_Write(const std::string &path, const Nifti_Plan &plan)
{
    std::string bytes = (plan.version == 2 ? Header_2(plan) : Header_1(plan)) + Data_Of(plan);
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

bool Png_Size(const std::string &path, int *width, int *height)
{
    std::string bytes = Text_Of(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
        return false;
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes.data());
    *width = (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
    *height = (b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23];
    return true;
}

Outcome Program(const std::string &arguments, const std::string &cwd)
{
    Temp_Folder folder;
    std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + "'" + AZ_BUILD_DIR + "/azozude' " +
                          arguments + " >'" + folder.File("out") + "' 2>'" + folder.File("err") + "' </dev/null";
    int status = system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text_Of(folder.File("out")), Text_Of(folder.File("err"))};
}
