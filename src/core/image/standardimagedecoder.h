#pragma once
// The hook through which a front end lends the core loader a reader for standard images
// (jpg, jpeg, png, tif, tiff, bmp): core links QtCore only and cannot decode them itself.
// Hooks are plain function pointers, installed once at start-up and read by any thread.
#include <QString>

#include <memory>

class ImageBuffer;

// Decodes the whole file into 8-bit sample values (0 ... 255) with whiteLevel 255,
// blackLevel 0, alpha 1.0 and channels 3 (2 for a grey image). On failure returns null and
// sets errorCode. Must not throw except std::bad_alloc, which the loader catches.
using StandardImageDecoder = std::unique_ptr<ImageBuffer> (*)(const QString &path, int &errorCode);
// Reads only the image size. Returns false and sets errorCode when the file cannot be read.
using StandardImageSizeReader = bool (*)(const QString &path, int &width, int &height, int &errorCode);

// nullptr removes a hook; without a decoder standard images are not readable.
void setStandardImageDecoder(StandardImageDecoder decoder);
StandardImageDecoder standardImageDecoder();
// Without a size reader the loader decodes the whole file to learn its size.
void setStandardImageSizeReader(StandardImageSizeReader reader);
StandardImageSizeReader standardImageSizeReader();
