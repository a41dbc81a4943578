#include "windowlayout.h"

#include <algorithm>

namespace {
// A one-row image still gets a window that can be grabbed and read.
constexpr int kMinimumImageHeight = 64;
} // namespace

QSize imageWindowSize(const QSize &image, const QSize &frame, int minimumWidth, const QSize &area)
{
    int width = std::max(image.width() + frame.width(), minimumWidth);
    int height = std::max(image.height(), kMinimumImageHeight) + frame.height();
    if (area.width() > 0)
        width = std::min(width, area.width());
    if (area.height() > 0)
        height = std::min(height, area.height());
    return QSize(width, height);
}

QRect keptWithin(const QRect &window, const QSize &minimum, const QRect &area)
{
    if (!area.isValid())
        return window;
    QRect kept = window;
    kept.setWidth(std::max(std::min(kept.width(), area.width()), minimum.width()));
    kept.setHeight(std::max(std::min(kept.height(), area.height()), minimum.height()));
    kept.moveLeft(std::max(area.left(), std::min(kept.left(), area.right() + 1 - kept.width())));
    kept.moveTop(std::max(area.top(), std::min(kept.top(), area.bottom() + 1 - kept.height())));
    return kept;
}
