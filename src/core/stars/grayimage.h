#pragma once
// The one-channel image the star search works on, and the background level it compares with.
//
// Pixels, origin top-left, y down, row-major. Pure functions: any thread may call them on a
// buffer that nobody writes meanwhile. A gray image is owned by its creator (the search).
#include <cstdint>
#include <memory>

class ImageBuffer;

struct GrayImage {
    int width = 0;
    int height = 0;
    std::unique_ptr<float[]> values;

    float at(int x, int y) const { return values[static_cast<std::int64_t>(y) * width + x]; }
    const float *row(int y) const { return values.get() + static_cast<std::int64_t>(y) * width; }
};

// Gray value of a colour: red x 0.299 + green x 0.587 + blue x 0.144 in float, in that order.
// Note 0.587 here, unlike the 0.586 of the colour statistics, and 0.144 for blue: the weights
// add up to 1.03, and star thresholds have always been set on this scale.
inline float grayOf(float r, float g, float b)
{
    return r * 0.299f + g * 0.587f + b * 0.144f;
}

// A colour image (channels >= 3) becomes grayOf its pixels, a grey image its red component.
// Pixels are read as getPixel reads them, so a NaN component counts as 0.
// Throws std::bad_alloc when the image cannot be had.
GrayImage makeGrayImage(const ImageBuffer &image);

// The sky level the search starts from: the sigma-clipped mean colour (k = 1) of the whole
// image turned gray with the weights above in double precision, rounded to float. For a grey
// image this is 1.03 x its level, while its gray image is the level itself: stars must then
// stand out a little more, as they always had to. An image without pixels gives 0; an image
// in which rounding leaves no pixel within the clipping bounds falls back to the plain mean.
float starBackgroundLevel(const ImageBuffer &image);
