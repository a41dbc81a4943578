#include "rawreader.h"

#include "imageloader.h"

#include <QFile>

#include <libraw/libraw.h>

#include <algorithm>
#include <cstring>

namespace {

// Larger files are read through a streaming source instead of one buffer.
constexpr INT64 kMaxBufferBytes = 262144000;
constexpr int kDevelopedColours = 3;
constexpr int kDevelopedBits = 16;
constexpr float kRawWhiteLevel = 65535.0f;

struct MemImageFree {
    void operator()(libraw_processed_image_t *image) const { LibRaw::dcraw_clear_mem(image); }
};
using MemImage = std::unique_ptr<libraw_processed_image_t, MemImageFree>;

// Linear output in the camera's own colours, so that calibration and stacking work on
// values proportional to the light that reached the sensor.
void setOutputParameters(LibRaw &raw, bool setFlip)
{
    libraw_output_params_t &params = raw.imgdata.params;
    params.output_bps = 16;
    params.gamm[0] = 1.0;
    params.gamm[1] = 1.0;
    params.no_auto_bright = 1;
    params.use_camera_wb = 1;
    params.output_color = 0;
    if (setFlip)
        params.user_flip = 0;
}

// LibRaw decodes damaged sensor data as best it can and only mentions it on stderr. A frame
// with damaged data would spoil a stack, so it counts as a failed load; the flag lives in
// the caller's frame so that readers on several threads never share it.
void noteDataError(void *damaged, const char *, const int)
{
    *static_cast<bool *>(damaged) = true;
}

// Opens and unpacks; returns 0 or the LibRaw code of the failing step.
int openAndUnpack(LibRaw &raw, const QString &path, bool &damaged)
{
    raw.set_dataerror_handler(noteDataError, &damaged);
    const QByteArray name = QFile::encodeName(path);
    int result = raw.open_file(name.constData(), kMaxBufferBytes);
    if (result == LIBRAW_SUCCESS)
        result = raw.unpack();
    if (result == LIBRAW_SUCCESS && damaged)
        result = LIBRAW_DATA_ERROR;
    return result;
}

bool isRgb16(const libraw_processed_image_t &image)
{
    if (image.type != LIBRAW_IMAGE_BITMAP || image.colors != kDevelopedColours || image.bits != kDevelopedBits)
        return false;
    const std::uint64_t needed = std::uint64_t(image.width) * image.height * kDevelopedColours * sizeof(std::uint16_t);
    return needed <= image.data_size;
}

// Bayer sensors (dcraw's convention: a filter pattern above 999) can be developed band by
// band. For other layouts LibRaw ignores the crop's top edge, so those bands are cut from
// the developed whole image instead.
bool cropsCorrectly(const LibRaw &raw)
{
    return raw.imgdata.idata.filters > 999;
}

// Fills every float of the buffer: the part of the developed image from sourceRow on that
// overlaps it, then zeros. Pixels that LibRaw did not deliver keep alpha 0, which marks them
// as missing downstream.
void copyDeveloped(const libraw_processed_image_t &image, int sourceRow, ImageBuffer &buffer)
{
    const int columns = std::max(0, std::min<int>(buffer.width, image.width));
    const int rows = std::max(0, std::min<int>(buffer.height, image.height - sourceRow));
    const std::size_t rowBytes = std::size_t(image.width) * kDevelopedColours * sizeof(std::uint16_t);
    for (int y = 0; y < buffer.height; ++y) {
        float *out = buffer.pixel(0, y);
        const int copied = y < rows ? columns : 0;
        const unsigned char *source = image.data + (sourceRow + y) * rowBytes;
        for (int x = 0; x < copied; ++x) {
            // LibRaw writes its samples in the host's byte order.
            std::uint16_t rgb[kDevelopedColours];
            std::memcpy(rgb, source, sizeof rgb);
            out[0] = rgb[0];
            out[1] = rgb[1];
            out[2] = rgb[2];
            out[3] = 1.0f;
            source += sizeof rgb;
            out += ImageBuffer::kFloatsPerPixel;
        }
        std::fill(out, buffer.pixel(0, y) + std::size_t(buffer.width) * ImageBuffer::kFloatsPerPixel, 0.0f);
    }
}

} // namespace

std::unique_ptr<ImageBuffer> RawReader::loadImage(const QString &path)
{
    return develop(path, false, 0, 0, 0);
}

std::unique_ptr<ImageBuffer> RawReader::loadBand(const QString &path, int firstRow, int width, int rowCount)
{
    return develop(path, true, firstRow, width, rowCount);
}

std::unique_ptr<ImageBuffer> RawReader::develop(const QString &path, bool band, int firstRow, int width,
                                                int rowCount)
{
    errorCode = 0;
    bytesNeeded = 0;
    try {
        // The processor holds large tables; keep it off the stack of worker threads.
        auto raw = std::make_unique<LibRaw>(0);
        setOutputParameters(*raw, true);
        bool damaged = false;
        errorCode = openAndUnpack(*raw, path, damaged);
        if (errorCode != LIBRAW_SUCCESS)
            return nullptr;
        // Unpacked: the file and its read buffers are no longer needed.
        raw->recycle_datastream();
        const int imageWidth = raw->imgdata.sizes.width;
        const int imageHeight = raw->imgdata.sizes.height;
        int bufferWidth = imageWidth;
        int bufferHeight = imageHeight;
        int sourceRow = 0;
        if (band) {
            if (firstRow < 0 || firstRow >= imageHeight || rowCount <= 0 || width <= 0) {
                errorCode = kBandOutsideImage;
                return nullptr;
            }
            bufferWidth = width;
            bufferHeight = std::min(rowCount, imageHeight - firstRow);
            if (cropsCorrectly(*raw)) {
                libraw_output_params_t &params = raw->imgdata.params;
                params.cropbox[0] = 0;
                params.cropbox[1] = static_cast<unsigned>(firstRow);
                params.cropbox[2] = static_cast<unsigned>(width);
                params.cropbox[3] = static_cast<unsigned>(rowCount);
            } else {
                sourceRow = firstRow;
            }
        }
        errorCode = raw->dcraw_process();
        if (errorCode == LIBRAW_SUCCESS && damaged)
            errorCode = LIBRAW_DATA_ERROR;
        if (errorCode != LIBRAW_SUCCESS)
            return nullptr;
        int makeError = LIBRAW_SUCCESS;
        MemImage image(raw->dcraw_make_mem_image(&makeError));
        // LibRaw's working copies are no longer needed; dropping them before our buffer is
        // allocated keeps the peak at two full-size arrays.
        raw.reset();
        if (!image) {
            errorCode = makeError != LIBRAW_SUCCESS ? makeError : LIBRAW_UNSPECIFIED_ERROR;
            return nullptr;
        }
        if (!isRgb16(*image)) {
            errorCode = kRawUnsupportedLayout;
            return nullptr;
        }
        auto buffer = ImageBuffer::createUnfilled(bufferWidth, bufferHeight);
        copyDeveloped(*image, sourceRow, *buffer);
        buffer->whiteLevel = kRawWhiteLevel;
        buffer->blackLevel = 0.0f;
        buffer->channels = 3;
        return buffer;
    } catch (const AllocationFailure &failure) {
        errorCode = kNotEnoughMemory;
        bytesNeeded = failure.bytes;
    } catch (const std::bad_alloc &) {
        errorCode = kNotEnoughMemory;
    }
    return nullptr;
}

bool RawReader::readSize(const QString &path, int &width, int &height)
{
    width = 0;
    height = 0;
    errorCode = 0;
    try {
        auto raw = std::make_unique<LibRaw>(0);
        setOutputParameters(*raw, false);
        bool damaged = false;
        errorCode = openAndUnpack(*raw, path, damaged);
        if (errorCode != LIBRAW_SUCCESS)
            return false;
        width = raw->imgdata.sizes.width;
        height = raw->imgdata.sizes.height;
        raw->recycle();
        return true;
    } catch (const std::bad_alloc &) {
        errorCode = kNotEnoughMemory;
        return false;
    }
}
