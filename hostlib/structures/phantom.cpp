/*
 * Synthetic studies for tests and demos: any size, spacing and orientation,
 * one or several slices and time points per image, phantom contents whose
 * exact values tests can compute on their own.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>

#include "az_db_private.h"

/* ------------------------------------------------------------------------
 * Phantom
 * --------------------------------------------------------------------- */

namespace {

struct Sphere {
    double c[3];
    double r;
};

/* Physical extent (mm) of the volume along x, y and the normal. */
void Extent(const AzPhantom_Plan &plan, double e[3])
{
    e[0] = (plan.width - 1) * (double)plan.spacing[0];
    e[1] = (plan.height - 1) * (double)plan.spacing[1];
    e[2] = (plan.slices - 1) * (double)plan.spacing[2];
}

/* Sphere 1 in the middle, sphere 2 smaller, off towards the +x +y corner
 * and overlapping it: both stay round in every re-sliced direction. */
void Spheres(const AzPhantom_Plan &plan, Sphere &one, Sphere &two)
{
    double e[3];
    Extent(plan, e);
    double smallest = 0.0;
    for (double v : e)
        if (v > 0.0 && (smallest == 0.0 || v < smallest))
            smallest = v;
    for (int i = 0; i < 3; i++) {
        one.c[i] = e[i] / 2.0;
        two.c[i] = e[i] / 2.0 + (i < 2 ? e[i] / 4.0 : 0.0);
    }
    one.r = 0.3 * smallest;
    two.r = 0.12 * smallest;
}

bool Inside(const Sphere &s, const double p[3])
{
    double d = 0.0;
    for (int i = 0; i < 3; i++)
        d += (p[i] - s.c[i]) * (p[i] - s.c[i]);
    return d <= s.r * s.r;
}

/* Which sphere a voxel lies in: 2 wins over 1, 0 for none. */
int Sphere_Label(const AzPhantom_Plan &plan, int x, int y, int slice)
{
    Sphere one, two;
    Spheres(plan, one, two);
    const double p[3] = {x * (double)plan.spacing[0], y * (double)plan.spacing[1], slice * (double)plan.spacing[2]};
    if (Inside(two, p))
        return 2;
    return Inside(one, p) ? 1 : 0;
}

Vect Unit(const Vect &v)
{
    float n = v.norm();
    return n > 0.0f ? (1.0f / n) * v : v;
}

Vect Cross(const Vect &a, const Vect &b)
{
    return Vect(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

}  // namespace

int AzPhantom_GLI(const AzPhantom_Plan &plan, int x, int y, int slice, int t)
{
    int value = 0;
    if (plan.phantom & AZ_PHANTOM_GRADIENT)
        value += x + 2 * y + 3 * slice + 5 * t;
    if (plan.phantom & AZ_PHANTOM_SPHERES) {
        int label = Sphere_Label(plan, x, y, slice);
        value += label == 2 ? 2000 : label == 1 ? 1000 : 0;
    }
    if ((plan.phantom & AZ_PHANTOM_PLANES) && (x == plan.width / 4 || y == plan.height / 4))
        value += 300;
    return std::min(32767, std::max(-32768, value));
}

int AzPhantom_TAG(const AzPhantom_Plan &plan, int x, int y, int slice, int)
{
    if (!plan.tags || !(plan.phantom & AZ_PHANTOM_SPHERES))
        return 0;
    return Sphere_Label(plan, x, y, slice);
}

/* ------------------------------------------------------------------------
 * Builder
 * --------------------------------------------------------------------- */

static void Text_Set(char *field, size_t size, const char *text) { snprintf(field, size, "%s", text ? text : ""); }

/* Header of image `index` (its first slice is `first` along the normal). */
static void Image_Geometry(Vexa_Image *image, const AzPhantom_Plan &plan, int first, const char *uid)
{
    Vect row = Unit(plan.row), col = Unit(plan.col);
    Vect normal = Unit(Cross(row, col));
    image->pixel_size = Vect(plan.spacing[0], plan.spacing[1], plan.spacing[2]);
    image->pixel_size_2 = image->pixel_size;
    image->axis_row = row;
    image->axis_col = col;
    image->axis_normal = normal;
    image->position = plan.origin + (first * plan.spacing[2]) * normal;
    image->position.w = 0.0f;
    image->location = (float)azdb::Dot(image->position, normal);
    Text_Set(image->patient_name, sizeof image->patient_name, plan.patient_name);
    Text_Set(image->series_uid, sizeof image->series_uid, uid);
    Text_Set(image->series_description, sizeof image->series_description, plan.name);
    Text_Set(image->modality, sizeof image->modality, "OT");
    Text_Set(image->file_name, sizeof image->file_name, plan.name);
    image->display_mode = 1;
    image->display_low = 0.0f;
    image->display_high = 3000.0f;
}

static void Image_Fill(Vexa_Image *image, const AzPhantom_Plan &plan, int first, int per_image)
{
    for (int t = 0; t < plan.times; t++)
        for (int z = 0; z < per_image; z++) {
            int16_t *gli = AzImage_GLI_Plane(image, z, t);
            uint8_t *tag = AzImage_TAG_Plane(image, z, t);
            for (int y = 0; y < plan.height; y++)
                for (int x = 0; x < plan.width; x++) {
                    gli[y * plan.width + x] = (int16_t)AzPhantom_GLI(plan, x, y, first + z, t);
                    tag[y * plan.width + x] = (uint8_t)AzPhantom_TAG(plan, x, y, first + z, t);
                }
        }
}

/* Frees a partly built image list. */
static void Images_Free(Vexa_Image **images, int count)
{
    for (int i = 0; i < count; i++)
        AzImage_Free(images[i]);
    free(images);
}

AzPhantom *AzPhantom_Build(const AzPhantom_Plan &plan)
{
    int per_image = plan.slices_per_image > 0 ? plan.slices_per_image : plan.slices;
    if (plan.width < 1 || plan.height < 1 || plan.slices < 1 || plan.times < 1 || per_image < 1 ||
        plan.slices % per_image)
        return nullptr;
    int images_nb = plan.slices / per_image;
    char uid[68];
    snprintf(uid, sizeof uid, "%s", plan.series_uid ? plan.series_uid : "");
    if (!plan.series_uid)
        snprintf(uid, sizeof uid, "1.2.826.0.1.3680043.9.7777.%s", plan.name ? plan.name : "");
    Vexa_Image **images = (Vexa_Image **)calloc(images_nb + 1, sizeof *images);
    if (!images)
        return nullptr;
    for (int i = 0; i < images_nb; i++) {
        images[i] = AzImage_Create(plan.width, plan.height, per_image, plan.times);
        if (!images[i]) {
            Images_Free(images, i);
            return nullptr;
        }
        Image_Geometry(images[i], plan, i * per_image, uid);
        Image_Fill(images[i], plan, i * per_image, per_image);
    }
    AzPhantom *study = new AzPhantom;
    study->plan = plan;
    study->file = new Kelvra_File(plan.name, images);
    AzDb_File_Add(study->file);
    /* Ascending location; time points of one place side by side. */
    for (int s = 0; s < plan.slices; s++)
        for (int t = 0; t < plan.times; t++) {
            study->frame_bunch.push_back(s / per_image);
            study->frame_slice.push_back(t * per_image + s % per_image);
        }
    return study;
}

int AzPhantom_Insert(AzPhantom *study, int order, unsigned int seed)
{
    if (!study)
        return 0;
    std::vector<size_t> sequence(study->frame_bunch.size());
    for (size_t i = 0; i < sequence.size(); i++)
        sequence[i] = i;
    if (order == AZ_ORDER_DESCENDING)
        std::reverse(sequence.begin(), sequence.end());
    if (order == AZ_ORDER_SHUFFLED) {
        /* Own Fisher-Yates: the same seed gives the same order everywhere. */
        std::mt19937 random(seed);
        for (size_t i = sequence.size(); i > 1; i--)
            std::swap(sequence[i - 1], sequence[random() % i]);
    }
    int done = 0;
    for (size_t i : sequence)
        if (AzDb_Insert(study->file, study->frame_bunch[i], study->frame_slice[i]))
            done++;
    return done;
}

void AzPhantom_Free(AzPhantom *study) { delete study; }
