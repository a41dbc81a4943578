#include "commandtable.h"
#include "interrupt.h"
#include "registerformats.h"
#include "terminallog.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installTerminationHandlers();
    registerImageFormats();
    TerminalLog log(stderr);
    installMessageLog(&log);

    // Results and failures go around the progress line, never into it.
    TerminalStream outDevice(stdout, log);
    TerminalStream errDevice(stderr, log);
    QTextStream out(&outDevice);
    QTextStream err(&errDevice);
    CliContext context{out, err};
    const int status = dispatchCommandLine(QCoreApplication::arguments().mid(1), context);
    out.flush();
    err.flush();
    installMessageLog(nullptr);
    return status;
}
