#pragma once
// How the main window words what it shows: the pixel read-out, the zoom factor, and the
// labels of window lists (the Window menu, the combination tool, the gain dialog).
#include <QString>
#include <QStringList>

// A read-out value in at most nine characters, so that it fits its 64-pixel label: four
// significant digits ("0.1235", "12.35"), whole numbers below 100000 as they are ("65535"),
// everything smaller than 0.001 or from 100000 up in compact scientific form ("1.5e-5").
QString readoutText(double value);
// A text as wide as any readoutText can be, to size the labels' font by.
QString widestReadoutText();

// The zoom factor as a percentage: "100 %", "12.5 %".
QString zoomText(double zoom);

// One label per window title, in the given order: the title itself, and for a title that an
// earlier entry already has, the title followed by " [n]" for its n-th occurrence.
QStringList windowListLabels(const QStringList &titles);
