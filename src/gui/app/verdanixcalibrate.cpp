// Preferences and the light-frame calibration run.
#include "verdanix.h"

#include "calib/wndsettings.h"

void Verdanix::evShowPreferences()
{
    auto *settings = new wndSettings;
    settings->setAttribute(Qt::WA_DeleteOnClose);
    settings->show();
}
