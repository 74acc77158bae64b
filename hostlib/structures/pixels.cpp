/*
 * The pixel store and the study's pixel callbacks.
 *
 * The callbacks are the product's hot loop: from the key (the image header)
 * to the pixel in constant time, with no lock, allocation or search.
 */
#include <emmintrin.h>
#include <math.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <atomic>
#include <new>

#include "az_db_private.h"

namespace {

/* One mapping holding the pixel records of a whole series: an oblique cut
 * visits the study's planes out of order, and over 4 KB pages each plane
 * it steps into can cost a page walk; over 2 MB pages the whole of a brain
 * fits the TLB.  Freed when the last of its images is. */
struct Pixel_Block {
    size_t bytes;
    std::atomic<int> images_nb;
};

/* The pixel record as the store allocates it: its block (null when it is
 * an allocation of its own), the limits of a point inside as four floats
 * each that one packed compare tests at once, then the shared record (what
 * pixels_pt points to), then the pixels.  Every Vexa_Pixels comes from
 * Store_Init. */
struct Pixel_Store {
    Pixel_Block *block;
    alignas(16) float low[4], high[4];
    /* Interior ends (exclusive): a point below them and at or above low
     * has its four bilinear neighbours in the image. */
    alignas(16) float interior[4];
    Vexa_Pixels shared;
};

Pixel_Store *Store_Of(Vexa_Pixels *px)
{
    return reinterpret_cast<Pixel_Store *>(reinterpret_cast<char *>(px) - offsetof(Pixel_Store, shared));
}

const Pixel_Store *Store_Of(const Vexa_Pixels *px) { return Store_Of(const_cast<Vexa_Pixels *>(px)); }

/* Bytes of one pixel record with its pixels, rounded to keep the next
 * record's vectors aligned; 0 when a size is out of range. */
size_t Store_Bytes(int width, int height, int slices, int times)
{
    if (width < 1 || height < 1 || slices < 1 || times < 1 || width > 65535 || height > 65535 || slices > 65535 ||
        times > 65535)
        return 0;
    size_t count = (size_t)width * height * slices * times;
    /* Grey levels, then tags, right after the pixel record. */
    size_t bytes = sizeof(Pixel_Store) + count * (sizeof(int16_t) + sizeof(uint8_t));
    return (bytes + alignof(Pixel_Store) - 1) / alignof(Pixel_Store) * alignof(Pixel_Store);
}

/* Fills a zeroed record and makes its header; null when the header's
 * memory fails. */
Vexa_Image *Store_Init(Pixel_Store *store, Pixel_Block *block, int width, int height, int slices, int times)
{
    Vexa_Image *image = (Vexa_Image *)calloc(1, sizeof(Vexa_Image));
    if (!image)
        return nullptr;
    int64_t plane = (int64_t)width * height;
    int64_t count = plane * slices * times;
    store->block = block;
    Vexa_Pixels *pixels = &store->shared;
    pixels->gli = (int16_t *)(pixels + 1);
    pixels->tag = (uint8_t *)(pixels->gli + count);
    pixels->width = width;
    pixels->height = height;
    pixels->planes_nb = slices * times;
    pixels->row_stride = width;
    pixels->plane_stride = plane;
    pixels->width_f = (float)width;
    pixels->height_f = (float)height;
    pixels->slices_f = (float)slices;
    pixels->slices_nb = slices;
    /* x in [0, width], y in [0, height], z in (-1, slices), t in (-1,
     * times): the open ends as the next float inward, so that one "low <=
     * p <= high" says it all (and NaN fails it), and a point inside
     * truncates to a plane of the image. */
    const float open_low = nextafterf(-1.0f, 0.0f);
    const float low[4] = {0.0f, 0.0f, open_low, open_low};
    const float high[4] = {(float)width, (float)height, nextafterf((float)slices, 0.0f),
                           nextafterf((float)times, 0.0f)};
    const float interior[4] = {(float)(width - 1), (float)(height - 1), (float)slices, (float)times};
    memcpy(store->low, low, sizeof(low));
    memcpy(store->high, high, sizeof(high));
    memcpy(store->interior, interior, sizeof(interior));

    image->width = (uint16_t)width;
    image->height = (uint16_t)height;
    image->slices_nb = (uint16_t)slices;
    image->times_nb = (uint16_t)times;
    image->pixel_type = AZ_PIXEL_INT16_TAG8;
    image->pixel_size = Vect(1, 1, 1);
    image->pixel_size_2 = image->pixel_size;
    image->axis_row = Vect(1, 0, 0);
    image->axis_col = Vect(0, 1, 0);
    image->axis_normal = Vect(0, 0, 1);
    image->rescale_slope = 1.0f;
    image->pixels_pt = pixels;
    return image;
}

/* Series smaller than this keep an allocation per image: a mapping of its
 * own would round them up to whole pages for nothing. */
const size_t block_bytes_min = (size_t)2 << 20;

/* A zeroed mapping of the given size holding a block record at its start,
 * asked for 2 MB pages; null when memory fails. */
Pixel_Block *Block_Map(size_t bytes)
{
    void *at = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED)
        return nullptr;
    // Only a wish: without transparent huge pages the block works on small pages.
    madvise(at, bytes, MADV_HUGEPAGE);
    Pixel_Block *block = new (at) Pixel_Block;
    block->bytes = bytes;
    block->images_nb.store(0, std::memory_order_relaxed);
    return block;
}

void Block_Release(Pixel_Block *block)
{
    if (block->images_nb.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    size_t bytes = block->bytes;
    block->~Pixel_Block();
    munmap(block, bytes);
}

} // namespace

/* ------------------------------------------------------------------------
 * Pixel store
 * --------------------------------------------------------------------- */

Vexa_Image *AzImage_Create(int width, int height, int slices, int times)
{
    size_t bytes = Store_Bytes(width, height, slices, times);
    Pixel_Store *store = bytes ? (Pixel_Store *)calloc(1, bytes) : nullptr;
    Vexa_Image *image = store ? Store_Init(store, nullptr, width, height, slices, times) : nullptr;
    if (!image)
        free(store);
    return image;
}

int AzImage_Create_Series(int count, int width, int height, int slices, int times, Vexa_Image **images)
{
    size_t bytes = Store_Bytes(width, height, slices, times);
    if (count < 1 || !bytes)
        return 0;
    size_t head = (sizeof(Pixel_Block) + alignof(Pixel_Store) - 1) / alignof(Pixel_Store) * alignof(Pixel_Store);
    size_t total = head + bytes * (size_t)count;
    Pixel_Block *block = total >= block_bytes_min ? Block_Map(total) : nullptr;
    for (int i = 0; i < count; i++) {
        images[i] = nullptr;
        if (block) {
            Pixel_Store *store = (Pixel_Store *)((char *)block + head + bytes * (size_t)i);
            images[i] = Store_Init(store, block, width, height, slices, times);
            if (images[i])
                block->images_nb.fetch_add(1, std::memory_order_relaxed);
        } else {
            images[i] = AzImage_Create(width, height, slices, times);
        }
        if (!images[i]) {
            // The last image freed takes the block with it; with none made, it goes here.
            for (int j = 0; j < i; j++)
                AzImage_Free(images[j]);
            if (block && i == 0)
                munmap(block, total);
            return 0;
        }
    }
    return 1;
}

void AzImage_Free(Vexa_Image *image)
{
    if (!image)
        return;
    if (image->pixels_pt) {
        Pixel_Store *store = Store_Of(image->pixels_pt);
        if (store->block)
            Block_Release(store->block);
        else
            free(store);
    }
    free(image);
}

Vect AzImage_Pixel_Size(const Vexa_Image *image)
{
    return image->pixel_size_pt ? *image->pixel_size_pt : image->pixel_size;
}

Vect AzImage_Pos(const Vexa_Image *image, float x, float y, float z)
{
    if (!image)
        return Vect();
    Vect size = AzImage_Pixel_Size(image);
    Vect p = image->position + (x * size.x) * image->axis_row + (y * size.y) * image->axis_col +
             (z * size.z) * image->axis_normal;
    p.w = 0.0f;
    return p;
}

int16_t *AzImage_GLI_Plane(Vexa_Image *image, int z, int t)
{
    Vexa_Pixels *px = image->pixels_pt;
    return px->gli + (int64_t)(t * image->slices_nb + z) * px->plane_stride;
}

uint8_t *AzImage_TAG_Plane(Vexa_Image *image, int z, int t)
{
    Vexa_Pixels *px = image->pixels_pt;
    return px->tag + (int64_t)(t * image->slices_nb + z) * px->plane_stride;
}

/* ------------------------------------------------------------------------
 * Study callbacks
 * --------------------------------------------------------------------- */

/* The point as one packed value.  A Vect argument arrives as two halves
 * of 64 bits; joined as such, it never goes through memory (a 16-byte load
 * of two 8-byte stores would stall). */
static inline __attribute__((always_inline)) __m128 Point_Packed(const Vect &p)
{
    double low, high;
    memcpy(&low, &p.x, sizeof(low));
    memcpy(&high, &p.z, sizeof(high));
    __m128d a = _mm_set_sd(low), b = _mm_set_sd(high);
    // Keeps the compiler from merging the halves through the stack.
    __asm__("" : "+x"(a), "+x"(b));
    return _mm_castpd_ps(_mm_unpacklo_pd(a, b));
}

/* Offset of the point's plane, or -1 outside: x in [0, width], y in [0,
 * height] (the far edge is inside), z and t truncated toward zero to a
 * plane of the image.  NaN is outside; inside, every conversion below is
 * defined. */
static inline __attribute__((always_inline)) int64_t Point_Plane(const Vexa_Pixels *px, __m128 v)
{
    const Pixel_Store *store = Store_Of(px);
    __m128 inside = _mm_and_ps(_mm_cmpge_ps(v, _mm_load_ps(store->low)), _mm_cmple_ps(v, _mm_load_ps(store->high)));
    if (_mm_movemask_ps(inside) != 0xF)
        return -1;
    // Inside the limits, z and t truncate to a slice and a time point of the image.
    __m128i i = _mm_cvttps_epi32(v);
    int plane = _mm_cvtsi128_si32(_mm_shuffle_epi32(i, 3)) * px->slices_nb + _mm_cvtsi128_si32(_mm_shuffle_epi32(i, 2));
    return (int64_t)plane * px->plane_stride;
}

/* floor(v) for v well inside the int range, without a library call.
 * Truncation is the floor from 0 up (most grey levels): the test against
 * the truncated value is then off the path the result waits on. */
static inline int Floor_Int(double v)
{
    int i = (int)v;
    if (__builtin_expect(v >= 0.0, 1))
        return i;
    return i - ((double)i > v);
}

/* Bilinear grey level of a point outside the interior: invalid outside
 * the image; at the far edge (x0 or y0 the last column or row)
 * the missing neighbour is the pixel itself (step 0), so that x == width
 * reads the last column with weight 1.  The sums are those of the packed
 * path below, in the same order. */
static __attribute__((noinline)) int Image_GLI_Edge(const Vexa_Pixels *px, Vect p)
{
    int64_t plane = Point_Plane(px, Point_Packed(p));
    if (plane < 0)
        return AZ_GLI_INVALID;
    int x0 = (int)p.x, y0 = (int)p.y;
    x0 -= x0 == px->width;
    y0 -= y0 == px->height;
    int64_t step_x = x0 + 1 < px->width ? 1 : 0;
    int64_t step_y = y0 + 1 < px->height ? px->row_stride : 0;
    const int16_t *g = px->gli + plane + (int64_t)y0 * px->row_stride + x0;
    double fx = (double)p.x - x0, fy = (double)p.y - y0;
    double top = g[0] * (1.0 - fx) + g[step_x] * fx;
    double bottom = g[step_y] * (1.0 - fx) + g[step_y + step_x] * fx;
    return Floor_Int(top * (1.0 - fy) + bottom * fy + 0.5);
}

/* Two neighbouring grey levels as the low 32 bits of a vector. */
static inline __m128i Pair_Load(const int16_t *g)
{
    int32_t pair;
    memcpy(&pair, g, sizeof(pair));
    return _mm_cvtsi32_si128(pair);
}

/* Bilinear grey level of (x, y) in plane (z, t) of the key's image.
 * Weights and sums in double, in this order: top = g00 (1 - fx) + g10 fx,
 * bottom = g01 (1 - fx) + g11 fx, level = floor(top (1 - fy) + bottom fy
 * + 0.5); a level on a rounding edge then rounds the same way wherever the
 * host computes it.  Inside the image the two rows are read two pixels at
 * a time and weighed in pairs (the same products and sums, packed). */
static inline __attribute__((always_inline)) int Image_GLI(const Vexa_Image *image, const Vect &p)
{
    const Vexa_Pixels *px = image ? image->pixels_pt : nullptr;
    if (!px)
        return AZ_GLI_INVALID;
    __m128 v = Point_Packed(p);
    // One test for the common case, the point inside with all four neighbours;
    // the rest (outside, far edges, NaN) is decided off this path.
    const Pixel_Store *store = Store_Of(px);
    __m128 interior = _mm_and_ps(_mm_cmpge_ps(v, _mm_load_ps(store->low)),
                                 _mm_cmplt_ps(v, _mm_load_ps(store->interior)));
    if (_mm_movemask_ps(interior) != 0xF)
        return Image_GLI_Edge(px, p);
    __m128i corner = _mm_cvttps_epi32(v);
    int x0 = _mm_cvtsi128_si32(corner), y0 = _mm_cvtsi128_si32(_mm_shuffle_epi32(corner, 1));
    int plane = _mm_cvtsi128_si32(_mm_shuffle_epi32(corner, 3)) * px->slices_nb +
                _mm_cvtsi128_si32(_mm_shuffle_epi32(corner, 2));
    const int16_t *g = px->gli + (int64_t)plane * px->plane_stride + (int64_t)y0 * px->row_stride + x0;
    // g00 g10 g01 g11 as 32-bit integers (sign-extended), then as doubles.
    __m128i rows = _mm_unpacklo_epi32(Pair_Load(g), Pair_Load(g + px->row_stride));
    rows = _mm_srai_epi32(_mm_unpacklo_epi16(rows, rows), 16);
    __m128d top_pair = _mm_cvtepi32_pd(rows), bottom_pair = _mm_cvtepi32_pd(_mm_unpackhi_epi64(rows, rows));
    // (fx, fy) = (x - x0, y - y0) in double; weights (1 - fx, fx) and (1 - fy, fy).
    __m128d f = _mm_sub_pd(_mm_cvtps_pd(v), _mm_cvtepi32_pd(corner));
    __m128d rest = _mm_sub_pd(_mm_set1_pd(1.0), f);
    __m128d weight_x = _mm_unpacklo_pd(rest, f), weight_y = _mm_unpackhi_pd(rest, f);
    __m128d top_terms = _mm_mul_pd(top_pair, weight_x), bottom_terms = _mm_mul_pd(bottom_pair, weight_x);
    __m128d sums = _mm_add_pd(_mm_unpacklo_pd(top_terms, bottom_terms), _mm_unpackhi_pd(top_terms, bottom_terms));
    __m128d terms = _mm_mul_pd(sums, weight_y);
    double level = _mm_cvtsd_f64(_mm_add_sd(terms, _mm_unpackhi_pd(terms, terms)));
    return Floor_Int(level + 0.5);
}

/* Nearest pixel index of an inside coordinate (c >= 0, so truncation is
 * the floor), the far edge giving the last pixel. */
static inline int Nearest(float c, int size)
{
    int i = (int)(c + 0.5f);
    return i > size - 1 ? size - 1 : i;
}

/* Offset of the pixel nearest to p, or -1 outside. */
static inline __attribute__((always_inline)) int64_t Tag_Offset(const Vexa_Image *image, const Vect &p)
{
    const Vexa_Pixels *px = image ? image->pixels_pt : nullptr;
    if (!px)
        return -1;
    int64_t plane = Point_Plane(px, Point_Packed(p));
    if (plane < 0)
        return -1;
    return plane + (int64_t)Nearest(p.y, px->height) * px->row_stride + Nearest(p.x, px->width);
}

int AzStudy_Pixel_Get_GLI(Kelvra_Class *, void *key, Vect point) { return Image_GLI((Vexa_Image *)key, point); }

int Fct_GLI_Interpolate(Kelvra_Class *, void *key, void *, Vect point)
{
    return Image_GLI((Vexa_Image *)key, point);
}

int AzStudy_Pixel_Get_TAG(Kelvra_Class *, void *key, Vect point)
{
    const Vexa_Image *image = (const Vexa_Image *)key;
    int64_t at = Tag_Offset(image, point);
    return at < 0 ? 0 : image->pixels_pt->tag[at];
}

int AzStudy_Pixel_Set_TAG(Kelvra_Class *, void *key, Vect point, unsigned char tag)
{
    Vexa_Image *image = (Vexa_Image *)key;
    int64_t at = Tag_Offset(image, point);
    if (at < 0)
        return 0;
    image->pixels_pt->tag[at] = tag;
    return 1;
}

int AzStudy_Pixel_Get_Dim(Kelvra_Class *, void *key, int *width, int *height)
{
    const Vexa_Image *image = (const Vexa_Image *)key;
    if (!image)
        return 0;
    if (width)
        *width = image->width;
    if (height)
        *height = image->height;
    return 1;
}

Vect AzStudy_Pixel_Get_Pos(Kelvra_Class *, void *key, Vect point)
{
    return AzImage_Pos((const Vexa_Image *)key, point.x, point.y, point.z);
}
