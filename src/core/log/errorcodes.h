#pragma once
// Every error code of the program in one place, and the words for them.
//
// A code is 0 for success, a LibRaw code (negative) from a camera RAW file, a cfitsio status
// (1 ... 999) from a FITS file, or one of the program's own (1000 and up). Two run codes lie
// in the low range for historical reasons (1 and 2); no file operation produces them.
// The texts are lower case and without a full stop, so that they read well after
// "cannot open 'x.fits': "; the designed log lines keep their own wording and may be
// followed by one of these.
#include <QString>

// cfitsio statuses that the program produces itself.
constexpr int kFitsFileNotOpened = 104;  // FILE_NOT_OPENED
constexpr int kFitsFileNotCreated = 105; // FILE_NOT_CREATED: exists already, or cannot be created
constexpr int kFitsWriteError = 106;     // WRITE_ERROR
constexpr int kFitsNothingToWrite = 323; // NEG_AXIS: an empty image, or no planes prepared

// Runs.
constexpr int kStackTransformIndexInvalid = 1; // setTransform was given a frame index outside 0 .. N - 1
constexpr int kStackTooFewFrames = 2;          // fewer than two frames to stack
constexpr int kRegistrationTooFewFrames = 2;   // fewer than two frames to register
constexpr int kCalibrationAborted = 1011;      // Abort ended a calibration
constexpr int kRegistrationAborted = 1012;     // Abort ended a registration
constexpr int kStackBudgetTooSmall = 1098;     // the memory budget holds not one row of every frame
constexpr int kStackAborted = 1099;            // the Abort flag ended the stack

// Loading and saving images.
constexpr int kUnreadableExtension = 1101; // the name ends in no type the program reads
constexpr int kFitsUnsupportedLayout = 1102; // BITPIX, NAXIS or plane count the program cannot show
constexpr int kNotEnoughMemory = 1103; // the image would not fit in memory (loads and saves alike)
constexpr int kRawUnsupportedLayout = 1104; // LibRaw developed something other than three 16-bit colours
constexpr int kStandardImageUnreadable = 1105; // the installed decoder could not read a standard image
constexpr int kBandOutsideImage = 1106; // a band that starts outside the image or has no rows or columns
constexpr int kFrameNotNormalizable = 1107; // white level equals black level: no range to normalise
constexpr int kCompressedDataDamaged = 1108; // gzip-compressed FITS data end early or fail their check
constexpr int kNotARegularFile = 1109; // a folder, pipe, device or socket: refused before any read

// What went wrong, for any code of the program, cfitsio or LibRaw ("unknown error" for a code
// nobody knows).
QString errorCodeText(int code);

// Why `path` cannot be read as an input file, or "" when it is a readable, non-empty regular
// file: "no such file", "it is a folder, not a file", "it is a pipe, not a file", "it is a
// device, not a file", "permission denied", "the file is empty". Never opens the file, so a
// pipe is not waited on.
QString inputFileProblem(const QString &path);

// Why loading `path` failed with `code`, in words: the state of the file when that says it
// (inputFileProblem), else errorCodeText with a hint at what kind of file it is.
QString fileFailureText(const QString &path, int code);

// Why a new file cannot be created under `path`, or "" when it can: the name exists (also as
// a symbolic link, dangling or not), the folder does not exist or is not a folder, or the
// name is empty or ends in '/'. Creating stays exclusive whatever this says beforehand.
QString newFileProblem(const QString &path);

// The system's words for errno `number` in lower case ("no space left on device").
QString systemErrorText(int number);

// The line the command line shows for a failure: "<what> '<path>': <reason> (error <code>)";
// the bracket is left out for code 0.
QString failureLine(const QString &what, const QString &path, const QString &reason, int code = 0);
