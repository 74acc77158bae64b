/*
 * The tag layer over the grey layer: one rule for every picture.
 */
#include "az_gl.h"

namespace {

/* over on under with weight alpha/255, rounded, opaque. */
uint32_t Blend(uint32_t under, uint32_t over, unsigned int alpha)
{
    uint32_t out = 0xff000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        unsigned int a = (under >> shift) & 0xff, b = (over >> shift) & 0xff;
        out |= ((a * (255 - alpha) + b * alpha + 127) / 255) << shift;
    }
    return out;
}

/* Alpha bytes from 253 on are left out by schemes 1 and 2, as the
 * preview's alpha test leaves them out. */
const unsigned int alpha_hidden = 253;

} // namespace

AzTag_Layer AzTag_Layer_Get(void)
{
    AzTag_Layer layer;
    layer.highest = static_cast<unsigned int>(Fct_Variable_Value("$TAG_NB", nullptr, nullptr, nullptr)) & 0xffff;
    layer.red = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_RED", nullptr, nullptr, nullptr));
    layer.green = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_GRN", nullptr, nullptr, nullptr));
    layer.blue = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_BLU", nullptr, nullptr, nullptr));
    layer.alpha = reinterpret_cast<const float *>(Fct_Variable_Value("$TAG_ALPHA", nullptr, nullptr, nullptr));
    layer.scheme = static_cast<int>(Fct_Variable_Value("$COLOR_SCHEME", nullptr, nullptr, nullptr) & 0xff);
    return layer;
}

uint32_t AzTag_Over(const AzTag_Layer *layer, uint32_t grey, int tag)
{
    if (layer->scheme == 3 || !layer->red || !layer->green || !layer->blue || !layer->alpha)
        return grey;
    unsigned int t = static_cast<unsigned int>(tag) & 0xff;
    unsigned int i = t < layer->highest ? t : layer->highest & 0xff;
    uint32_t colour = 0xff000000u | (layer->red[i] >> 8) | (layer->green[i] >> 8) << 8 | (layer->blue[i] >> 8) << 16;
    unsigned int alpha = static_cast<unsigned int>(static_cast<int>(layer->alpha[i] * 255.0)) & 0xff;
    if (layer->scheme == 1)
        return alpha < alpha_hidden ? colour : grey;
    if (layer->scheme == 2)
        return alpha < alpha_hidden ? Blend(grey, colour, alpha) : grey;
    return colour;
}
