#include "sourcewindow.h"

#include "calib/calibarithmetic.h"
#include "calib/calibrationthread.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"

#include <algorithm>

SourceWindow::SourceWindow(const QString &framePath, int width, int frameHeight)
    : path(framePath), frameWidth(width)
{
    rowTable.width = width;
    rowTable.rows.assign(static_cast<std::size_t>(std::max(frameHeight, 0)), nullptr);
    rowTable.greyRows.assign(rowTable.rows.size(), nullptr);
}

SourceWindow::~SourceWindow() = default;

bool SourceWindow::hold(int firstRow, int count)
{
    const int height = static_cast<int>(rowTable.rows.size());
    const int first = std::max(firstRow, 0);
    const int last = std::min(firstRow + count - 1, height - 1);
    // Pieces wholly outside the range go; those left overlap it and lie next to each other.
    for (auto it = pieces.begin(); it != pieces.end();) {
        if (it->last < first || it->first > last || last < first) {
            for (int y = it->first; y <= it->last; ++y) {
                rowTable.rows[static_cast<std::size_t>(y)] = nullptr;
                rowTable.greyRows[static_cast<std::size_t>(y)] = nullptr;
            }
            it = pieces.erase(it);
        } else {
            ++it;
        }
    }
    if (last < first)
        return true;
    if (pieces.empty())
        return read(first, last);
    int heldFirst = pieces.front().first;
    int heldLast = pieces.front().last;
    for (const Piece &piece : pieces) {
        heldFirst = std::min(heldFirst, piece.first);
        heldLast = std::max(heldLast, piece.last);
    }
    if (first < heldFirst && !read(first, heldFirst - 1))
        return false;
    if (last > heldLast && !read(heldLast + 1, last))
        return false;
    return true;
}

bool SourceWindow::read(int first, int last)
{
    ImageLoader loader;
    auto rows = loader.loadRows(path, first, frameWidth, last - first + 1);
    if (!rows) {
        // A frame shorter than the first one has no such rows: they read as zero.
        if (loader.errorCode == kBandOutsideImage)
            return true;
        errorCode = loader.errorCode != 0 ? loader.errorCode : kNotEnoughMemory;
        return false;
    }
    if (rows->whiteLevel != 1.0f && !normalizeImage(*rows)) {
        errorCode = kFrameNotNormalizable;
        return false;
    }
    std::unique_ptr<float[]> grey = prepareRows ? prepareRows(*rows, first) : nullptr;
    channels = rows->channels;
    sourceWidth = rows->width;
    rowTable.width = rows->width;
    const int got = std::min(rows->height, last - first + 1);
    for (int y = 0; y < got; ++y) {
        rowTable.rows[static_cast<std::size_t>(first + y)] = rows->pixel(0, y);
        if (grey)
            rowTable.greyRows[static_cast<std::size_t>(first + y)] =
                grey.get() + static_cast<std::ptrdiff_t>(y) * rows->width;
    }
    pieces.push_back(Piece{first, first + got - 1, std::move(rows), std::move(grey)});
    return true;
}
