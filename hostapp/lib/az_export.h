/*
 * What a class's frames show, written out: the frames below a class (a
 * direction class, or a study without the module) are read through the
 * host's frame pixel calls, exactly as a host view reads them, and become a
 * volume with its world geometry; the volume is written as NIfTI-1 (grey
 * levels or tags), or as PNG pictures of a slice or of all slices.  Every
 * file is written under a temporary name and renamed when complete.
 */
#ifndef AZ_EXPORT_H
#define AZ_EXPORT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "../../host/kelvra_structures.h"

struct AzVolume {
    int width, height, depth, times;
    std::vector<int32_t> gli;   /* times * depth planes; AZ_GLI_INVALID outside the study */
    std::vector<uint8_t> tag;   /* same layout */
    double affine[3][4];        /* voxel (i, j, k) -> world LPS (mm): column 3 is the origin */
    double slope, intercept;    /* real value = grey level * slope + intercept (the study's) */
    unsigned char display_mode; /* the frames' display values */
    float display_low, display_high;

    AzVolume();
    size_t Index(int x, int y, int k, int t) const
    {
        return ((static_cast<size_t>(t) * depth + k) * height + y) * width + x;
    }
};

/* Reads every frame below cls (only: just that slice, at every time
 * point); the volume's time points are those the frames have, in order.
 * 1, or 0 with the reason in error (no frames, no such slice, frames of
 * different sizes or an uneven set of time points). */
AZ_EXPORT int AzVolume_From_Class(Kelvra_Class *cls, AzVolume *volume, std::string *error, int only = -1);

/* What to write of a volume. */
enum { AZ_EXPORT_GREY = 0, AZ_EXPORT_TAGS = 1 };

/* NIfTI-1 (gzip-compressed when the name ends in .gz): grey levels as
 * int16 with the study's slope and intercept (points outside the study
 * take the level nearest the real value 0) or tags as the label values
 * they stand for (az_labels.h; uint8, uint16 when one is above 255), with
 * sform and qform in RAS (the qform only when it can say the same:
 * orthogonal axes).  1, or 0 with the reason. */
AZ_EXPORT int AzVolume_Write_Nifti(const AzVolume &volume, const std::string &path, int what, std::string *error);

/* The grey level written for points outside the study (as the NIfTI
 * export writes them). */
AZ_EXPORT int16_t AzVolume_Grey_Outside(const AzVolume &volume);

/* RGBA picture of slice k (time point t) as the host's views show it:
 * grey levels through the display window, tags over them, mirrored as
 * AzOrient_Mirror says for the volume's axes. */
AZ_EXPORT std::vector<uint32_t> AzVolume_Picture(const AzVolume &volume, int k, int t);

/* PNG of slice k; PNG of every slice in a grid of columns (0: about square). */
AZ_EXPORT int AzVolume_Write_Png(const AzVolume &volume, int k, const std::string &path, std::string *error);

/* A montage shows at most this many slices, spread evenly from the first to
 * the last, and is scaled down to at most this many pixels a side, so that
 * ordinary picture tools open it. */
#define AZ_MONTAGE_FRAMES 36
#define AZ_MONTAGE_SIDE 2048
/* The slices a montage of depth slices shows (every one when few). */
AZ_EXPORT std::vector<int> AzMontage_Slices(int depth);
/* PNG of the montage's slices of time point 0 in a grid of columns (0:
 * about square). */
AZ_EXPORT int AzVolume_Write_Montage(const AzVolume &volume, int columns, const std::string &path,
                                     std::string *error);

/* A class's frames exported in one pass, without holding the volume: the
 * frames are read by all cores in blocks, each block compressed as it is
 * read, and written in order.  Grey levels are written as
 * AzVolume_Write_Nifti writes them (the study's slope and intercept, points
 * outside the study at the level nearest the real value 0). */
struct AzExport_Request {
    std::string grey_path;   /* NIfTI of the grey levels (gzip when it ends in .gz); empty: none */
    std::string tags_path;   /* NIfTI of the tags, written only when a tag is set; empty: none */
    int keep_middle;         /* keep the middle slice (time point 0) as a picture volume */
    int keep_montage;        /* keep the slices of a montage (AzMontage_Slices) */
    std::string what;        /* what the progress line says is being written */
    int force_tags;          /* read every frame's tags even when the study holds none (tests the fast path) */
    int block_frames;        /* frames per block (0: about two million voxels a block) */

    AzExport_Request() : keep_middle(0), keep_montage(0), force_tags(0), block_frames(0) {}
};

struct AzExport_Result {
    int width, height, depth, times;
    double affine[3][4];     /* as AzVolume::affine */
    int tagged;              /* some frame holds a tag */
    AzVolume middle;         /* depth 1, when asked */
    AzVolume montage;        /* the montage's slices in order, when asked */

    AzExport_Result();
};

/* 1, or 0 with the reason (the files asked may then be partly written: the
 * caller writes them where a failure discards them). */
AZ_EXPORT int AzExport_Class(Kelvra_Class *cls, const AzExport_Request &request, AzExport_Result *result,
                             std::string *error);

/* Threads an export uses: every core. */
AZ_EXPORT int AzExport_Threads(void);

#endif
