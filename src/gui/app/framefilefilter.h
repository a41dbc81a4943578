#pragma once
// The filter of every file dialog that picks frames (light frames, single calibration frames,
// masters). Qt's file dialog separates the patterns of one filter by spaces.
constexpr const char *kFrameFileFilter = "All supported types(*.cr2 *.nef *.fit *.fts *.fits *.fz *.fit.gz *.fits.gz "
                                         "*.fts.gz)\n"
                                         "Canon RAW(*.cr2)\n"
                                         "Nikon RAW(*.nef)\n"
                                         "FITS(*.fit *.fts *.fits *.fz *.fit.gz *.fits.gz *.fts.gz)";
