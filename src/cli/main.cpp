#include "commandtable.h"
#include "registerformats.h"
#include "terminallog.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    registerImageFormats();
    TerminalLog log(stderr);
    installMessageLog(&log);

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliContext context{out, err};
    const int status = dispatchCommandLine(QCoreApplication::arguments().mid(1), context);
    out.flush();
    err.flush();
    installMessageLog(nullptr);
    return status;
}
