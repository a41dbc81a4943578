#pragma once
// The star-search registration: the single-threaded way to register frames, started from the
// star-search dialog. Frames are loaded, calibrated, searched and compared one after another
// on the calling thread, with every step in the console (the star finder's and the estimate's
// lines included), and the caller opens a registration dialog with the table it returns.
//
// Unlike the registration run (starcollector.h), the flat and the dark master are corrected by
// the bias when they are loaded, and frames get the dark before the bias.
//
// Threads: call on the GUI thread (any thread with a Qt application will do); pending events
// are processed once per frame, so the interface stays live between frames. The abort flag
// (the main window's abort request) is looked at after each frame and cleared when it ended
// the registration.
#include "log/messagelog.h"
#include "stars/registrationtable.h"
#include "stars/starrecord.h"

#include <QString>
#include <QStringList>

#include <atomic>

struct StarSearchRegistrationRequest {
    QStringList files; // the first is the reference
    QString flatPath;  // empty: no master of that kind
    QString darkPath;
    QString biasPath;
    StarSearchParameters search;
    // Refine each stackable frame's transformation with all its stars (transformrefinement.h).
    bool refine = false;
};

enum class StarSearchOutcome {
    Registered,   // `table` holds one row per file, in file order
    TooFewFrames, // "Not enough frames to do registration!"
    Aborted,      // "Aborted image registration."
    Failed,       // a master or frame could not be loaded or calibrated; errorCode says why
};

struct StarSearchRegistration {
    StarSearchOutcome outcome = StarSearchOutcome::Failed;
    // 0, or the loader's code, kFrameNotNormalizable or kNotEnoughMemory for Failed.
    int errorCode = 0;
    // Rows with file = the path as given; threshold = the search's threshold.
    RegistrationTable table;
};

// Runs the star-search registration. A master or frame that cannot be loaded ends it with a
// line that names the file and the reason; a master whose size differs from the frames is
// left out with one warning.
StarSearchRegistration runStarSearchRegistration(const StarSearchRegistrationRequest &request, MessageLog &log,
                                                 std::atomic<bool> *abortFlag = nullptr);
