#include "console/logfilehandler.h"
#include "console/outputwindow.h"
#include "support/guihelpers.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using testsupport::logFileLines;
using testsupport::waitUntil;

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

TEST(LogFile, EachKindOfMessageHasItsPrefix)
{
    EXPECT_EQ(logFileLine(QtInfoMsg, QStringLiteral("x")), QStringLiteral("Info: x"));
    EXPECT_EQ(logFileLine(QtDebugMsg, QStringLiteral("x")), QStringLiteral("Debug: x"));
    EXPECT_EQ(logFileLine(QtWarningMsg, QStringLiteral("x")), QStringLiteral("Warning: x"));
    EXPECT_EQ(logFileLine(QtCriticalMsg, QStringLiteral("x")), QStringLiteral("Critical: x"));
    EXPECT_EQ(logFileLine(QtFatalMsg, QStringLiteral("x")), QStringLiteral("Fatal: x"));
}

TEST(OutputWindow, LoggedLinesAppearInTheViewAndInTheLogFile)
{
    InstalledHandler handler;
    OutputWindow console;
    console.logMessage(QStringLiteral("first line"));
    console.logMessage(QStringLiteral("<font color=\"#ff6666\">an error</font>"));
    EXPECT_EQ(shownLines(console), (QStringList{QStringLiteral("first line"), QStringLiteral("an error")}));
    const QStringList file = logFileLines();
    EXPECT_TRUE(file.contains(QStringLiteral("Info: \"first line\""))) << file.join('\n').toStdString();
    EXPECT_TRUE(file.contains(QStringLiteral("Info: \"<font color=\\\"#ff6666\\\">an error</font>\"")))
        << file.join('\n').toStdString();

    console.muted = true;
    console.logMessage(QStringLiteral("muted line"));
    console.sAppendMsg(QStringLiteral("muted too"));
    console.muted = false;
    EXPECT_EQ(shownLines(console).size(), 2);
    console.traceMessage(QStringLiteral("a trace"));
    EXPECT_FALSE(logFileLines().join('\n').contains(QStringLiteral("a trace")));
}

TEST(OutputWindow, LinesFromSeveralThreadsKeepEachThreadsOrder)
{
    InstalledHandler handler;
    OutputWindow console;
    static constexpr int kThreads = 4;
    static constexpr int kLines = 150;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&console, t] {
            for (int i = 0; i < kLines; ++i)
                console.logMessage(QStringLiteral("thread %1 line %2").arg(t).arg(i));
        });
    }
    // The GUI thread logs too, while the workers run.
    for (int i = 0; i < kLines; ++i)
        console.logMessage(QStringLiteral("thread gui line %1").arg(i));
    for (auto &worker : workers)
        worker.join();
    ASSERT_TRUE(waitUntil([&] { return shownLines(console).size() == (kThreads + 1) * kLines; }))
        << shownLines(console).size();

    auto checkOrder = [](const QStringList &lines, const QString &prefix) {
        for (const QString &thread : {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                      QStringLiteral("3"), QStringLiteral("gui")}) {
            const QString tag = prefix + QStringLiteral("thread ") + thread + QStringLiteral(" line ");
            int expected = 0;
            for (const QString &line : lines) {
                if (line.startsWith(tag)) {
                    EXPECT_EQ(line.mid(tag.size()).remove(QLatin1Char('"')).toInt(), expected++) << line.toStdString();
                }
            }
            EXPECT_EQ(expected, kLines) << tag.toStdString();
        }
    };
    checkOrder(shownLines(console), QString());
    checkOrder(logFileLines(), QStringLiteral("Info: \""));
}

TEST(OutputWindow, StatusAndProgressFromAWorkerReachTheStatusBar)
{
    OutputWindow console;
    QLabel label;
    QProgressBar bar;
    bar.setRange(0, 100);
    console.setStatusWidgets(&label, &bar);

    console.setStatusText(QStringLiteral("Ready."));
    console.setProgress(12.9f);
    EXPECT_EQ(label.text(), QStringLiteral("Ready."));
    EXPECT_EQ(bar.value(), 12);

    std::thread worker([&console] {
        console.setStatusText(QStringLiteral("Calibrating frame 3"));
        console.setProgress(57.6f);
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return bar.value() == 57; }));
    EXPECT_EQ(label.text(), QStringLiteral("Calibrating frame 3"));
}

TEST(OutputWindow, ErrorLinesBecomeStatusTextsAndOtherLinesDoNot)
{
    const struct {
        const char *line;
        const char *status; // nullptr: no error
    } cases[] = {
        {"<font color=\"#ff6666\">Cannot open a.cr2: the file does not exist.</font>",
         "Error: Cannot open a.cr2: the file does not exist."},
        {"<font color=\"#dd3333\">ERROR: Image A not found! (Did you close it?)</font>",
         "Error: Image A not found! (Did you close it?)"},
        {"<font color=\"#ff9999\">Error during frame calibration: Unknown error</font>",
         "Error during frame calibration: Unknown error"},
        {"Error reading FITS file.", "Error reading FITS file."},
        {"[ERROR] No frames selected form master frame generation!",
         "Error: No frames selected form master frame generation!"},
        {"Not enough memory.", "Error: Not enough memory."},
        {"<font color=\"#ffff00\">Aborting current process, please wait...</font>", nullptr},
        {"Loading done.", nullptr},
    };
    for (const auto &c : cases) {
        const QString status = OutputWindow::errorStatusText(QString::fromLatin1(c.line));
        if (c.status)
            EXPECT_EQ(status, QString::fromLatin1(c.status)) << c.line;
        else
            EXPECT_TRUE(status.isNull()) << c.line;
    }
}

TEST(OutputWindow, AnErrorHoldsTheStatusBarAgainstReadyForAWhile)
{
    OutputWindow console;
    QLabel label;
    QProgressBar bar;
    console.setStatusWidgets(&label, &bar);
    const QColor normal = label.palette().color(QPalette::WindowText);
    console.setStatusText(QStringLiteral("Saving FITS x.fits"));
    console.errorShownMs = 200;

    console.logMessage(QStringLiteral("Saving failed: error writing to FITS file, error 106"));
    EXPECT_EQ(label.text(), QStringLiteral("Error: Saving failed: error writing to FITS file, error 106"));
    EXPECT_NE(label.palette().color(QPalette::WindowText), normal);
    console.setStatusText(QStringLiteral("Ready."));
    EXPECT_TRUE(label.text().startsWith(QStringLiteral("Error: "))) << "Ready. waits until the error was read";
    ASSERT_TRUE(waitUntil([&] { return label.text() == QStringLiteral("Ready."); }, 3000));
    EXPECT_EQ(label.palette().color(QPalette::WindowText), normal);

    // A new operation's own status replaces the error at once.
    console.logMessage(QStringLiteral("Error reading FITS file."));
    console.setStatusText(QStringLiteral("Calibrating light frames..."));
    EXPECT_EQ(label.text(), QStringLiteral("Calibrating light frames..."));
    EXPECT_FALSE(console.showingError());
}

TEST(OutputWindow, ClosingTheConsoleKeepsItOpenAndSaysSo)
{
    OutputWindow console;
    console.show();
    EXPECT_FALSE(console.close());
    EXPECT_TRUE(console.isVisible());
    EXPECT_EQ(shownLines(console).last(), QStringLiteral("Don't try this at home!"));
    EXPECT_TRUE(console.teOutput->toHtml().contains(QStringLiteral("#ff6666")));
}

TEST(OutputWindow, EnteredTextIsHandedOnAndTheLineCleared)
{
    OutputWindow console;
    QStringList received;
    QObject::connect(&console, &OutputWindow::textEntered, [&](const QString &text) { received << text; });
    console.leInput->setText(QStringLiteral("help gain"));
    console.inputEvent();
    EXPECT_EQ(received, QStringList{QStringLiteral("help gain")});
    EXPECT_TRUE(console.leInput->text().isEmpty());
    EXPECT_EQ(console.leInput->placeholderText(), QStringLiteral("Enter commands here"));
}
