// The console's command line: parseInput and the commands it runs.
#include "verdanix.h"

#include "console/consoleparser.h"
#include "console/outputwindow.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "process/invalidvalues.h"
#include "stars/starcollector.h"
#include "stars/starfinder.h"
#include "view/mdiimage.h"

#include <QApplication>
#include <QCoreApplication>

#include <memory>

namespace {

const char *const kUnknownCommand =
    "Command unknown. Enter <font color=\"#ffffff\">help</font> for a list of available commands.";
const char *const kFakeCommand = "Sorry. Just a fake command, yet. :)";
const char *const kBusy = "[INFO] Cannot execute. A calculation is already running!";

void logHelp(MessageLog &log, const QStringList &parts)
{
    if (parts.size() == 1) {
        log.logMessage(QStringLiteral("<br><font color=\"#ffffff\">HELP</font><br><br>The following commands are "
                                      "available.<br>Use <font color=\"#ffffff\">help &lt;command&gt;</font> for "
                                      "more information."));
        for (const char *line : {"  help - display this help", "  gain - modify gain of image",
                                 "  open - opens an image file", "  exit - Quit program", ""})
            log.logMessage(QString::fromLatin1(line));
        return;
    }
    if (parts.at(1).compare(QLatin1String("gain"), Qt::CaseInsensitive) != 0)
        return;
    for (const char *line : {"gain [-r float] [-g float] [-b float]", "  -r multiply color of red channel by value <float>",
                             "  -g multiply color of green channel by value <float>",
                             "  -b multiply color of blue channel by value <float>", " Example:",
                             "  gain -r 1.5 -g 1.0 -b 0.5"})
        log.logMessage(QString::fromLatin1(line));
}

} // namespace

void Verdanix::parseInput(QString input)
{
    outputWindow->logMessage(QStringLiteral(">>> ") + input);
    const ConsoleCommand line = parseConsoleLine(input);
    const QString &command = line.command;
    if (command == QLatin1String("starsearch"))
        consoleStarSearch(line.names, line.values);
    else if (command == QLatin1String("exit"))
        close();
    else if (command == QLatin1String("checkvals"))
        consoleCheckValues();
    else if (command == QLatin1String("gain") || command == QLatin1String("open"))
        outputWindow->logMessage(QString::fromLatin1(kFakeCommand));
    else if (command == QLatin1String("preview"))
        guardMemory(*outputWindow, [this] { makePreviewWindow(); });
    else if (command == QLatin1String("threadtest"))
        consoleThreadTest();
    else if (command == QLatin1String("help"))
        logHelp(*outputWindow, line.parts);
    else
        outputWindow->logMessage(QString::fromLatin1(kUnknownCommand));
}

void Verdanix::consoleStarSearch(const QStringList &names, const QStringList &values)
{
    QString missing;
    for (const char *name : {"-l", "-h", "-s"})
        if (missing.isEmpty() && paramValue(QString::fromLatin1(name), names, values).isEmpty())
            missing = QString::fromLatin1(name);
    if (!missing.isEmpty()) {
        outputWindow->logMessage(QStringLiteral("Missing parameter: ") + missing);
        return;
    }
    // A value that is not a number counts as 0, as the command has always read it.
    const float low = paramValue(QStringLiteral("-l"), names, values).toFloat();
    const float high = paramValue(QStringLiteral("-h"), names, values).toFloat();
    const int size = paramValue(QStringLiteral("-s"), names, values).toInt();
    mdiImage *source = viewTarget;
    if (!source || !source->buffer || !source->buffer->hasPixels())
        return;
    if (calculationRunning) {
        refuse(QString::fromLatin1(kBusy));
        return;
    }
    outputWindow->logMessage(QStringLiteral("Searching for stars in current image..."));
    outputWindow->logMessage(QStringLiteral("Lower threshold: %1, upper: %2, max FWHM: %3")
                                 .arg(logNumber(low), logNumber(high))
                                 .arg(size));
    guardMemory(*outputWindow, [&] {
        starFinder finder(source->buffer.get(), outputWindow, this);
        // The window shows the searched image with a ring around each star found.
        finder.markStars = true;
        finder.searchStars(size, low, high);
        if (finder.outputImage)
            openResultWindow(std::move(finder.outputImage), QStringLiteral("Stars of ") + source->getName(),
                             source->titleCounter + 1);
    });
}

void Verdanix::consoleCheckValues()
{
    mdiImage *target = viewTarget;
    if (!target || !target->buffer)
        return;
    // A scan of a large image takes a while: it runs as a calculation that Abort can stop.
    if (!startRun(QString::fromLatin1(kBusy), &abortRequested))
        return;
    abortRequested = false;
    outputWindow->logMessage(QStringLiteral("Searching for invalid pixel values..."));
    const InvalidValueScan scan = scanInvalidValues(
        *target->buffer, *outputWindow, [] { QCoreApplication::processEvents(); }, &abortRequested);
    if (scan.aborted) {
        abortRequested = false;
        outputWindow->logMessage(QStringLiteral("Search for invalid pixel values aborted."));
        finishRun(QStringLiteral("Aborted."));
        return;
    }
    finishRun();
}

void Verdanix::consoleThreadTest()
{
    // A collector without frames: the run ends at once with its "at least two images" line.
    auto collector = std::make_unique<StarCollector>(this);
    collector->log = outputWindow;
    connect(collector.get(), SIGNAL(collectFinished(QObject *)), this, SLOT(evCollectFinished(QObject *)));
    collector->run();
}
