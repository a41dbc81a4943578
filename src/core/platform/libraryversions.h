#pragma once
// Versions of the libraries this build actually runs with (not the headers it was built
// against), for the About box and the command line's --version.
#include <QString>

QString qtRuntimeVersion();
QString librawRuntimeVersion();
QString cfitsioRuntimeVersion();
