// verdanix-cli register: the registration run of the desktop program's "Register" button, with
// its table printed (or saved) for a later `stack --registration`.
#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "interrupt.h"
#include "stars/registrationtable.h"
#include "stars/starcollector.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>

namespace {

// The table as the registration dialog shows it: numbers with six significant digits.
void printTable(const RegistrationTable &table, QTextStream &out)
{
    QStringList header = {"File", "X Offset", "Y Offset", "Angle", "Stars", "FWHM", "Stackable"};
    if (table.refined)
        header << QStringLiteral("Pairs") << QStringLiteral("Residual");
    QList<QStringList> rows;
    for (const RegistrationTableRow &frame : table.frames) {
        QStringList row{frame.file,
                        logNumber(frame.offsetX),
                        logNumber(frame.offsetY),
                        logNumber(frame.angle),
                        logNumber(frame.stars),
                        logNumber(frame.fwhm),
                        frame.stackable ? QStringLiteral("yes") : QStringLiteral("no")};
        // A frame that was not refined (the reference, or one whose refinement failed) shows dashes.
        if (table.refined)
            row << (frame.starPairs > 0 ? QString::number(frame.starPairs) : QStringLiteral("-"))
                << (frame.starPairs > 0 ? logNumber(frame.residualRms) : QStringLiteral("-"));
        rows << row;
    }
    QVector<int> widths;
    for (const QString &title : header)
        widths << title.size();
    for (const QStringList &row : rows)
        for (int c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], static_cast<int>(row[c].size()));
    // The file name left-aligned, the figures right-aligned under their titles.
    const auto printRow = [&](const QStringList &row) {
        QString line = row[0].leftJustified(widths[0]);
        for (int c = 1; c < row.size(); ++c)
            line += QStringLiteral("  ") + row[c].rightJustified(widths[c]);
        out << line << "\n";
    };
    printRow(header);
    for (const QStringList &row : rows)
        printRow(row);
}

QString failureText(const StarCollector &collector)
{
    const int code = collector.errorCode;
    if (code == kRegistrationAborted)
        return QStringLiteral("registration aborted");
    if (collector.errorFile.isEmpty())
        return QStringLiteral("registration stopped: ") + errorCodeText(code);
    const QString &file = collector.errorFile;
    return QStringLiteral("registration stopped: ")
           + failureLine(QStringLiteral("cannot open"), file, fileFailureText(file, code));
}

int runRegister(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() < 2)
        return failWith(context, QStringLiteral("register needs at least two frames; the first is the reference"),
                        kExitUsage);
    StarSearchParameters search;
    if (!parseStarSearchOptions(args, search, context))
        return kExitUsage;
    RegistrationParameters parameters;
    parameters.files = args.positionals();
    parameters.biasPath = args.value(QStringLiteral("--bias")).value_or(QString());
    parameters.darkPath = args.value(QStringLiteral("--dark")).value_or(QString());
    parameters.flatPath = args.value(QStringLiteral("--flat")).value_or(QString());
    parameters.threshold = search.threshold;
    parameters.maxBrightness = search.maxBrightness;
    parameters.maxStarSize = search.maxStarSize;
    parameters.refine = args.has(QStringLiteral("--refine"));
    parameters.autoThreshold = search.autoThreshold;

    int threads = 0; // 0: maxThreads of the preferences
    if (!optionWholeNumber(args, QStringLiteral("--threads"), 1, kMaxCliThreads, threads, context))
        return kExitUsage;
    // Every file is looked at before any work, so that a typo does not cost a long run.
    for (const QString &path : parameters.files + QStringList{parameters.biasPath, parameters.darkPath,
                                                              parameters.flatPath}) {
        if (!path.isEmpty() && !checkInputFile(path, context))
            return kExitFailure;
    }
    const std::optional<QString> save = args.value(QStringLiteral("--save"));
    if (save) {
        if (const int refused = refuseOutputTarget(*save, {QStringLiteral("json")}, context))
            return refused;
    }

    QElapsedTimer clock;
    clock.start();
    MessageLog &log = messageLog();
    StarCollector collector;
    collector.log = &log;
    if (threads > 0)
        collector.maxThreads = threads;
    std::atomic<bool> interrupted{false};
    collector.setAbortFlag(&interrupted);
    bool finished = false;
    QObject::connect(&collector, &StarCollector::collectFinished, [&finished] { finished = true; });
    collector.configure(parameters);
    {
        const InterruptSetsFlag interrupt(&interrupted);
        collector.run();
    }
    log.setProgress(0.0f);
    log.setStatusText(QString());
    if (!finished)
        return failWith(context, failureText(collector), kExitFailure, collector.errorCode);

    RegistrationTable table = makeRegistrationTable(collector.files, collector.results, collector.threshold,
                                                    static_cast<double>(clock.nsecsElapsed()) * 1e-9);
    table.refined = collector.refine;
    table.autoThreshold = collector.autoThreshold;
    // The table is saved first, so that the JSON can say whether that worked.
    QString saveError;
    if (save && writeRegistrationTable(*save, table, saveError) == 0)
        log.logMessage(QStringLiteral("Registration table written to ") + *save);
    if (context.json) {
        QJsonObject result = registrationTableJson(table);
        if (!saveError.isEmpty())
            result.insert(QStringLiteral("error"), saveError);
        printJson(context, result);
    } else {
        printTable(table, context.out);
    }
    context.out.flush();
    if (!saveError.isEmpty())
        return failWith(context, saveError);
    return kExitOk;
}

} // namespace

const CliCommand kRegisterCommand = {
    "register",
    "register frames against the first: offset, angle, stars, FWHM and stackable per frame",
    "verdanix-cli register [--bias B] [--dark D] [--flat F] [--threshold L|auto] [--max H] [--size S] [--threads N]\n"
    "                      [--refine] [--json] [--save TABLE.json] FRAME...",
    "Loads each FRAME, normalises it, subtracts the bias and the dark, divides by the flat, finds its stars\n"
    "and compares its four-star patterns with those of the first FRAME, the reference. Prints one row per\n"
    "frame: X and Y offset in pixels and angle in degrees that map it onto the reference, stars found,\n"
    "average FWHM, and whether it can be stacked. Ctrl-C stops starting frames; running ones finish.\n",
    {
        {"--bias", "B", nullptr, nullptr},
        {"--dark", "D", nullptr, nullptr},
        {"--flat", "F", "none", "master frames, each optional"},
        {"--threshold", "L", "0.1; faint stars on sky-limited frames need about 0.01",
         "a star stands L above the background, 0 to 1 of full scale, or 'auto': each frame's own from its sky "
         "level and noise, logged per frame and kept in the table"},
        {"--max", "H", "0.98", "a star with a pixel at or above H is saturated and left out"},
        {"--size", "S", "10", "half width of the star search window in pixels, 1 to 20"},
        {"--threads", "N", "maxThreads of verdanix.ini, 8",
         "frames at a time, 1 to 100, lowered when the frames do not fit in the memory limit"},
        {"--refine", nullptr, "off",
         "refine each stackable frame with all its stars: precise centres, star pairs through the pattern "
         "estimate, a least-squares fit without outliers; adds the pairs and their RMS residual in pixels per "
         "frame"},
        {"--json", nullptr, "text", "print the table as JSON: {\"frames\": [...], \"threshold\", \"seconds\"}"},
        {"--save", "TABLE", "not saved",
         "also write that JSON to TABLE.json for 'stack --registration'; never overwrites"},
    },
    "",
    runRegister};
