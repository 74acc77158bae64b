/*
 * DICOM elements in and out of GDCM data sets: texts padded as DICOM
 * wants them, numbers, sequences, and the colours segments recommend.
 */
#include "az_dicom_items.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include <gdcmReader.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmUIDGenerator.h>

gdcm::Tag AzDcm_Tag_Of(uint32_t code) { return gdcm::Tag(static_cast<uint16_t>(code >> 16), static_cast<uint16_t>(code)); }

/* ---- Writing elements -------------------------------------------------- */

/* Texts are padded to an even length: UIDs with a zero byte, others with a blank. */
void AzDcm_Put(gdcm::DataSet *data, uint32_t code, gdcm::VR vr, const std::string &text)
{
    std::string value = text;
    if (value.size() % 2)
        value.push_back(vr == gdcm::VR::UI || vr == gdcm::VR::OB ? '\0' : ' ');
    gdcm::DataElement element(AzDcm_Tag_Of(code));
    element.SetVR(vr);
    element.SetByteValue(value.data(), static_cast<uint32_t>(value.size()));
    data->Replace(element);
}

void AzDcm_Put_US(gdcm::DataSet *data, uint32_t code, uint16_t value)
{
    char bytes[2] = {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
    gdcm::DataElement element(AzDcm_Tag_Of(code));
    element.SetVR(gdcm::VR::US);
    element.SetByteValue(bytes, 2);
    data->Replace(element);
}

/* An attribute tag as a value (AT). */
void AzDcm_Put_AT(gdcm::DataSet *data, uint32_t code, uint32_t value)
{
    char bytes[4] = {static_cast<char>((value >> 16) & 0xff), static_cast<char>(value >> 24),
                     static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff)};
    gdcm::DataElement element(AzDcm_Tag_Of(code));
    element.SetVR(gdcm::VR::AT);
    element.SetByteValue(bytes, 4);
    data->Replace(element);
}

void AzDcm_Put_Items(gdcm::DataSet *data, uint32_t code, const std::vector<gdcm::DataSet> &items)
{
    gdcm::SmartPointer<gdcm::SequenceOfItems> sequence = new gdcm::SequenceOfItems;
    sequence->SetLengthToUndefined();
    for (const gdcm::DataSet &nested : items) {
        gdcm::Item item;
        item.SetVLToUndefined();
        item.SetNestedDataSet(nested);
        sequence->AddItem(item);
    }
    gdcm::DataElement element(AzDcm_Tag_Of(code));
    element.SetVR(gdcm::VR::SQ);
    element.SetValue(*sequence);
    element.SetVLToUndefined();
    data->Replace(element);
}

void AzDcm_Put_Item(gdcm::DataSet *data, uint32_t code, const gdcm::DataSet &item)
{
    AzDcm_Put_Items(data, code, std::vector<gdcm::DataSet>(1, item));
}

/* A decimal string holds at most 16 characters: as many digits as fit. */
std::string AzDcm_Ds(double value)
{
    if (fabs(value) < 1e-9)
        value = 0.0;
    char text[32];
    for (int digits = 12; digits > 0; digits--) {
        snprintf(text, sizeof(text), "%.*g", digits, value);
        if (strlen(text) <= 16)
            break;
    }
    return text;
}

std::string AzDcm_Ds_List(const double *values, int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += (i ? "\\" : "") + AzDcm_Ds(values[i]);
    return text;
}

std::string AzDcm_Uid_New(void)
{
    gdcm::UIDGenerator generator;
    return generator.Generate();
}

/* Today's date and the time, as DICOM writes them. */
void AzDcm_Now(std::string *date, std::string *clock)
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof(text), "%Y%m%d", &local);
    *date = text;
    strftime(text, sizeof(text), "%H%M%S", &local);
    *clock = text;
}

/* ---- Reading elements -------------------------------------------------- */

std::string AzDcm_Text(const gdcm::DataSet &data, uint32_t code)
{
    gdcm::Tag tag = AzDcm_Tag_Of(code);
    if (!data.FindDataElement(tag))
        return std::string();
    const gdcm::ByteValue *bytes = data.GetDataElement(tag).GetByteValue();
    if (!bytes || !bytes->GetPointer())
        return std::string();
    std::string text(bytes->GetPointer(), bytes->GetLength());
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

/* Up to count numbers of a decimal or integer string; how many were read. */
int AzDcm_Numbers(const gdcm::DataSet &data, uint32_t code, double *values, int count)
{
    std::string text = AzDcm_Text(data, code);
    const char *cursor = text.c_str();
    int read_nb = 0;
    while (read_nb < count && *cursor) {
        char *end = nullptr;
        values[read_nb] = strtod(cursor, &end);
        if (end == cursor)
            break;
        read_nb++;
        cursor = *end == '\\' ? end + 1 : end;
    }
    return read_nb;
}

/* count unsigned 16-bit values; 0 when fewer are stored. */
int AzDcm_Unsigned_16_List(const gdcm::DataSet &data, uint32_t code, double *values, int count)
{
    gdcm::Tag tag = AzDcm_Tag_Of(code);
    if (!data.FindDataElement(tag))
        return 0;
    const gdcm::ByteValue *bytes = data.GetDataElement(tag).GetByteValue();
    if (!bytes || bytes->GetLength() < static_cast<uint32_t>(2 * count))
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes->GetPointer());
    for (int i = 0; i < count; i++)
        values[i] = p[2 * i] | (p[2 * i + 1] << 8);
    return 1;
}

int AzDcm_Unsigned_16(const gdcm::DataSet &data, uint32_t code, int *value)
{
    double number;
    if (!AzDcm_Unsigned_16_List(data, code, &number, 1))
        return 0;
    *value = static_cast<int>(number);
    return 1;
}

/* Item i (from 0) of a sequence, or null. */
const gdcm::DataSet *AzDcm_Item_Of(const gdcm::DataSet &data, uint32_t code, size_t i)
{
    gdcm::Tag tag = AzDcm_Tag_Of(code);
    if (!data.FindDataElement(tag))
        return nullptr;
    gdcm::SmartPointer<gdcm::SequenceOfItems> sequence = data.GetDataElement(tag).GetValueAsSQ();
    if (!sequence || i >= sequence->GetNumberOfItems())
        return nullptr;
    return &sequence->GetItem(i + 1).GetNestedDataSet();
}

size_t AzDcm_Items_Count(const gdcm::DataSet &data, uint32_t code)
{
    gdcm::Tag tag = AzDcm_Tag_Of(code);
    if (!data.FindDataElement(tag))
        return 0;
    gdcm::SmartPointer<gdcm::SequenceOfItems> sequence = data.GetDataElement(tag).GetValueAsSQ();
    return sequence ? sequence->GetNumberOfItems() : 0;
}

int AzDcm_Child_Survives(const std::function<void()> &read)
{
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        return 1; // cannot test: read it and hope
    if (child == 0) {
        int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0)
            dup2(null_fd, 2);
        read();
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR)
        continue;
    // A failed assertion, an exception that escaped or an allocation refused all end it otherwise.
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int AzDcm_Read_Survives(const std::string &file)
{
    return AzDcm_Child_Survives([&file]() {
        gdcm::Reader reader;
        reader.SetFileName(file.c_str());
        reader.Read();
    });
}

int AzDcm_Header_Read(const std::string &file, gdcm::DataSet *header)
{
    gdcm::Reader reader;
    reader.SetFileName(file.c_str());
    std::set<gdcm::Tag> skip;
    skip.insert(gdcm::Tag(0x7fe0, 0x0010));
    if (!reader.ReadUpToTag(gdcm::Tag(0x7fe0, 0x0010), skip))
        return 0;
    *header = reader.GetFile().GetDataSet();
    return !AzDcm_Text(*header, 0x00080018).empty();
}

namespace {

/* Colours as DICOM recommends them: CIELab (D50), scaled to 16 bits. */
const double srgb_to_xyz[3][3] = {{0.4360747, 0.3850649, 0.1430804},
                                  {0.2225045, 0.7168786, 0.0606169},
                                  {0.0139322, 0.0971045, 0.7141733}};
const double xyz_to_srgb[3][3] = {{3.1338561, -1.6168667, -0.4906146},
                                  {-0.9787684, 1.9161415, 0.0334540},
                                  {0.0719453, -0.2289914, 1.4052427}};
const double white_d50[3] = {0.9642, 1.0, 0.8249};

double Lab_F(double t) { return t > 216.0 / 24389.0 ? cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0; }
double Lab_F_Inverse(double f) { return f * f * f > 216.0 / 24389.0 ? f * f * f : (116.0 * f - 16.0) * 27.0 / 24389.0; }

} // namespace

void AzDcm_Lab_From_Rgb(const unsigned char rgb[3], uint16_t lab[3])
{
    double linear[3], xyz[3];
    for (int c = 0; c < 3; c++) {
        double v = rgb[c] / 255.0;
        linear[c] = v <= 0.04045 ? v / 12.92 : pow((v + 0.055) / 1.055, 2.4);
    }
    for (int r = 0; r < 3; r++)
        xyz[r] = (srgb_to_xyz[r][0] * linear[0] + srgb_to_xyz[r][1] * linear[1] + srgb_to_xyz[r][2] * linear[2]) /
                 white_d50[r];
    double l = 116.0 * Lab_F(xyz[1]) - 16.0;
    double a = 500.0 * (Lab_F(xyz[0]) - Lab_F(xyz[1]));
    double b = 200.0 * (Lab_F(xyz[1]) - Lab_F(xyz[2]));
    lab[0] = static_cast<uint16_t>(lround(std::min(100.0, std::max(0.0, l)) * 65535.0 / 100.0));
    lab[1] = static_cast<uint16_t>(lround(std::min(255.0, std::max(0.0, a + 128.0)) * 65535.0 / 255.0));
    lab[2] = static_cast<uint16_t>(lround(std::min(255.0, std::max(0.0, b + 128.0)) * 65535.0 / 255.0));
}

void AzDcm_Rgb_From_Lab(const double lab_scaled[3], unsigned char rgb[3])
{
    double l = lab_scaled[0] * 100.0 / 65535.0;
    double a = lab_scaled[1] * 255.0 / 65535.0 - 128.0;
    double b = lab_scaled[2] * 255.0 / 65535.0 - 128.0;
    double fy = (l + 16.0) / 116.0;
    double xyz[3] = {Lab_F_Inverse(fy + a / 500.0) * white_d50[0], Lab_F_Inverse(fy) * white_d50[1],
                     Lab_F_Inverse(fy - b / 200.0) * white_d50[2]};
    for (int r = 0; r < 3; r++) {
        double v = xyz_to_srgb[r][0] * xyz[0] + xyz_to_srgb[r][1] * xyz[1] + xyz_to_srgb[r][2] * xyz[2];
        v = v <= 0.0031308 ? 12.92 * v : 1.055 * pow(v, 1.0 / 2.4) - 0.055;
        rgb[r] = static_cast<unsigned char>(lround(std::min(1.0, std::max(0.0, v)) * 255.0));
    }
}
