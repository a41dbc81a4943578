#pragma once
// Reading JPEG, PNG, TIFF and BMP files through Qt's image reader, for the core loader's
// standard-image hook. Samples are 8-bit (0 ... 255, whiteLevel 255, blackLevel 0) whatever
// the file's depth; a file's own transparency is dropped (alpha 1.0). Grey images report
// channels 2, colour ones 3. The file's orientation tag is not applied, as RAW frames are
// not rotated either. Reentrant: any thread may call both functions at once.
#include <QString>

#include <memory>

class ImageBuffer;

// Null with kStandardImageUnreadable when Qt cannot read the file. May throw
// AllocationFailure, which the loader catches.
std::unique_ptr<ImageBuffer> readStandardImage(const QString &path, int &errorCode);
// Reads the size from the file's header where the format allows, else decodes it.
bool readStandardImageSize(const QString &path, int &width, int &height, int &errorCode);
