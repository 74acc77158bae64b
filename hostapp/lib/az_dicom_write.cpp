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
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include <gdcmTrace.h>
#include <gdcmWriter.h>

#include "../../hostlib/structures/az_gl.h"
#include "az_dicom_items.h"
#include "az_export.h"
#include "az_labels.h"
#include "az_path.h"
#include "az_progress_line.h"

namespace {

const char sop_ct[] = "1.2.840.10008.5.1.4.1.1.2";
const char sop_mr[] = "1.2.840.10008.5.1.4.1.1.4";
const char manufacturer[] = "RUD";
const char model_name[] = "Azozude";
const char software_version[] = "azozude 1";
/* Derived series are numbered after their source. */
const int series_number_oblique = 1000;
const int series_number_tags = 2000;

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

int Source_Read(const AzLoaded_Series &study, Source *source)
{
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
    if (study.frame_files.empty() || !AzDcm_Header_Read(study.frame_files[0], &source->header))
        return 0;
    source->from_dicom = 1;
    source->study_uid = AzDcm_Text(source->header, 0x0020000d);
    source->frame_uid = AzDcm_Text(source->header, 0x00200052);
    source->series_uid = AzDcm_Text(source->header, 0x0020000e);
    source->modality = AzDcm_Text(source->header, 0x00080060);
    double number = 0.0;
    if (AzDcm_Numbers(source->header, 0x00200011, &number, 1) == 1)
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
        if (source.header.FindDataElement(AzDcm_Tag_Of(code)))
            data->Replace(source.header.GetDataElement(AzDcm_Tag_Of(code)));
}

/* A study of its own for a source without DICOM attributes (the other
 * patient and study attributes are left empty). */
void Placeholders_Set(const AzLoaded_Series &study, Source *source)
{
    source->study_uid = AzDcm_Uid_New();
    source->frame_uid = AzDcm_Uid_New();
    std::string date, clock;
    AzDcm_Now(&date, &clock);
    gdcm::DataSet &data = source->header;
    AzDcm_Put(&data, 0x00100010, gdcm::VR::PN, AZ_DICOM_PLACEHOLDER_PATIENT_NAME);
    AzDcm_Put(&data, 0x00100020, gdcm::VR::LO, AZ_DICOM_PLACEHOLDER_PATIENT_ID);
    AzDcm_Put(&data, 0x00080020, gdcm::VR::DA, date);
    AzDcm_Put(&data, 0x00080030, gdcm::VR::TM, clock);
    AzDcm_Put(&data, 0x00081030, gdcm::VR::LO, std::string("from ") + AzPath_Base_Name(study.source, nullptr).substr(0, 59));
}

/* The source's attributes, or placeholders for a study that did not come
 * from DICOM; a DICOM source that cannot be read again is an error, never
 * a silent new patient. */
int Source_Get(const AzLoaded_Series &study, Source *source, std::string *error)
{
    const std::string first = study.frame_files.empty() ? std::string() : study.frame_files[0];
    int from_dicom = !first.empty() && !AzPath_Ends_With(first, ".nii") && !AzPath_Ends_With(first, ".nii.gz");
    if (!Source_Read(study, source)) {
        if (from_dicom) {
            *error = first + ": cannot read the source's DICOM attributes again";
            return 0;
        }
        Placeholders_Set(study, source);
    }
    // An identifier the source lacks is made, never left empty.
    if (source->study_uid.empty())
        source->study_uid = AzDcm_Uid_New();
    if (source->frame_uid.empty())
        source->frame_uid = AzDcm_Uid_New();
    return 1;
}

/* The series-level attributes every derived object carries. */
void Series_Set(const Source &source, const std::string &modality, int number, const std::string &description,
                gdcm::DataSet *data)
{
    std::string date, clock;
    AzDcm_Now(&date, &clock);
    Source_Copy(source, data);
    AzDcm_Put(data, 0x0020000d, gdcm::VR::UI, source.study_uid);
    AzDcm_Put(data, 0x00200052, gdcm::VR::UI, source.frame_uid);
    // Attributes that must be present, empty when unknown.
    static const struct {
        uint32_t code;
        gdcm::VR::VRType vr;
    } required[] = {{0x00100010, gdcm::VR::PN}, {0x00100020, gdcm::VR::LO}, {0x00100030, gdcm::VR::DA},
                    {0x00100040, gdcm::VR::CS}, {0x00080020, gdcm::VR::DA}, {0x00080030, gdcm::VR::TM},
                    {0x00080050, gdcm::VR::SH}, {0x00080090, gdcm::VR::PN}, {0x00200010, gdcm::VR::SH},
                    {0x00201040, gdcm::VR::LO}};
    for (const auto &attribute : required)
        if (!data->FindDataElement(AzDcm_Tag_Of(attribute.code)))
            AzDcm_Put(data, attribute.code, attribute.vr, "");
    AzDcm_Put(data, 0x00080060, gdcm::VR::CS, modality);
    AzDcm_Put(data, 0x00200011, gdcm::VR::IS, std::to_string(number));
    AzDcm_Put(data, 0x0008103e, gdcm::VR::LO, description.substr(0, 64));
    AzDcm_Put(data, 0x00080021, gdcm::VR::DA, date);
    AzDcm_Put(data, 0x00080031, gdcm::VR::TM, clock);
    AzDcm_Put(data, 0x00080023, gdcm::VR::DA, date);
    AzDcm_Put(data, 0x00080033, gdcm::VR::TM, clock);
    AzDcm_Put(data, 0x00080070, gdcm::VR::LO, manufacturer);
    AzDcm_Put(data, 0x00081090, gdcm::VR::LO, model_name);
    AzDcm_Put(data, 0x00181020, gdcm::VR::LO, software_version);
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
    AzDcm_Put(data, 0x00200032, gdcm::VR::DS, AzDcm_Ds_List(values, 3));
}

void Orientation_Put(gdcm::DataSet *data, const Plane_Geometry &g)
{
    const double cosines[6] = {g.row.x, g.row.y, g.row.z, g.col.x, g.col.y, g.col.z};
    AzDcm_Put(data, 0x00200037, gdcm::VR::DS, AzDcm_Ds_List(cosines, 6));
}

/* Pixel Spacing is the step between rows first, then between columns. */
void Spacing_Put(gdcm::DataSet *data, const Plane_Geometry &g)
{
    const double spacing[2] = {g.spacing[1], g.spacing[0]};
    AzDcm_Put(data, 0x00280030, gdcm::VR::DS, AzDcm_Ds_List(spacing, 2));
    AzDcm_Put(data, 0x00180050, gdcm::VR::DS, AzDcm_Ds(g.spacing[2]));
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
        gdcm::Tag tag = AzDcm_Tag_Of(list[i].code);
        if (source.from_dicom && source.header.FindDataElement(tag) && !AzDcm_Text(source.header, list[i].code).empty())
            data->Replace(source.header.GetDataElement(tag));
        else if (list[i].absent) // null: only with the sequence that needs it, which the source then has
            AzDcm_Put(data, list[i].code, list[i].vr, list[i].absent);
    }
}

/* The display window, in real values as DICOM windows are. */
void Window_Put(const AzVolume &volume, gdcm::DataSet *data)
{
    if (volume.display_mode != AZ_DISPLAY_MIN_MAX || volume.display_high <= volume.display_low)
        return;
    double centre = (volume.display_high + volume.display_low) / 2.0 * volume.slope + volume.intercept;
    AzDcm_Put(data, 0x00281050, gdcm::VR::DS, AzDcm_Ds(centre));
    AzDcm_Put(data, 0x00281051, gdcm::VR::DS, AzDcm_Ds((volume.display_high - volume.display_low) * fabs(volume.slope)));
}

/* What every image of the series shares. */
gdcm::DataSet Series_Common(const Source &source, const AzVolume &volume,
                            const Plane_Geometry &g, const std::string &description)
{
    int is_ct = source.modality == "CT";
    gdcm::DataSet data;
    Series_Set(source, is_ct ? "CT" : "MR", series_number_oblique + source.series_number, description, &data);
    AzDcm_Put(&data, 0x00080016, gdcm::VR::UI, is_ct ? sop_ct : sop_mr);
    AzDcm_Put(&data, 0x0020000e, gdcm::VR::UI, AzDcm_Uid_New());
    AzDcm_Put(&data, 0x00080008, gdcm::VR::CS, "DERIVED\\SECONDARY\\REFORMATTED");
    AzDcm_Put(&data, 0x00082111, gdcm::VR::ST, description);
    // Images must state a laterality, unknown when the source has none.
    if (!data.FindDataElement(AzDcm_Tag_Of(0x00200060)))
        AzDcm_Put(&data, 0x00200060, gdcm::VR::CS, "");
    Modality_Set(source, is_ct, &data);
    Orientation_Put(&data, g);
    Spacing_Put(&data, g);
    if (!is_ct)
        AzDcm_Put(&data, 0x00180088, gdcm::VR::DS, AzDcm_Ds(g.spacing[2]));
    AzDcm_Put_US(&data, 0x00280002, 1);
    AzDcm_Put(&data, 0x00280004, gdcm::VR::CS, "MONOCHROME2");
    AzDcm_Put_US(&data, 0x00280010, static_cast<uint16_t>(volume.height));
    AzDcm_Put_US(&data, 0x00280011, static_cast<uint16_t>(volume.width));
    AzDcm_Put_US(&data, 0x00280100, 16);
    AzDcm_Put_US(&data, 0x00280101, 16);
    AzDcm_Put_US(&data, 0x00280102, 15);
    AzDcm_Put_US(&data, 0x00280103, 1);
    // The grey levels are the study's stored values: its rescale makes them real values.
    // MR images state no rescale unless they need one.
    if (is_ct || volume.slope != 1.0 || volume.intercept != 0.0) {
        AzDcm_Put(&data, 0x00281052, gdcm::VR::DS, AzDcm_Ds(volume.intercept));
        AzDcm_Put(&data, 0x00281053, gdcm::VR::DS, AzDcm_Ds(volume.slope));
        if (is_ct)
            AzDcm_Put(&data, 0x00281054, gdcm::VR::LO, "HU");
    }
    Window_Put(volume, &data);
    return data;
}

void Slice_Set(const AzVolume &volume, const Plane_Geometry &g, int k, int16_t outside, gdcm::DataSet *data)
{
    AzDcm_Put(data, 0x00080018, gdcm::VR::UI, AzDcm_Uid_New());
    AzDcm_Put(data, 0x00200013, gdcm::VR::IS, std::to_string(k + 1));
    AzVec3 position = Slice_Position(g, k);
    Position_Put(data, position);
    AzDcm_Put(data, 0x00201041, gdcm::VR::DS, AzDcm_Ds(AzVec3_Dot(position, g.normal)));
    size_t plane = static_cast<size_t>(volume.width) * volume.height;
    std::string pixels(plane * 2, '\0');
    for (size_t i = 0; i < plane; i++) {
        int32_t value = volume.gli[static_cast<size_t>(k) * plane + i];
        int16_t grey = value == AZ_GLI_INVALID ? outside
                                               : static_cast<int16_t>(std::min(32767, std::max(-32768, value)));
        pixels[2 * i] = static_cast<char>(grey & 0xff);
        pixels[2 * i + 1] = static_cast<char>((grey >> 8) & 0xff);
    }
    AzDcm_Put(data, 0x7fe00010, gdcm::VR::OW, pixels);
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
int Series_Write(const Source &source, Kelvra_Class *direction,
                 const std::string &folder, const std::string &description, std::string *notes, std::string *error)
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
    gdcm::DataSet common = Series_Common(source, volume, g, description);
    int16_t outside = AzVolume_Grey_Outside(volume);
    std::string temporary = Hidden_Name(folder, ".part");
    Folder_Remove(temporary);
    if (!Folder_Make(temporary, error))
        return 0;
    AzProgressLine progress;
    AzProgressLine_Start(&progress, "writing " + folder, volume.depth >= 64 ? volume.depth : 0);
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
        AzProgressLine_Step(&progress, k + 1);
    }
    if (!Folder_Commit(temporary, folder, error)) {
        Folder_Remove(temporary);
        return 0;
    }
    *notes += "oblique/: " + std::to_string(volume.depth) + " images of " + std::to_string(volume.width) + " x " +
              std::to_string(volume.height) + "\n";
    return 1;
}

} // namespace

std::vector<AzDicom_Segment> AzDicom_Segments_Of(const std::vector<uint8_t> &tags)
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
        segment.value = AzTags_Value(tag);
        segment.name = AzTags_Name(tag);
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

gdcm::DataSet Code_Item(const char *value, const char *scheme, const char *meaning)
{
    gdcm::DataSet item;
    AzDcm_Put(&item, 0x00080100, gdcm::VR::SH, value);
    AzDcm_Put(&item, 0x00080102, gdcm::VR::SH, scheme);
    AzDcm_Put(&item, 0x00080104, gdcm::VR::LO, meaning);
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
    AzDcm_Put_US(&item, 0x00620004, static_cast<uint16_t>(number));
    AzDcm_Put(&item, 0x00620005, gdcm::VR::LO, Segment_Label(segment));
    // The label's own value, so that it comes back as the same tag.
    AzDcm_Put(&item, 0x00620006, gdcm::VR::ST, "label " + std::to_string(segment.value));
    AzDcm_Put(&item, 0x00620008, gdcm::VR::CS, "MANUAL");
    AzDcm_Put_Item(&item, 0x00620003, Code_Item("85756007", "SCT", "Tissue"));
    AzDcm_Put_Item(&item, 0x0062000f, Code_Item("85756007", "SCT", "Tissue"));
    if (segment.has_colour) {
        uint16_t lab[3];
        AzDcm_Lab_From_Rgb(segment.rgb, lab);
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
void Source_Images_Get(const AzLoaded_Series &study, const std::vector<const Vexa_Image *> &keys, Source *source)
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
            if (AzDcm_Header_Read(file, &header)) {
                image.sop_class = AzDcm_Text(header, 0x00080016);
                image.sop_instance = AzDcm_Text(header, 0x00080018);
                frames_of[file] = AzDcm_Numbers(header, 0x00280008, &frames, 1) == 1 ? static_cast<int>(frames) : 1;
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
    AzDcm_Put(&reference, 0x00081150, gdcm::VR::UI, image.sop_class);
    AzDcm_Put(&reference, 0x00081155, gdcm::VR::UI, image.sop_instance);
    if (image.frame_number > 0)
        AzDcm_Put(&reference, 0x00081160, gdcm::VR::IS, std::to_string(image.frame_number));
    AzDcm_Put_Item(&reference, 0x0040a170, Code_Item("121322", "DCM", "Source image for image processing operation"));
    gdcm::DataSet derivation;
    AzDcm_Put_Item(&derivation, 0x00089215, Code_Item("113076", "DCM", "Segmentation"));
    AzDcm_Put_Item(&derivation, 0x00082112, reference);
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
        AzDcm_Put(&instance, 0x00081150, gdcm::VR::UI, image.sop_class);
        AzDcm_Put(&instance, 0x00081155, gdcm::VR::UI, image.sop_instance);
        instances.push_back(instance);
    }
    if (instances.empty())
        return;
    gdcm::DataSet series;
    AzDcm_Put(&series, 0x0020000e, gdcm::VR::UI, source.series_uid);
    AzDcm_Put_Items(&series, 0x0008114a, instances);
    AzDcm_Put_Item(data, 0x00081115, series);
}

/* Dimensions: the segment, then the position of the frame. */
void Dimensions_Put(gdcm::DataSet *data)
{
    std::string organization = AzDcm_Uid_New();
    gdcm::DataSet uid_item;
    AzDcm_Put(&uid_item, 0x00209164, gdcm::VR::UI, organization);
    AzDcm_Put_Item(data, 0x00209221, uid_item);
    gdcm::DataSet by_segment, by_position;
    AzDcm_Put(&by_segment, 0x00209164, gdcm::VR::UI, organization);
    AzDcm_Put_AT(&by_segment, 0x00209165, 0x0062000b);
    AzDcm_Put_AT(&by_segment, 0x00209167, 0x0062000a);
    AzDcm_Put(&by_position, 0x00209164, gdcm::VR::UI, organization);
    AzDcm_Put_AT(&by_position, 0x00209165, 0x00200032);
    AzDcm_Put_AT(&by_position, 0x00209167, 0x00209113);
    AzDcm_Put_Items(data, 0x00209222, {by_segment, by_position});
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
    AzDcm_Put_Item(&item, 0x00209111, content);
    Position_Put(&position, Slice_Position(g, frame.k));
    AzDcm_Put_Item(&item, 0x00209113, position);
    AzDcm_Put_US(&identification, 0x0062000b, static_cast<uint16_t>(frame.segment_number));
    AzDcm_Put_Item(&item, 0x0062000a, identification);
    if (static_cast<size_t>(frame.k) < source.images.size() && !source.images[frame.k].sop_instance.empty())
        AzDcm_Put_Item(&item, 0x00089124, Derivation_Item(source.images[frame.k]));
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
    AzDcm_Put(&measures, 0x00180088, gdcm::VR::DS, AzDcm_Ds(g.spacing[2]));
    Orientation_Put(&orientation, g);
    AzDcm_Put_Item(&shared, 0x00289110, measures);
    AzDcm_Put_Item(&shared, 0x00209116, orientation);
    return shared;
}

/* The tags of the Original direction as a segmentation at path: 1
 * written, -1 no tag painted, 0 failed. */
int Segmentation_Write(const AzLoaded_Series &study, Source source, Kelvra_Class *original, const std::string &path,
                       std::string *notes, std::string *error)
{
    AzVolume volume;
    if (!AzVolume_From_Class(original, &volume, error))
        return 0;
    volume.tag.resize(static_cast<size_t>(volume.width) * volume.height * volume.depth);
    std::vector<AzDicom_Segment> segments = AzDicom_Segments_Of(volume.tag);
    if (segments.empty())
        return -1;
    if (source.from_dicom)
        Source_Images_Get(study, Frame_Keys(original), &source);
    Plane_Geometry g = Geometry_Of(volume);
    std::vector<Seg_Frame> frames = Frames_Plan(volume, segments);
    gdcm::DataSet data;
    Series_Set(source, "SEG", series_number_tags + source.series_number, "Tags of " + study.name, &data);
    // A segmentation states a laterality only when one is known.
    if (AzDcm_Text(data, 0x00200060).empty())
        data.Remove(AzDcm_Tag_Of(0x00200060));
    AzDcm_Put(&data, 0x00080016, gdcm::VR::UI, AZ_DCM_SOP_SEGMENTATION);
    AzDcm_Put(&data, 0x00080018, gdcm::VR::UI, AzDcm_Uid_New());
    AzDcm_Put(&data, 0x0020000e, gdcm::VR::UI, AzDcm_Uid_New());
    AzDcm_Put(&data, 0x00200013, gdcm::VR::IS, "1");
    AzDcm_Put(&data, 0x00080008, gdcm::VR::CS, "DERIVED\\PRIMARY");
    AzDcm_Put(&data, 0x00181000, gdcm::VR::LO, "1");
    AzDcm_Put(&data, 0x00700080, gdcm::VR::CS, "TAGS");
    AzDcm_Put(&data, 0x00700081, gdcm::VR::LO, "Tags painted in " + study.name.substr(0, 40));
    AzDcm_Put(&data, 0x00700084, gdcm::VR::PN, "");
    AzDcm_Put(&data, 0x00620001, gdcm::VR::CS, "BINARY");
    AzDcm_Put(&data, 0x00282110, gdcm::VR::CS, "00");
    AzDcm_Put_US(&data, 0x00280002, 1);
    AzDcm_Put(&data, 0x00280004, gdcm::VR::CS, "MONOCHROME2");
    AzDcm_Put(&data, 0x00280008, gdcm::VR::IS, std::to_string(frames.size()));
    AzDcm_Put_US(&data, 0x00280010, static_cast<uint16_t>(volume.height));
    AzDcm_Put_US(&data, 0x00280011, static_cast<uint16_t>(volume.width));
    AzDcm_Put_US(&data, 0x00280100, 1);
    AzDcm_Put_US(&data, 0x00280101, 1);
    AzDcm_Put_US(&data, 0x00280102, 0);
    AzDcm_Put_US(&data, 0x00280103, 0);
    std::vector<gdcm::DataSet> items;
    for (size_t s = 0; s < segments.size(); s++)
        items.push_back(Segment_Item(segments[s], static_cast<int>(s + 1)));
    AzDcm_Put_Items(&data, 0x00620002, items);
    AzDcm_Put_Item(&data, 0x52009229, Shared_Groups(g));
    items.clear();
    for (const Seg_Frame &frame : frames)
        items.push_back(Frame_Item(frame, g, source));
    AzDcm_Put_Items(&data, 0x52009230, items);
    Dimensions_Put(&data);
    References_Put(source, &data);
    AzDcm_Put(&data, 0x7fe00010, gdcm::VR::OB, Bits_Pack(volume, frames));
    if (!File_Commit(data, path, error))
        return 0;
    *notes += "tags_seg.dcm: " + std::to_string(segments.size()) + " segments in " + std::to_string(frames.size()) +
              " frames\n";
    return 1;
}

} // namespace

int AzDicom_Write_Study(const AzLoaded_Series &study, Kelvra_Class *study_class, const std::string &folder,
                        const std::string &description, std::string *notes, std::string *error)
{
    Kelvra_Class *original = study_class && study_class->Child_Get_Nb() > 1 ? study_class->Child_Get_Pt(0) : nullptr;
    Kelvra_Class *oblique = original ? study_class->Child_Get_Pt(1) : nullptr;
    if (!oblique) {
        *error = folder + ": the study has no Oblique direction to write";
        return 0;
    }
    if (oblique->Child_Get_Nb() == 0) {
        *error = folder + ": the Oblique direction has no frames (switch it on and click \"Update DB\")";
        return 0;
    }
    // One source for both objects: a study or frame of reference made for them is shared.
    Source source;
    if (!Source_Get(study, &source, error) || !Modality_Writable(source, error))
        return 0;
    std::string dicom = folder + "/dicom";
    if (!Folder_Make(folder, error) || !Folder_Make(dicom, error))
        return 0;
    if (!Series_Write(source, oblique, dicom + "/oblique", description, notes, error))
        return 0;
    int written = Segmentation_Write(study, source, original, dicom + "/tags_seg.dcm", notes, error);
    if (written < 0)
        *notes += "no tags are painted: no segmentation written\n";
    return written != 0;
}
