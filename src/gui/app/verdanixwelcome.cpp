// The first-run welcome and the About box.
#include "verdanix.h"

#include "aboutbox.h"
#include "console/outputwindow.h"
#include "platform/settingsfile.h"

#include <QAction>
#include <QCoreApplication>
#include <QMessageBox>

namespace {
const char *const kWelcomeText =
    "PLEASE READ CAREFULLY!\n"
    "This is a very experimental version. It may crash for no particular reason. Because it can use a lot of "
    "system resources it may also make your system unstable or unresponsive.\n"
    "Before opening any file, please make sure you have a backup and you are able to recover the file. Altough "
    "this application never \"ate\" a file during testing, it cannout be guaranteed at the moment.\n"
    "You're using this program at your very own risk. The author of this application cannot be made responsible "
    "for any damage that is done to your files or system at all.\n"
    "Do you agree?";
}

void Verdanix::showWelcome()
{
    QMessageBox welcome(this);
    welcome.setObjectName(QStringLiteral("welcomeBox"));
    welcome.setText(QStringLiteral("Experimental Version"));
    welcome.setInformativeText(QString::fromUtf8(kWelcomeText));
    welcome.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    welcome.setDefaultButton(QMessageBox::No);
    welcome.setEscapeButton(QMessageBox::No);
    if (welcome.exec() != QMessageBox::Yes) {
        // FirstRun stays set, so the text is shown again at the next start.
        QCoreApplication::exit(0);
        return;
    }

    console()->logMessage(QStringLiteral("Congrats to your new application!"));
    settingsfile::setFirstRun(false);

    QMessageBox firstRun(this);
    firstRun.setObjectName(QStringLiteral("firstRunBox"));
    firstRun.setWindowTitle(QStringLiteral("First run"));
    firstRun.setText(QStringLiteral("This is the first time you start Verdanix."));
    firstRun.setInformativeText(QStringLiteral("You should have a look at the Performance settings to adjust CPU and "
                                               "memory usage. Some reasonable settings should already been set."));
    firstRun.setStandardButtons(QMessageBox::Ok);
    firstRun.exec();
    preferencesAct->trigger();
}

void Verdanix::evAbout()
{
    auto *about = new AboutBox(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::ApplicationModal);
    about->show();
}
