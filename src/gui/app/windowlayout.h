#pragma once
// Sizes and places of the main window and its image windows, as pure functions of the
// figures involved, so that any screen can be tried.
#include <QRect>
#include <QSize>

// The size of a new image window: its image at 100 % plus the window's frame (`frame`), at
// least `minimumWidth` wide so that the title is not cut, and never larger than `area`
// (the document area; an empty area does not limit).
QSize imageWindowSize(const QSize &image, const QSize &frame, int minimumWidth, const QSize &area);

// The window's geometry (frame included) moved and, where it must be, shrunk to lie within
// `area`; `minimum` is the smallest frame size the window's layout allows.
QRect keptWithin(const QRect &window, const QSize &minimum, const QRect &area);
