#include "app/verdanix.h"
#include "platform/newfile.h"
#include "registerformats.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    registerImageFormats();
    // A save cut short by a signal leaves nothing behind.
    removeScratchFilesOnEndingSignals();
    Verdanix window;
    window.show();
    return app.exec();
}
