#pragma once
// The rows of one frame that a registered band is being resampled from. The band is filled a
// few output rows at a time; each step needs a range of source rows that moves on steadily, so
// the window keeps the rows still needed, reads only the new ones (loadRows) and lets go of
// the rest. The rows of a step were just read and are still in the cache when they are
// resampled, and a loader holds a few megabytes of source instead of a whole band.
//
// Rows are normalised as they are read (when the frame is not normalised already), exactly as
// a whole band would be. Threads: one window per loader thread.
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class ImageBuffer;

// Source rows by frame row number: rows[y] is the first float of row y (width pixels of
// r, g, b, a), or null where the row is not held (it then reads as zero). greyRows[y], when
// the window's preparer gave them, is the same row as one float per pixel (null otherwise); a
// grey row is followed by at least 8 more floats, so that a vector load starting in it stays in
// memory.
struct SourceRowTable {
    int width = 0;
    std::vector<const float *> rows;
    std::vector<const float *> greyRows;
    const float *row(int y) const
    {
        return y >= 0 && y < static_cast<int>(rows.size()) ? rows[static_cast<std::size_t>(y)] : nullptr;
    }
};

class SourceWindow {
public:
    // frameWidth: the width a RAW band is read at; frameHeight: the rows the table can hold.
    SourceWindow(const QString &path, int frameWidth, int frameHeight);
    ~SourceWindow();

    // Holds rows firstRow .. firstRow + count - 1 (clipped to the frame), reading those not
    // held yet and dropping held pieces that lie wholly outside. False with errorCode set when
    // a read fails or the frame has no value range.
    bool hold(int firstRow, int count);

    const SourceRowTable &table() const { return rowTable; }
    // The loader's code of the failed read, or kFrameNotNormalizable.
    int errorCode = 0;
    // Channels of the frame as read (2 for grey), 0 before the first read.
    int channels = 0;
    // The frame's own width as read, 0 before the first read.
    int sourceWidth = 0;
    // When set, runs on every piece of rows once it is read and normalised, with the frame row
    // of its first row (an interpolating loader calibrates the rows here, before they are used).
    // It may return the piece's grey values (one float per pixel, then 8 more), which the
    // window keeps as the rows' greyRows.
    std::function<std::unique_ptr<float[]>(ImageBuffer &rows, int firstRow)> prepareRows;

private:
    struct Piece {
        int first = 0;
        int last = 0;
        std::unique_ptr<ImageBuffer> rows;
        std::unique_ptr<float[]> grey;
    };
    bool read(int first, int last);

    const QString path;
    const int frameWidth;
    SourceRowTable rowTable;
    std::vector<Piece> pieces;
};
