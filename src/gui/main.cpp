#include "app/verdanix.h"
#include "registerformats.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    registerImageFormats();
    Verdanix window;
    window.show();
    return app.exec();
}
