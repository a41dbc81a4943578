#include "console/logfilehandler.h"
#include "gui/guitest.h"

#include <thread>
#include <vector>

namespace {

QStringList shownLines(const OutputWindow &console)
{
    return console.teOutput->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

struct InstalledHandler {
    InstalledHandler() { previous = qInstallMessageHandler(logFileHandler); }
    ~InstalledHandler() { qInstallMessageHandler(previous); }
    QtMessageHandler previous;
};

} // namespace

TEST(OutputWindow, EachKindOfMessageHasItsLogFilePrefixAndEachSeverityItsColour)
{
    const QtMsgType types[] = {QtInfoMsg, QtDebugMsg, QtWarningMsg, QtCriticalMsg, QtFatalMsg};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(logFileLine(types[i], "x"), list("Info;Debug;Warning;Critical;Fatal")[i] + ": x");
    QStringList lines;
    for (Severity severity : {Severity::Info, Severity::Notice, Severity::Warning, Severity::Error})
        lines << OutputWindow::consoleLine("a", severity);
    EXPECT_EQ(lines, list("a;<font color=\"#ffff00\">a</font>;<font color=\"#ff9999\">a</font>;"
                          "<font color=\"#ff6666\">a</font>"));
}

TEST(OutputWindow, LoggedLinesAppearInTheViewAndTheLogFileClosingIsRefusedAndEnteredTextHandedOn)
{
    InstalledHandler handler;
    OutputWindow console;
    console.logMessage("first line");
    console.logMessage("an error", Severity::Error);
    EXPECT_EQ(shownLines(console), (QStringList{"first line", "an error"}));
    EXPECT_TRUE(logFileLines().contains("Info: \"<font color=\\\"#ff6666\\\">an error</font>\""));
    console.muted = true;
    console.logMessage("muted line");
    console.sAppendMsg("muted too");
    console.muted = false;
    EXPECT_EQ(shownLines(console).size(), 2);
    console.traceMessage("a trace");
    EXPECT_FALSE(logFileLines().join('\n').contains("a trace"));
    // Closing is refused with a line of its own.
    console.show();
    EXPECT_TRUE(!console.close() && console.isVisible());
    EXPECT_EQ(shownLines(console).last(), "Don't try this at home!");
    EXPECT_EQ(console.teOutput->toHtml().count("#ff6666"), 2) << "in red, as the error before it";
    QStringList received;
    QObject::connect(&console, &OutputWindow::textEntered, [&](const QString &text) { received << text; });
    console.leInput->setText("help gain");
    console.inputEvent();
    EXPECT_TRUE(received == QStringList{"help gain"} && console.leInput->text().isEmpty());
    EXPECT_EQ(console.leInput->placeholderText(), "Enter commands here");
}

TEST(OutputWindow, ABatchOfLinesMakesWhatAppendingThemOneByOneMakes)
{
    const QStringList lines =
        list(";plain;<font color=\"#ff6666\">red</font>;;<br><font color=\"#ffffff\">HELP</font><br>;x");
    OutputWindow console;
    QTextEdit reference;
    reference.document()->setDefaultFont(console.teOutput->document()->defaultFont());
    console.logMessages(lines);
    console.logMessages(lines);
    for (const QString &line : lines + lines)
        reference.append(line);
    EXPECT_EQ(console.teOutput->toHtml(), reference.toHtml());
}

TEST(OutputWindow, LinesFromSeveralThreadsKeepEachThreadsOrder)
{
    InstalledHandler handler;
    OutputWindow console;
    static constexpr int kLines = 150;
    const QStringList threads = {"0", "1", "2", "3", "gui"};
    const auto logLines = [&console, &threads](int t) {
        for (int i = 0; i < kLines; ++i)
            console.logMessage(QStringLiteral("thread %1 line %2").arg(threads[t]).arg(i));
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back(logLines, t);
    logLines(4); // the GUI thread logs too, while the workers run
    for (auto &worker : workers)
        worker.join();
    ASSERT_TRUE(waitUntil([&] { return shownLines(console).size() == 5 * kLines; })) << shownLines(console).size();
    for (const QString &prefix : {QString(), QStringLiteral("Info: \"")}) {
        const QStringList lines = prefix.isEmpty() ? shownLines(console) : logFileLines();
        for (const QString &thread : threads) {
            const QString tag = prefix + "thread " + thread + " line ";
            int expected = 0;
            for (const QString &line : lines.filter(tag))
                EXPECT_EQ(line.mid(tag.size()).remove('"').toInt(), expected++) << line.toStdString();
            EXPECT_EQ(expected, kLines) << tag.toStdString();
        }
    }
}

TEST(OutputWindow, StatusFromAWorkerReachesTheStatusBarAndAnErrorLineBecomesAStatusThatHoldsAgainstReady)
{
    OutputWindow console;
    QLabel label;
    QProgressBar bar;
    bar.setRange(0, 100);
    console.setStatusWidgets(&label, &bar);
    const QColor normal = label.palette().color(QPalette::WindowText);
    std::thread worker([&console] {
        console.setStatusText("Calibrating frame 3");
        console.setProgress(57.6f);
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return bar.value() == 57; })) << "truncated";
    EXPECT_EQ(label.text(), "Calibrating frame 3");
    console.errorShownMs = 200;
    console.logMessage("Saving failed: error writing to FITS file, error 106");
    EXPECT_TRUE(label.text().startsWith("Error: Saving failed")
                && label.palette().color(QPalette::WindowText) != normal);
    console.setStatusText("Ready.");
    EXPECT_TRUE(label.text().startsWith("Error: ")) << "Ready. waits until the error was read";
    ASSERT_TRUE(waitUntil([&] { return label.text() == "Ready."; }, 3000));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), normal);
    // A new operation's own status replaces the error at once.
    console.logMessage("Error reading FITS file.");
    console.setStatusText("Calibrating light frames...");
    EXPECT_TRUE(label.text() == "Calibrating light frames..." && !console.showingError());
    const std::pair<const char *, const char *> cases[] = {
        // second: the status text, null for no error; red lines: MainWindowTest.AnErrorShows...
        {"<font color=\"#dd3333\">ERROR: Image A not found!</font>", "Error: Image A not found!"},
        {"<font color=\"#ff9999\">Error during frame calibration</font>", "Error during frame calibration"},
        {"[ERROR] No frames selected!", "Error: No frames selected!"},
        {"<font color=\"#ffff00\">Aborting...</font>", nullptr},
        {"Loading done.", nullptr}};
    for (const auto &[line, status] : cases) {
        const QString shown = OutputWindow::errorStatusText(QString::fromLatin1(line));
        EXPECT_EQ(shown, QString::fromLatin1(status)) << line;
        EXPECT_EQ(shown.isNull(), status == nullptr) << line;
    }
}
