#pragma once
// What a file holds, as the command line's `info` reports it: format, size, scale and the
// luminance clipping points that opening an image logs.
#include <QString>

#include <optional>

struct ImageInfo {
    QString path;
    QString format; // "RAW", "FITS" or "standard image"
    int width = 0;
    int height = 0;
    int channels = 0;
    std::optional<int> bitpix; // FITS only
    float whiteLevel = 0.0f;
    float blackLevel = 0.0f;
    float minValue = 0.0f;
    float maxValue = 0.0f;
    float lowClip = 0.0f;  // 0.1 % of the pixels lie below
    float highClip = 0.0f; // 0.1 % of the pixels lie above
};

// The format that the file's extension selects, or an empty string for none.
QString formatForPath(const QString &path);

// Loads the whole file; on failure returns nothing and sets errorCode (the loader's code).
std::optional<ImageInfo> describeImage(const QString &path, int &errorCode);
