/*
 * Derived DICOM series and segmentations, written with GDCM.
 */
#include "az_dicom_write.h"

#include <dirent.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include <gdcmReader.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmTrace.h>
#include <gdcmUIDGenerator.h>
#include <gdcmWriter.h>

#include "../../hostlib/structures/az_gl.h"
#include "az_export.h"

namespace {

const char sop_ct[] = "1.2.840.10008.5.1.4.1.1.2";
const char sop_mr[] = "1.2.840.10008.5.1.4.1.1.4";
const char sop_seg[] = "1.2.840.10008.5.1.4.1.1.66.4";
const char manufacturer[] = "RUD";
const char model_name[] = "Azozude";
const char software_version[] = "azozude 1";
/* Derived series are numbered after their source. */
const int series_number_oblique = 1000;
const int series_number_tags = 2000;

gdcm::Tag Tag_Of(uint32_t code) { return gdcm::Tag(static_cast<uint16_t>(code >> 16), static_cast<uint16_t>(code)); }

/* ---- Writing elements -------------------------------------------------- */

/* Texts are padded to an even length: UIDs with a zero byte, others with a blank. */
void Put(gdcm::DataSet *data, uint32_t code, gdcm::VR vr, const std::string &text)
{
    std::string value = text;
    if (value.size() % 2)
        value.push_back(vr == gdcm::VR::UI || vr == gdcm::VR::OB ? '\0' : ' ');
    gdcm::DataElement element(Tag_Of(code));
    element.SetVR(vr);
    element.SetByteValue(value.data(), static_cast<uint32_t>(value.size()));
    data->Replace(element);
}

void Put_US(gdcm::DataSet *data, uint32_t code, uint16_t value)
{
    char bytes[2] = {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
    gdcm::DataElement element(Tag_Of(code));
    element.SetVR(gdcm::VR::US);
    element.SetByteValue(bytes, 2);
    data->Replace(element);
}

/* An attribute tag as a value (AT). */
void Put_AT(gdcm::DataSet *data, uint32_t code, uint32_t value)
{
    char bytes[4] = {static_cast<char>((value >> 16) & 0xff), static_cast<char>(value >> 24),
                     static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff)};
    gdcm::DataElement element(Tag_Of(code));
    element.SetVR(gdcm::VR::AT);
    element.SetByteValue(bytes, 4);
    data->Replace(element);
}

void Put_Items(gdcm::DataSet *data, uint32_t code, const std::vector<gdcm::DataSet> &items)
{
    gdcm::SmartPointer<gdcm::SequenceOfItems> sequence = new gdcm::SequenceOfItems;
    sequence->SetLengthToUndefined();
    for (const gdcm::DataSet &nested : items) {
        gdcm::Item item;
        item.SetVLToUndefined();
        item.SetNestedDataSet(nested);
        sequence->AddItem(item);
    }
    gdcm::DataElement element(Tag_Of(code));
    element.SetVR(gdcm::VR::SQ);
    element.SetValue(*sequence);
    element.SetVLToUndefined();
    data->Replace(element);
}

void Put_Item(gdcm::DataSet *data, uint32_t code, const gdcm::DataSet &item)
{
    Put_Items(data, code, std::vector<gdcm::DataSet>(1, item));
}

/* A decimal string holds at most 16 characters: as many digits as fit. */
std::string Ds(double value)
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

std::string Ds_List(const double *values, int count)
{
    std::string text;
    for (int i = 0; i < count; i++)
        text += (i ? "\\" : "") + Ds(values[i]);
    return text;
}

std::string Uid_New(void)
{
    gdcm::UIDGenerator generator;
    return generator.Generate();
}

/* Today's date and the time, as DICOM writes them. */
void Now(std::string *date, std::string *clock)
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

std::string Text(const gdcm::DataSet &data, uint32_t code)
{
    gdcm::Tag tag = Tag_Of(code);
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
int Numbers(const gdcm::DataSet &data, uint32_t code, double *values, int count)
{
    std::string text = Text(data, code);
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
int Unsigned_16_List(const gdcm::DataSet &data, uint32_t code, double *values, int count)
{
    gdcm::Tag tag = Tag_Of(code);
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

int Unsigned_16(const gdcm::DataSet &data, uint32_t code, int *value)
{
    double number;
    if (!Unsigned_16_List(data, code, &number, 1))
        return 0;
    *value = static_cast<int>(number);
    return 1;
}

/* Item i (from 0) of a sequence, or null. */
const gdcm::DataSet *Item_Of(const gdcm::DataSet &data, uint32_t code, size_t i)
{
    gdcm::Tag tag = Tag_Of(code);
    if (!data.FindDataElement(tag))
        return nullptr;
    gdcm::SmartPointer<gdcm::SequenceOfItems> sequence = data.GetDataElement(tag).GetValueAsSQ();
    if (!sequence || i >= sequence->GetNumberOfItems())
        return nullptr;
    return &sequence->GetItem(i + 1).GetNestedDataSet();
}

size_t Items_Count(const gdcm::DataSet &data, uint32_t code)
{
    gdcm::Tag tag = Tag_Of(code);
    if (!data.FindDataElement(tag))
        return 0;
    gdcm::SmartPointer<gdcm::SequenceOfItems> sequence = data.GetDataElement(tag).GetValueAsSQ();
    return sequence ? sequence->GetNumberOfItems() : 0;
}

/* ---- The source ---------------------------------------------------------- */

/* A source image a segmentation frame refers to. */
struct Source_Image {
    std::string sop_class, sop_instance;
    int frame_number;          /* 0: a single-frame file */
};

/* What derived objects take from the study they come from. */
struct Source {
    int from_dicom = 0;
    gdcm::DataSet header;      /* the first source file's attributes (no pixels) */
    std::string study_uid, frame_uid, series_uid, modality;
    int series_number = 0;
    std::vector<Source_Image> images; /* per Original frame, when from DICOM */
};

int Header_Read(const std::string &file, gdcm::DataSet *header)
{
    gdcm::Reader reader;
    reader.SetFileName(file.c_str());
    std::set<gdcm::Tag> skip;
    skip.insert(gdcm::Tag(0x7fe0, 0x0010));
    if (!reader.ReadUpToTag(gdcm::Tag(0x7fe0, 0x0010), skip))
        return 0;
    *header = reader.GetFile().GetDataSet();
    return !Text(*header, 0x00080018).empty();
}

int Source_Read(const AzLoaded_Study &study, Source *source)
{
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
    if (study.frame_files.empty() || !Header_Read(study.frame_files[0], &source->header))
        return 0;
    source->from_dicom = 1;
    source->study_uid = Text(source->header, 0x0020000d);
    source->frame_uid = Text(source->header, 0x00200052);
    source->series_uid = Text(source->header, 0x0020000e);
    source->modality = Text(source->header, 0x00080060);
    double number = 0.0;
    if (Numbers(source->header, 0x00200011, &number, 1) == 1)
        source->series_number = static_cast<int>(number);
    return 1;
}

/* Patient, study and frame of reference as the source has them; a
 * missing identifier gets a new one, so an incomplete source still
 * writes. */
void Source_Copy(const Source &source, gdcm::DataSet *data)
{
    static const uint32_t study_codes[] = {0x00080005, 0x00080020, 0x00080030, 0x00080050, 0x00080090,
                                           0x00081030, 0x00200010, 0x00201040, 0x00200060, 0x00180015};
    for (const gdcm::DataElement &element : source.header.GetDES())
        if (element.GetTag().GetGroup() == 0x0010)
            data->Replace(element);
    for (uint32_t code : study_codes)
        if (source.header.FindDataElement(Tag_Of(code)))
            data->Replace(source.header.GetDataElement(Tag_Of(code)));
}

/* A study of its own for a source without DICOM attributes. */
void Placeholders_Set(const AzLoaded_Study &study, Source *source)
{
    source->study_uid = Uid_New();
    source->frame_uid = Uid_New();
    std::string date, clock;
    Now(&date, &clock);
    gdcm::DataSet &data = source->header;
    Put(&data, 0x00100010, gdcm::VR::PN, AZ_DICOM_PLACEHOLDER_PATIENT_NAME);
    Put(&data, 0x00100020, gdcm::VR::LO, AZ_DICOM_PLACEHOLDER_PATIENT_ID);
    Put(&data, 0x00100030, gdcm::VR::DA, "");
    Put(&data, 0x00100040, gdcm::VR::CS, "");
    Put(&data, 0x00080020, gdcm::VR::DA, date);
    Put(&data, 0x00080030, gdcm::VR::TM, clock);
    Put(&data, 0x00080050, gdcm::VR::SH, "");
    Put(&data, 0x00080090, gdcm::VR::PN, "");
    Put(&data, 0x00200010, gdcm::VR::SH, "");
    Put(&data, 0x00081030, gdcm::VR::LO, std::string("from ") + AzPath_Base_Name(study.source, nullptr).substr(0, 59));
}

void Source_Get(const AzLoaded_Study &study, Source *source)
{
    if (!Source_Read(study, source))
        Placeholders_Set(study, source);
    // An identifier the source lacks is made, never left empty.
    if (source->study_uid.empty())
        source->study_uid = Uid_New();
    if (source->frame_uid.empty())
        source->frame_uid = Uid_New();
}

/* The series-level attributes every derived object carries. */
void Series_Set(const Source &source, const std::string &modality, int number, const std::string &description,
                gdcm::DataSet *data)
{
    std::string date, clock;
    Now(&date, &clock);
    Source_Copy(source, data);
    Put(data, 0x0020000d, gdcm::VR::UI, source.study_uid);
    Put(data, 0x00200052, gdcm::VR::UI, source.frame_uid);
    if (!data->FindDataElement(Tag_Of(0x00201040)))
        Put(data, 0x00201040, gdcm::VR::LO, "");
    for (uint32_t code : {0x00100010u, 0x00100020u, 0x00100030u, 0x00100040u, 0x00080020u, 0x00080030u,
                          0x00080050u, 0x00080090u, 0x00200010u})
        if (!data->FindDataElement(Tag_Of(code))) {
            static const std::map<uint32_t, gdcm::VR> vrs = {
                {0x00100010, gdcm::VR::PN}, {0x00100020, gdcm::VR::LO}, {0x00100030, gdcm::VR::DA},
                {0x00100040, gdcm::VR::CS}, {0x00080020, gdcm::VR::DA}, {0x00080030, gdcm::VR::TM},
                {0x00080050, gdcm::VR::SH}, {0x00080090, gdcm::VR::PN}, {0x00200010, gdcm::VR::SH}};
            Put(data, code, vrs.at(code), "");
        }
    Put(data, 0x00080060, gdcm::VR::CS, modality);
    Put(data, 0x00200011, gdcm::VR::IS, std::to_string(number));
    Put(data, 0x0008103e, gdcm::VR::LO, description.substr(0, 64));
    Put(data, 0x00080021, gdcm::VR::DA, date);
    Put(data, 0x00080031, gdcm::VR::TM, clock);
    Put(data, 0x00080023, gdcm::VR::DA, date);
    Put(data, 0x00080033, gdcm::VR::TM, clock);
    Put(data, 0x00080070, gdcm::VR::LO, manufacturer);
    Put(data, 0x00081090, gdcm::VR::LO, model_name);
    Put(data, 0x00181020, gdcm::VR::LO, software_version);
}

/* ---- Geometry ------------------------------------------------------------ */

/* A direction's geometry as DICOM states it, from the export's affine. */
struct Plane_Geometry {
    AzVec3 row, col, normal;   /* unit vectors; col made exactly perpendicular to row */
    double spacing[3];         /* column step, row step, slice step (mm) */
    AzVec3 origin, step;       /* pixel (0, 0) of slice 0; from one slice to the next */
};

Plane_Geometry Geometry_Of(const AzVolume &volume)
{
    AzVec3 axes[4];
    for (int c = 0; c < 4; c++)
        axes[c] = {volume.affine[0][c], volume.affine[1][c], volume.affine[2][c]};
    // The fitted axes of a re-sliced direction may be a little skewed; DICOM
    // states perpendicular ones: the pair nearest the fit, turned apart evenly.
    AzVec3 u = AzVec3_Unit(axes[0]), v = AzVec3_Unit(axes[1]);
    AzVec3 sum = AzVec3_Unit(AzVec3_Add(u, v)), difference = AzVec3_Unit(AzVec3_Sub(u, v));
    Plane_Geometry g;
    g.row = AzVec3_Unit(AzVec3_Add(sum, difference));
    g.col = AzVec3_Unit(AzVec3_Sub(sum, difference));
    g.normal = AzVec3_Cross(g.row, g.col);
    for (int i = 0; i < 3; i++)
        g.spacing[i] = AzVec3_Norm(axes[i]);
    g.origin = axes[3];
    g.step = axes[2];
    return g;
}

AzVec3 Slice_Position(const Plane_Geometry &g, int k) { return AzVec3_Add(g.origin, AzVec3_Scale(g.step, k)); }

void Position_Put(gdcm::DataSet *data, AzVec3 position)
{
    const double values[3] = {position.x, position.y, position.z};
    Put(data, 0x00200032, gdcm::VR::DS, Ds_List(values, 3));
}

void Orientation_Put(gdcm::DataSet *data, const Plane_Geometry &g)
{
    const double cosines[6] = {g.row.x, g.row.y, g.row.z, g.col.x, g.col.y, g.col.z};
    Put(data, 0x00200037, gdcm::VR::DS, Ds_List(cosines, 6));
}

/* Pixel Spacing is the step between rows first, then between columns. */
void Spacing_Put(gdcm::DataSet *data, const Plane_Geometry &g)
{
    const double spacing[2] = {g.spacing[1], g.spacing[0]};
    Put(data, 0x00280030, gdcm::VR::DS, Ds_List(spacing, 2));
    Put(data, 0x00180050, gdcm::VR::DS, Ds(g.spacing[2]));
}

/* ---- Files and folders --------------------------------------------------- */

std::string Errno_Text(void) { return strerror(errno ? errno : EIO); }

int Folder_Make(const std::string &folder, std::string *error)
{
    struct stat info;
    if (mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
        return 1;
    *error = folder + ": cannot create the folder: " + Errno_Text();
    return 0;
}

/* Removes a folder of files (one level). */
void Folder_Remove(const std::string &folder)
{
    if (DIR *dir = opendir(folder.c_str())) {
        while (struct dirent *entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                unlink((folder + "/" + entry->d_name).c_str());
        closedir(dir);
    }
    rmdir(folder.c_str());
}

std::string Hidden_Name(const std::string &path, const char *what)
{
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + what + std::to_string(static_cast<long>(getpid()));
}

int Data_Write(const gdcm::DataSet &data, const std::string &path, std::string *error)
{
    gdcm::Writer writer;
    writer.SetFileName(path.c_str());
    writer.GetFile().GetHeader().SetDataSetTransferSyntax(gdcm::TransferSyntax::ExplicitVRLittleEndian);
    writer.GetFile().SetDataSet(data);
    if (writer.Write())
        return 1;
    *error = path + ": cannot write: " + Errno_Text();
    return 0;
}

/* The file at its name only once it is complete. */
int File_Commit(const gdcm::DataSet &data, const std::string &path, std::string *error)
{
    std::string temporary = Hidden_Name(path, ".part");
    errno = 0;
    if (!Data_Write(data, temporary, error)) {
        unlink(temporary.c_str());
        *error = path + ": cannot write: " + Errno_Text();
        return 0;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": cannot write: " + Errno_Text();
        unlink(temporary.c_str());
        return 0;
    }
    return 1;
}

/* A complete folder in place of the old one. */
int Folder_Commit(const std::string &temporary, const std::string &folder, std::string *error)
{
    std::string old = Hidden_Name(folder, ".old");
    struct stat info;
    int had_old = stat(folder.c_str(), &info) == 0;
    if (had_old && rename(folder.c_str(), old.c_str()) != 0) {
        *error = folder + ": cannot replace: " + Errno_Text();
        return 0;
    }
    if (rename(temporary.c_str(), folder.c_str()) != 0) {
        *error = folder + ": cannot write: " + Errno_Text();
        if (had_old)
            rename(old.c_str(), folder.c_str());
        return 0;
    }
    if (had_old)
        Folder_Remove(old);
    return 1;
}

/* ---- The derived series -------------------------------------------------- */

/* The modality-specific attributes of the image kind written: CT images
 * keep their rescale; MR images need their sequence attributes, taken
 * from the source or stated as unknown. */
void Modality_Set(const Source &source, int is_ct, gdcm::DataSet *data)
{
    struct Copied {
        uint32_t code;
        gdcm::VR::VRType vr;
        const char *absent;     /* the value when the source has none */
    };
    static const Copied ct[] = {{0x00180060, gdcm::VR::DS, ""}, {0x00200012, gdcm::VR::IS, ""},
                                {0x00185100, gdcm::VR::CS, ""}};
    static const Copied mr[] = {
        {0x00180020, gdcm::VR::CS, "RM"}, {0x00180021, gdcm::VR::CS, "NONE"}, {0x00180022, gdcm::VR::CS, ""},
        {0x00180023, gdcm::VR::CS, ""},   {0x00180080, gdcm::VR::DS, ""},     {0x00180081, gdcm::VR::DS, ""},
        {0x00180091, gdcm::VR::IS, ""},   {0x00180082, gdcm::VR::DS, nullptr}, {0x00180087, gdcm::VR::DS, ""},
        {0x00185100, gdcm::VR::CS, ""}};
    const Copied *list = is_ct ? ct : mr;
    size_t count = is_ct ? sizeof(ct) / sizeof(ct[0]) : sizeof(mr) / sizeof(mr[0]);
    for (size_t i = 0; i < count; i++) {
        gdcm::Tag tag = Tag_Of(list[i].code);
        if (source.from_dicom && source.header.FindDataElement(tag) && !Text(source.header, list[i].code).empty())
            data->Replace(source.header.GetDataElement(tag));
        else if (list[i].absent) // null: only with the sequence that needs it, which the source then has
            Put(data, list[i].code, list[i].vr, list[i].absent);
    }
}

/* The study's rescale: the grey levels are stored values in its terms.
 * Studies that enter the database already rescaled carry 1 and 0. */
void Rescale_Get(const AzLoaded_Study &study, double *slope, double *intercept)
{
    *slope = 1.0;
    *intercept = 0.0;
    if (study.file && study.file->images_nb > 0 && study.file->images[0]->rescale_slope != 0.0f) {
        *slope = study.file->images[0]->rescale_slope;
        *intercept = study.file->images[0]->rescale_intercept;
    }
}

void Window_Put(const AzVolume &volume, gdcm::DataSet *data)
{
    if (volume.display_mode != AZ_DISPLAY_MIN_MAX || volume.display_high <= volume.display_low)
        return;
    Put(data, 0x00281050, gdcm::VR::DS, Ds((volume.display_high + volume.display_low) / 2.0));
    Put(data, 0x00281051, gdcm::VR::DS, Ds(volume.display_high - volume.display_low));
}

/* What every image of the series shares. */
gdcm::DataSet Series_Common(const AzLoaded_Study &study, const Source &source, const AzVolume &volume,
                            const Plane_Geometry &g, const std::string &description)
{
    int is_ct = source.modality == "CT";
    gdcm::DataSet data;
    Series_Set(source, is_ct ? "CT" : "MR", series_number_oblique + source.series_number, description, &data);
    Put(&data, 0x00080016, gdcm::VR::UI, is_ct ? sop_ct : sop_mr);
    Put(&data, 0x0020000e, gdcm::VR::UI, Uid_New());
    Put(&data, 0x00080008, gdcm::VR::CS, "DERIVED\\SECONDARY\\REFORMATTED");
    Put(&data, 0x00082111, gdcm::VR::ST, description);
    // Images must state a laterality, unknown when the source has none.
    if (!data.FindDataElement(Tag_Of(0x00200060)))
        Put(&data, 0x00200060, gdcm::VR::CS, "");
    Modality_Set(source, is_ct, &data);
    Orientation_Put(&data, g);
    Spacing_Put(&data, g);
    if (!is_ct)
        Put(&data, 0x00180088, gdcm::VR::DS, Ds(g.spacing[2]));
    Put_US(&data, 0x00280002, 1);
    Put(&data, 0x00280004, gdcm::VR::CS, "MONOCHROME2");
    Put_US(&data, 0x00280010, static_cast<uint16_t>(volume.height));
    Put_US(&data, 0x00280011, static_cast<uint16_t>(volume.width));
    Put_US(&data, 0x00280100, 16);
    Put_US(&data, 0x00280101, 16);
    Put_US(&data, 0x00280102, 15);
    Put_US(&data, 0x00280103, 1);
    double slope, intercept;
    Rescale_Get(study, &slope, &intercept);
    // MR images state no rescale unless they need one.
    if (is_ct || slope != 1.0 || intercept != 0.0) {
        Put(&data, 0x00281052, gdcm::VR::DS, Ds(intercept));
        Put(&data, 0x00281053, gdcm::VR::DS, Ds(slope));
        if (is_ct)
            Put(&data, 0x00281054, gdcm::VR::LO, "HU");
    }
    Window_Put(volume, &data);
    return data;
}

void Slice_Set(const AzVolume &volume, const Plane_Geometry &g, int k, int16_t outside, gdcm::DataSet *data)
{
    Put(data, 0x00080018, gdcm::VR::UI, Uid_New());
    Put(data, 0x00200013, gdcm::VR::IS, std::to_string(k + 1));
    AzVec3 position = Slice_Position(g, k);
    Position_Put(data, position);
    Put(data, 0x00201041, gdcm::VR::DS, Ds(AzVec3_Dot(position, g.normal)));
    size_t plane = static_cast<size_t>(volume.width) * volume.height;
    std::string pixels(plane * 2, '\0');
    for (size_t i = 0; i < plane; i++) {
        int32_t value = volume.gli[static_cast<size_t>(k) * plane + i];
        int16_t grey = value == AZ_GLI_INVALID ? outside
                                               : static_cast<int16_t>(std::min(32767, std::max(-32768, value)));
        pixels[2 * i] = static_cast<char>(grey & 0xff);
        pixels[2 * i + 1] = static_cast<char>((grey >> 8) & 0xff);
    }
    Put(data, 0x7fe00010, gdcm::VR::OW, pixels);
}

/* DICOM output states what the scanner measured in that modality's terms;
 * a modality other than CT or MR would be misstated as one of them. */
int Modality_Writable(const Source &source, std::string *error)
{
    if (!source.from_dicom || source.modality == "CT" || source.modality == "MR")
        return 1;
    *error = "DICOM output is written for CT and MR studies only, not for modality \"" + source.modality + "\"";
    return 0;
}

/* The frames of direction as a derived series in folder (replaced whole
 * when it exists; untouched on failure). */
int Series_Write(const AzLoaded_Study &study, const Source &source, Kelvra_Class *direction,
                 const std::string &folder, const std::string &description, std::string *error)
{
    if (!Modality_Writable(source, error))
        return 0;
    AzVolume volume;
    if (!AzVolume_From_Class(direction, &volume, error))
        return 0;
    if (volume.width > 65535 || volume.height > 65535) {
        *error = folder + ": frames too large for DICOM images";
        return 0;
    }
    Plane_Geometry g = Geometry_Of(volume);
    gdcm::DataSet common = Series_Common(study, source, volume, g, description);
    int16_t outside = AzVolume_Grey_Outside(volume);
    std::string temporary = Hidden_Name(folder, ".part");
    Folder_Remove(temporary);
    if (!Folder_Make(temporary, error))
        return 0;
    AzProgress progress;
    AzProgress_Start(&progress, "writing " + folder, volume.depth >= 64 ? volume.depth : 0);
    for (int k = 0; k < volume.depth; k++) {
        gdcm::DataSet slice = common;
        Slice_Set(volume, g, k, outside, &slice);
        char name[32];
        snprintf(name, sizeof(name), "/IM%05d.dcm", k + 1);
        errno = 0;
        if (!Data_Write(slice, temporary + name, error)) {
            *error = folder + ": cannot write: " + Errno_Text();
            Folder_Remove(temporary);
            return 0;
        }
        AzProgress_Step(&progress, k + 1);
    }
    if (!Folder_Commit(temporary, folder, error)) {
        Folder_Remove(temporary);
        return 0;
    }
    return 1;
}

} // namespace

std::vector<AzDicom_Segment> AzDicom_Segments_Of(const std::vector<uint8_t> &tags,
                                                 const std::vector<std::string> &names)
{
    int used[256] = {0};
    for (uint8_t tag : tags)
        used[tag] = 1;
    const uint16_t *red = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_RED", nullptr, nullptr, nullptr));
    const uint16_t *green = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_GRN", nullptr, nullptr, nullptr));
    const uint16_t *blue = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_BLU", nullptr, nullptr, nullptr));
    std::vector<AzDicom_Segment> segments;
    for (int tag = 1; tag < 256; tag++) {
        if (!used[tag])
            continue;
        AzDicom_Segment segment;
        segment.tag = tag;
        segment.value = tag;
        segment.name = static_cast<size_t>(tag) < names.size() ? names[tag] : std::string();
        segment.has_colour = red && green && blue;
        if (segment.has_colour) {
            segment.rgb[0] = static_cast<unsigned char>(red[tag] >> 8);
            segment.rgb[1] = static_cast<unsigned char>(green[tag] >> 8);
            segment.rgb[2] = static_cast<unsigned char>(blue[tag] >> 8);
        }
        segments.push_back(segment);
    }
    return segments;
}

namespace {

/* ---- The segmentation ---------------------------------------------------- */

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

void Lab_From_Rgb(const unsigned char rgb[3], uint16_t lab[3])
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

void Rgb_From_Lab(const double lab_scaled[3], unsigned char rgb[3])
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

gdcm::DataSet Code_Item(const char *value, const char *scheme, const char *meaning)
{
    gdcm::DataSet item;
    Put(&item, 0x00080100, gdcm::VR::SH, value);
    Put(&item, 0x00080102, gdcm::VR::SH, scheme);
    Put(&item, 0x00080104, gdcm::VR::LO, meaning);
    return item;
}

/* The label a segment is known by: its name, else its value. */
std::string Segment_Label(const AzDicom_Segment &segment)
{
    return segment.name.empty() ? "label " + std::to_string(segment.value) : segment.name.substr(0, 64);
}

gdcm::DataSet Segment_Item(const AzDicom_Segment &segment, int number)
{
    gdcm::DataSet item;
    Put_US(&item, 0x00620004, static_cast<uint16_t>(number));
    Put(&item, 0x00620005, gdcm::VR::LO, Segment_Label(segment));
    // The label's own value, so that it comes back as the same tag.
    Put(&item, 0x00620006, gdcm::VR::ST, "label " + std::to_string(segment.value));
    Put(&item, 0x00620008, gdcm::VR::CS, "MANUAL");
    Put_Item(&item, 0x00620003, Code_Item("85756007", "SCT", "Tissue"));
    Put_Item(&item, 0x0062000f, Code_Item("85756007", "SCT", "Tissue"));
    if (segment.has_colour) {
        uint16_t lab[3];
        Lab_From_Rgb(segment.rgb, lab);
        std::string bytes;
        for (uint16_t v : lab) {
            bytes.push_back(static_cast<char>(v & 0xff));
            bytes.push_back(static_cast<char>(v >> 8));
        }
        gdcm::DataElement element(gdcm::Tag(0x0062, 0x000d));
        element.SetVR(gdcm::VR::US);
        element.SetByteValue(bytes.data(), static_cast<uint32_t>(bytes.size()));
        item.Replace(element);
    }
    return item;
}

/* The source images of the Original direction's frames, in their order:
 * frames of one multi-frame file follow each other along its normal. */
void Source_Images_Get(const AzLoaded_Study &study, const std::vector<const Vexa_Image *> &keys, Source *source)
{
    std::map<const Vexa_Image *, size_t> index_of;
    for (int i = 0; study.file && i < study.file->images_nb; i++)
        index_of[study.file->images[i]] = static_cast<size_t>(i);
    std::map<std::string, Source_Image> by_file;
    std::map<std::string, int> frames_of, seen;
    for (const Vexa_Image *key : keys) {
        auto found = index_of.find(key);
        std::string file = found != index_of.end() && found->second < study.frame_files.size()
                               ? study.frame_files[found->second]
                               : std::string(key->file_name);
        if (!by_file.count(file)) {
            gdcm::DataSet header;
            Source_Image image = {};
            double frames = 1.0;
            if (Header_Read(file, &header)) {
                image.sop_class = Text(header, 0x00080016);
                image.sop_instance = Text(header, 0x00080018);
                frames_of[file] = Numbers(header, 0x00280008, &frames, 1) == 1 ? static_cast<int>(frames) : 1;
            }
            by_file[file] = image;
        }
        Source_Image image = by_file[file];
        image.frame_number = frames_of[file] > 1 ? ++seen[file] : 0;
        source->images.push_back(image);
    }
}

/* The keys of a class's frames at its first time point, in child order
 * (the export's slice order). */
std::vector<const Vexa_Image *> Frame_Keys(Kelvra_Class *cls)
{
    int first_t = -1;
    for (int i = 0; i < cls->Child_Get_Nb(); i++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(i));
        if (frame && frame->t >= 0 && (first_t < 0 || frame->t < first_t))
            first_t = frame->t;
    }
    std::vector<const Vexa_Image *> keys;
    for (int i = 0; i < cls->Child_Get_Nb(); i++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(i));
        if (frame && frame->t == first_t)
            keys.push_back(frame->key);
    }
    return keys;
}

gdcm::DataSet Derivation_Item(const Source_Image &image)
{
    gdcm::DataSet reference;
    Put(&reference, 0x00081150, gdcm::VR::UI, image.sop_class);
    Put(&reference, 0x00081155, gdcm::VR::UI, image.sop_instance);
    if (image.frame_number > 0)
        Put(&reference, 0x00081160, gdcm::VR::IS, std::to_string(image.frame_number));
    Put_Item(&reference, 0x0040a170, Code_Item("121322", "DCM", "Source image for image processing operation"));
    gdcm::DataSet derivation;
    Put_Item(&derivation, 0x00089215, Code_Item("113076", "DCM", "Segmentation"));
    Put_Item(&derivation, 0x00082112, reference);
    return derivation;
}

/* The source series and its instances, once each. */
void References_Put(const Source &source, gdcm::DataSet *data)
{
    std::vector<gdcm::DataSet> instances;
    std::set<std::string> seen;
    for (const Source_Image &image : source.images) {
        if (image.sop_instance.empty() || !seen.insert(image.sop_instance).second)
            continue;
        gdcm::DataSet instance;
        Put(&instance, 0x00081150, gdcm::VR::UI, image.sop_class);
        Put(&instance, 0x00081155, gdcm::VR::UI, image.sop_instance);
        instances.push_back(instance);
    }
    if (instances.empty())
        return;
    gdcm::DataSet series;
    Put(&series, 0x0020000e, gdcm::VR::UI, source.series_uid);
    Put_Items(&series, 0x0008114a, instances);
    Put_Item(data, 0x00081115, series);
}

/* Dimensions: the segment, then the position of the frame. */
void Dimensions_Put(gdcm::DataSet *data)
{
    std::string organization = Uid_New();
    gdcm::DataSet uid_item;
    Put(&uid_item, 0x00209164, gdcm::VR::UI, organization);
    Put_Item(data, 0x00209221, uid_item);
    gdcm::DataSet by_segment, by_position;
    Put(&by_segment, 0x00209164, gdcm::VR::UI, organization);
    Put_AT(&by_segment, 0x00209165, 0x0062000b);
    Put_AT(&by_segment, 0x00209167, 0x0062000a);
    Put(&by_position, 0x00209164, gdcm::VR::UI, organization);
    Put_AT(&by_position, 0x00209165, 0x00200032);
    Put_AT(&by_position, 0x00209167, 0x00209113);
    Put_Items(data, 0x00209222, {by_segment, by_position});
}

/* One frame per segment and slice where the segment is painted. */
struct Seg_Frame {
    int segment_number;
    int k;
    uint8_t tag;
};

std::vector<Seg_Frame> Frames_Plan(const AzVolume &volume, const std::vector<AzDicom_Segment> &segments)
{
    size_t plane = static_cast<size_t>(volume.width) * volume.height;
    std::vector<Seg_Frame> frames;
    for (size_t s = 0; s < segments.size(); s++)
        for (int k = 0; k < volume.depth; k++) {
            const uint8_t *tags = volume.tag.data() + static_cast<size_t>(k) * plane;
            uint8_t tag = static_cast<uint8_t>(segments[s].tag);
            if (std::find(tags, tags + plane, tag) != tags + plane)
                frames.push_back({static_cast<int>(s + 1), k, tag});
        }
    return frames;
}

gdcm::DataSet Frame_Item(const Seg_Frame &frame, const Plane_Geometry &g, const Source &source)
{
    gdcm::DataSet item;
    gdcm::DataSet content, position, identification;
    uint32_t values[2] = {static_cast<uint32_t>(frame.segment_number), static_cast<uint32_t>(frame.k + 1)};
    std::string bytes;
    for (uint32_t v : values)
        for (int b = 0; b < 4; b++)
            bytes.push_back(static_cast<char>((v >> (8 * b)) & 0xff));
    gdcm::DataElement dimension(gdcm::Tag(0x0020, 0x9157));
    dimension.SetVR(gdcm::VR::UL);
    dimension.SetByteValue(bytes.data(), static_cast<uint32_t>(bytes.size()));
    content.Replace(dimension);
    Put_Item(&item, 0x00209111, content);
    Position_Put(&position, Slice_Position(g, frame.k));
    Put_Item(&item, 0x00209113, position);
    Put_US(&identification, 0x0062000b, static_cast<uint16_t>(frame.segment_number));
    Put_Item(&item, 0x0062000a, identification);
    if (static_cast<size_t>(frame.k) < source.images.size() && !source.images[frame.k].sop_instance.empty())
        Put_Item(&item, 0x00089124, Derivation_Item(source.images[frame.k]));
    return item;
}

/* Bits of every frame one after the other, lowest bit first. */
std::string Bits_Pack(const AzVolume &volume, const std::vector<Seg_Frame> &frames)
{
    size_t plane = static_cast<size_t>(volume.width) * volume.height;
    size_t bits = plane * frames.size();
    std::string packed((bits + 7) / 8, '\0');
    size_t bit = 0;
    for (const Seg_Frame &frame : frames) {
        const uint8_t *tags = volume.tag.data() + static_cast<size_t>(frame.k) * plane;
        for (size_t i = 0; i < plane; i++, bit++)
            if (tags[i] == frame.tag)
                packed[bit / 8] = static_cast<char>(packed[bit / 8] | (1 << (bit % 8)));
    }
    return packed;
}

gdcm::DataSet Shared_Groups(const Plane_Geometry &g)
{
    gdcm::DataSet measures, orientation, shared;
    Spacing_Put(&measures, g);
    Put(&measures, 0x00180088, gdcm::VR::DS, Ds(g.spacing[2]));
    Orientation_Put(&orientation, g);
    Put_Item(&shared, 0x00289110, measures);
    Put_Item(&shared, 0x00209116, orientation);
    return shared;
}

/* The tags of the Original direction as a segmentation at path: 1
 * written, -1 no tag painted, 0 failed. */
int Segmentation_Write(const AzLoaded_Study &study, Source source, Kelvra_Class *original, const std::string &path,
                       std::string *error)
{
    AzVolume volume;
    if (!AzVolume_From_Class(original, &volume, error))
        return 0;
    volume.tag.resize(static_cast<size_t>(volume.width) * volume.height * volume.depth);
    std::vector<AzDicom_Segment> segments = AzDicom_Segments_Of(volume.tag, study.label_names);
    if (segments.empty())
        return -1;
    if (source.from_dicom)
        Source_Images_Get(study, Frame_Keys(original), &source);
    Plane_Geometry g = Geometry_Of(volume);
    std::vector<Seg_Frame> frames = Frames_Plan(volume, segments);
    gdcm::DataSet data;
    Series_Set(source, "SEG", series_number_tags + source.series_number, "Tags of " + study.name, &data);
    // A segmentation states a laterality only when one is known.
    if (Text(data, 0x00200060).empty())
        data.Remove(Tag_Of(0x00200060));
    Put(&data, 0x00080016, gdcm::VR::UI, sop_seg);
    Put(&data, 0x00080018, gdcm::VR::UI, Uid_New());
    Put(&data, 0x0020000e, gdcm::VR::UI, Uid_New());
    Put(&data, 0x00200013, gdcm::VR::IS, "1");
    Put(&data, 0x00080008, gdcm::VR::CS, "DERIVED\\PRIMARY");
    Put(&data, 0x00181000, gdcm::VR::LO, "1");
    Put(&data, 0x00700080, gdcm::VR::CS, "TAGS");
    Put(&data, 0x00700081, gdcm::VR::LO, "Tags painted in " + study.name.substr(0, 40));
    Put(&data, 0x00700084, gdcm::VR::PN, "");
    Put(&data, 0x00620001, gdcm::VR::CS, "BINARY");
    Put(&data, 0x00282110, gdcm::VR::CS, "00");
    Put_US(&data, 0x00280002, 1);
    Put(&data, 0x00280004, gdcm::VR::CS, "MONOCHROME2");
    Put(&data, 0x00280008, gdcm::VR::IS, std::to_string(frames.size()));
    Put_US(&data, 0x00280010, static_cast<uint16_t>(volume.height));
    Put_US(&data, 0x00280011, static_cast<uint16_t>(volume.width));
    Put_US(&data, 0x00280100, 1);
    Put_US(&data, 0x00280101, 1);
    Put_US(&data, 0x00280102, 0);
    Put_US(&data, 0x00280103, 0);
    std::vector<gdcm::DataSet> items;
    for (size_t s = 0; s < segments.size(); s++)
        items.push_back(Segment_Item(segments[s], static_cast<int>(s + 1)));
    Put_Items(&data, 0x00620002, items);
    Put_Item(&data, 0x52009229, Shared_Groups(g));
    items.clear();
    for (const Seg_Frame &frame : frames)
        items.push_back(Frame_Item(frame, g, source));
    Put_Items(&data, 0x52009230, items);
    Dimensions_Put(&data);
    References_Put(source, &data);
    Put(&data, 0x7fe00010, gdcm::VR::OB, Bits_Pack(volume, frames));
    return File_Commit(data, path, error);
}

} // namespace

int AzDicom_Write_Study(const AzLoaded_Study &study, Kelvra_Class *study_class, const std::string &folder,
                        const std::string &description, std::string *notes, std::string *error)
{
    Kelvra_Class *original = study_class && study_class->Child_Get_Nb() > 1 ? study_class->Child_Get_Pt(0) : nullptr;
    Kelvra_Class *oblique = original ? study_class->Child_Get_Pt(1) : nullptr;
    if (!oblique) {
        *error = folder + ": the study has no Oblique direction to write";
        return 0;
    }
    std::string dicom = folder + "/dicom";
    if (!Folder_Make(folder, error) || !Folder_Make(dicom, error))
        return 0;
    // One source for both objects: a study or frame of reference made for them is shared.
    Source source;
    Source_Get(study, &source);
    if (!Series_Write(study, source, oblique, dicom + "/oblique", description, error))
        return 0;
    int written = Segmentation_Write(study, source, original, dicom + "/tags_seg.dcm", error);
    if (written < 0)
        *notes += "no tags are painted: no segmentation written\n";
    return written != 0;
}

/* ---- Reading a segmentation back ----------------------------------------- */

int AzDicom_Is_Segmentation(const std::string &path)
{
    gdcm::DataSet header;
    return Header_Read(path, &header) && Text(header, 0x00080016) == sop_seg;
}

namespace {

/* A functional group of a frame: its own item, else the shared one. */
const gdcm::DataSet *Group_Of(const gdcm::DataSet &data, size_t frame, uint32_t code)
{
    const gdcm::DataSet *own = Item_Of(data, 0x52009230, frame);
    if (own && Item_Of(*own, code, 0))
        return Item_Of(*own, code, 0);
    const gdcm::DataSet *shared = Item_Of(data, 0x52009229, 0);
    return shared ? Item_Of(*shared, code, 0) : nullptr;
}

struct Seg_Read {
    std::string path;
    int width, height, frames_nb, bits;
    int fraction_max;               /* fractional: the value that means wholly inside */
    std::map<int, int> tag_of;      /* segment number -> tag */
    const char *pixels;
    size_t pixels_size;
};

int Reason(AzLoad_Report *report, const std::string &path, const std::string &reason)
{
    AzLoad_Problem(report, path, "%s", reason.c_str());
    return 0;
}

/* Segments: the value kept in the description ("label N"), else the segment number. */
int Segments_Read(const gdcm::DataSet &data, Seg_Read *seg, AzLabels *labels, AzLoad_Report *report)
{
    size_t count = Items_Count(data, 0x00620002);
    if (count == 0)
        return Reason(report, seg->path, "segmentation without segments");
    for (size_t i = 0; i < count; i++) {
        const gdcm::DataSet &item = *Item_Of(data, 0x00620002, i);
        int number = 0, tag = 0;
        if (!Unsigned_16(item, 0x00620004, &number))
            return Reason(report, seg->path, "segment " + std::to_string(i + 1) + " has no number");
        std::string description = Text(item, 0x00620006);
        if (sscanf(description.c_str(), "label %d", &tag) != 1)
            tag = number;
        if (tag < 1 || tag > 255)
            return Reason(report, seg->path,
                          "segment " + std::to_string(number) + " has no tag from 1 to 255 (value " +
                              std::to_string(tag) + ")");
        seg->tag_of[number] = tag;
        std::string name = Text(item, 0x00620005);
        if (name != "label " + std::to_string(tag))
            labels->names[tag] = name;
        double lab[3];
        if (Unsigned_16_List(item, 0x0062000d, lab, 3)) {
            Rgb_From_Lab(lab, labels->colours[tag]);
            labels->has_colours = 1;
        }
    }
    return 1;
}

int Pixels_Describe(const gdcm::File &file, Seg_Read *seg, AzLoad_Report *report)
{
    const gdcm::DataSet &data = file.GetDataSet();
    double frames = 0.0;
    int rows = 0, columns = 0, bits = 0;
    if (!Unsigned_16(data, 0x00280010, &rows) || !Unsigned_16(data, 0x00280011, &columns) ||
        !Unsigned_16(data, 0x00280100, &bits) || Numbers(data, 0x00280008, &frames, 1) != 1 || frames < 1)
        return Reason(report, seg->path, "segmentation without rows, columns, bits or frames");
    std::string type = Text(data, 0x00620001);
    if (!((type == "BINARY" && bits == 1) || (type == "FRACTIONAL" && bits == 8)))
        return Reason(report, seg->path, "segmentation type " + type + " with " + std::to_string(bits) +
                                             " bits is not supported (BINARY 1 bit, FRACTIONAL 8 bits)");
    if (file.GetHeader().GetDataSetTransferSyntax().IsEncapsulated())
        return Reason(report, seg->path, "compressed segmentations are not supported");
    seg->width = columns;
    seg->height = rows;
    seg->frames_nb = static_cast<int>(frames);
    seg->bits = bits;
    double fraction_max = 255.0;
    Numbers(data, 0x00620010, &fraction_max, 1);
    seg->fraction_max = static_cast<int>(fraction_max);
    const gdcm::ByteValue *bytes =
        data.FindDataElement(gdcm::Tag(0x7fe0, 0x0010)) ? data.GetDataElement(gdcm::Tag(0x7fe0, 0x0010)).GetByteValue()
                                                         : nullptr;
    size_t needed = (static_cast<size_t>(rows) * columns * seg->frames_nb * bits + 7) / 8;
    if (!bytes || bytes->GetLength() < needed)
        return Reason(report, seg->path, "pixel data shorter than " + std::to_string(seg->frames_nb) + " frames");
    seg->pixels = bytes->GetPointer();
    seg->pixels_size = bytes->GetLength();
    return 1;
}

int Pixel_Set(const Seg_Read &seg, size_t index)
{
    if (seg.bits == 1)
        return (seg.pixels[index / 8] >> (index % 8)) & 1;
    return static_cast<uint8_t>(seg.pixels[index]) * 2 >= seg.fraction_max && seg.pixels[index] != 0;
}

/* The series frame a segmentation frame lies on, or -1. */
int Frame_Match(const gdcm::DataSet &data, size_t f, const AzSeries &series)
{
    const gdcm::DataSet *position = Group_Of(data, f, 0x00209113);
    const gdcm::DataSet *orientation = Group_Of(data, f, 0x00209116);
    const gdcm::DataSet *measures = Group_Of(data, f, 0x00289110);
    double ipp[3], iop[6], spacing[2];
    if (!position || !orientation || !measures || Numbers(*position, 0x00200032, ipp, 3) != 3 ||
        Numbers(*orientation, 0x00200037, iop, 6) != 6 || Numbers(*measures, 0x00280030, spacing, 2) != 2)
        return -1;
    AzVec3 row = AzVec3_Unit({iop[0], iop[1], iop[2]}), col = AzVec3_Unit({iop[3], iop[4], iop[5]});
    const double cosine_min = 0.9999;
    if (AzVec3_Dot(row, series.axis_row) < cosine_min || AzVec3_Dot(col, series.axis_col) < cosine_min ||
        fabs(spacing[1] - series.spacing[0]) > 1e-3 * series.spacing[0] ||
        fabs(spacing[0] - series.spacing[1]) > 1e-3 * series.spacing[1])
        return -1;
    AzVec3 at = {ipp[0], ipp[1], ipp[2]};
    double tolerance = 0.05 * std::min(series.spacing[0], std::min(series.spacing[1], series.spacing[2]));
    for (size_t i = 0; i < series.frames.size(); i++)
        if (AzVec3_Norm(AzVec3_Sub(at, series.frames[i].position)) <= tolerance)
            return static_cast<int>(i);
    return -1;
}

int Frames_Read(const gdcm::DataSet &data, const Seg_Read &seg, const AzSeries &series, AzLabels *labels,
                AzLoad_Report *report)
{
    size_t plane = static_cast<size_t>(seg.width) * seg.height;
    for (int f = 0; f < seg.frames_nb; f++) {
        const gdcm::DataSet *identification = Group_Of(data, f, 0x0062000a);
        int number = 0;
        if (!identification || !Unsigned_16(*identification, 0x0062000b, &number) || !seg.tag_of.count(number))
            return Reason(report, seg.path, "frame " + std::to_string(f + 1) + " names no known segment");
        int i = Frame_Match(data, f, series);
        if (i < 0)
            return Reason(report, seg.path, "frame " + std::to_string(f + 1) + " does not lie on the study's grid");
        uint8_t tag = static_cast<uint8_t>(seg.tag_of.at(number));
        uint8_t *tags = labels->tags.data() + static_cast<size_t>(series.frames[i].source_index) * plane;
        for (size_t p = 0; p < plane; p++)
            if (Pixel_Set(seg, f * plane + p))
                tags[p] = tag;
    }
    return 1;
}

} // namespace

int AzDicom_Read_Segmentation(const std::string &path, const AzSeries &series, AzLabels *labels,
                              AzLoad_Report *report)
{
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    if (!reader.Read())
        return Reason(report, path, "not a DICOM file, or unreadable");
    const gdcm::DataSet &data = reader.GetFile().GetDataSet();
    if (Text(data, 0x00080016) != sop_seg)
        return Reason(report, path, "not a DICOM segmentation");
    *labels = AzLabels();
    labels->source = path;
    Seg_Read seg;
    seg.path = path;
    if (!Pixels_Describe(reader.GetFile(), &seg, report))
        return 0;
    if (seg.width != series.width || seg.height != series.height)
        return Reason(report, path,
                      "frames of " + std::to_string(seg.width) + "x" + std::to_string(seg.height) +
                          " do not match the study's " + std::to_string(series.width) + "x" +
                          std::to_string(series.height));
    labels->width = seg.width;
    labels->height = seg.height;
    labels->depth = static_cast<int>(series.frames.size());
    labels->tags.assign(static_cast<size_t>(labels->width) * labels->height * labels->depth, 0);
    return Segments_Read(data, &seg, labels, report) && Frames_Read(data, seg, series, labels, report);
}
