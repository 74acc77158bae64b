/*
 * The host's colours: grey levels to RGBA through a display window, the tag
 * colour tables and the colour settings the views read by name.
 */
#include <math.h>

#include "az_db.h"
#include "az_gl.h"

#define GLI_INVALID 2147483646
#define DEFAULT_WINDOW_LOW 0.0f
#define DEFAULT_WINDOW_HIGH 4095.0f

namespace {

/* The display window set up last on this thread: every view sets up its
 * own image before it converts, and views may draw on different threads. */
struct Grey_Window {
    float low = DEFAULT_WINDOW_LOW;
    float scale = 255.0f / (DEFAULT_WINDOW_HIGH - DEFAULT_WINDOW_LOW);
    uint32_t invalid = 0xff000000u | AZ_GL_DEFAULT_GLI_INVALID;
};

thread_local Grey_Window grey_window;

uint16_t tag_red[AZ_GL_TAG_TABLE];
uint16_t tag_green[AZ_GL_TAG_TABLE];
uint16_t tag_blue[AZ_GL_TAG_TABLE];
float tag_alpha[AZ_GL_TAG_TABLE];

/* Distinct colours for the first labels; later ones walk the hue circle. */
const uint8_t tag_palette[][3] = {
    {255, 0, 0},   {0, 255, 0},   {0, 0, 255},     {255, 255, 0},   {0, 255, 255},  {255, 0, 255},
    {255, 128, 0}, {128, 0, 255}, {0, 255, 128},   {255, 0, 128},   {128, 255, 0},  {0, 128, 255},
    {128, 64, 0},  {255, 128, 128}, {128, 255, 128}, {128, 128, 255},
};
const int tag_palette_nb = (int)(sizeof(tag_palette) / sizeof(tag_palette[0]));

void Hue_Color(int tag, uint8_t rgb[3])
{
    /* Golden-angle steps keep neighbouring labels far apart in hue. */
    float hue = fmodf((float)tag * 137.50776f, 360.0f) / 60.0f;
    int sector = (int)hue;
    float f = hue - (float)sector;
    uint8_t up = (uint8_t)(255.0f * f);
    uint8_t down = (uint8_t)(255.0f * (1.0f - f));
    const uint8_t table[6][3] = {{255, up, 0}, {down, 255, 0}, {0, 255, up},
                                 {0, down, 255}, {up, 0, 255}, {255, 0, down}};
    for (int c = 0; c < 3; c++)
        rgb[c] = table[sector % 6][c];
}

} // namespace

int Fct_GLI_2_Color(unsigned char display_mode, float high, float low)
{
    if (!isfinite(high) || !isfinite(low))
        return 0;
    float minimum = low, maximum = high;
    if (display_mode == AZ_GL_DISPLAY_UNSET || !(maximum > minimum)) {
        minimum = DEFAULT_WINDOW_LOW;
        maximum = DEFAULT_WINDOW_HIGH;
    }
    grey_window.low = minimum;
    grey_window.scale = 255.0f / (maximum - minimum);
    grey_window.invalid =
        (uint32_t)Fct_Variable_Value("$COLORMAP_GLI_INVALID", NULL, NULL, NULL) | 0xff000000u;
    return 1;
}

unsigned int Fct_GLI_2_Color(int gli)
{
    if (gli == GLI_INVALID)
        return grey_window.invalid;
    float v = ((float)gli - grey_window.low) * grey_window.scale;
    uint32_t g = v <= 0.0f ? 0u : v >= 255.0f ? 255u : (uint32_t)(v + 0.5f);
    return 0xff000000u | g << 16 | g << 8 | g;
}

int AzGl_Tag_Set(int tag, int red, int green, int blue, float alpha)
{
    if (tag < 0 || tag >= AZ_GL_TAG_TABLE)
        return 0;
    /* 8-bit components fill both bytes: 255 becomes 65535. */
    tag_red[tag] = (uint16_t)((red & 0xff) * 257);
    tag_green[tag] = (uint16_t)((green & 0xff) * 257);
    tag_blue[tag] = (uint16_t)((blue & 0xff) * 257);
    tag_alpha[tag] = alpha;
    return 1;
}

void AzGl_Tags_Default(void)
{
    /* No label: never drawn over the grey levels. */
    AzGl_Tag_Set(0, 0, 0, 0, 1.0f);
    for (int tag = 1; tag < AZ_GL_TAG_TABLE; tag++) {
        uint8_t rgb[3];
        if (tag <= tag_palette_nb) {
            for (int c = 0; c < 3; c++)
                rgb[c] = tag_palette[tag - 1][c];
        } else {
            Hue_Color(tag, rgb);
        }
        AzGl_Tag_Set(tag, rgb[0], rgb[1], rgb[2], 0.5f);
    }
}

int AzGl_Init(void)
{
    AzGl_Tags_Default();
    AzVar_Set("$COLORMAP_GLI_INVALID", (intptr_t)AZ_GL_DEFAULT_GLI_INVALID);
    AzVar_Set("$COLOR_SCHEME", AZ_GL_DEFAULT_SCHEME);
    AzVar_Set("$TAG_NB", AZ_GL_DEFAULT_TAG_NB);
    /* Tables are read by their address. */
    AzVar_Set("$TAG_RED", (intptr_t)tag_red);
    AzVar_Set("$TAG_GRN", (intptr_t)tag_green);
    AzVar_Set("$TAG_BLU", (intptr_t)tag_blue);
    AzVar_Set("$TAG_ALPHA", (intptr_t)tag_alpha);
    return 1;
}
