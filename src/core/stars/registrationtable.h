#pragma once
// The registration table as a file: what a registration measured for each frame (offsets in
// pixels, angle in degrees, in StarCompare's convention), so that the frames can be stacked
// later, by another program run, without registering them again.
//
// Format (JSON):
//   {"frames": [{"file", "offsetX", "offsetY", "angle", "stars", "fwhm", "stackable"}, ...],
//    "threshold": L, "seconds": T}
// A registration refined with all stars adds "refine": true, and "starPairs" and "residualRms"
// to every frame; one with the automatic star threshold adds "autoThreshold": true and each
// frame's "threshold". Tables without them read as before.
// Frame 0 is the reference. A number that is not finite (the offsets of a frame without
// matches) is written as null and read back as NaN. A relative "file" is relative to the
// folder that holds the table.
//
// Threads: plain functions on plain values; any thread may call them.
#include "stars/registrationresult.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <limits>

#include <vector>

struct RegistrationTableRow {
    QString file;
    float offsetX = 0;
    float offsetY = 0;
    float angle = 0;
    float stars = 0;
    float fwhm = 0;
    bool stackable = false;
    int starPairs = 0;                                        // refined tables only
    float residualRms = std::numeric_limits<float>::quiet_NaN(); // refined tables only
    float threshold = std::numeric_limits<float>::quiet_NaN();   // automatic threshold only
};

struct RegistrationTable {
    std::vector<RegistrationTableRow> frames;
    // The star-detection threshold the frames were registered with.
    float threshold = 0.1f;
    // How long the registration took.
    double seconds = 0;
    bool refined = false;       // transformations refined with all stars
    bool autoThreshold = false; // each frame's threshold chosen from its sky noise
};

// The table of a registration run: row i = files[i] with results[i] (as many rows as both have);
// the caller sets `refined` and `autoThreshold`.
RegistrationTable makeRegistrationTable(const QStringList &files, const std::vector<RegistrationResult> &results,
                                        float threshold, double seconds);

// The table as JSON, file names as they are in `table`.
QJsonObject registrationTableJson(const RegistrationTable &table);

// Reads a table written by writeRegistrationTable (or by hand). "file", "offsetX", "offsetY",
// "angle" and "stackable" are required in every frame; "stars" and "fwhm" may be missing (0),
// "threshold" and "seconds" too (defaults). Relative file names come back resolved against the
// table's folder. A stackable frame needs finite offsets and angle. On failure returns false
// with `table` cleared and `error` saying what is wrong and where ("frame 3: ...").
bool readRegistrationTable(const QString &path, RegistrationTable &table, QString &error);

// Writes the table to a new file `path`; never replaces anything and never leaves a partial
// file: it appears whole or not at all (newfile.h), and a name that exists, even as a
// dangling link, is refused. File names that lie inside the table's folder are stored
// relative to it, others absolute.
// Returns 0, or the system's error number (EEXIST when the name is taken) with `error` set.
int writeRegistrationTable(const QString &path, const RegistrationTable &table, QString &error);
