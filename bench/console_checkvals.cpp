// The console's "checkvals" on an image of zeros, as a user would run it: how long the window
// goes at most without turning its event loop, how long the whole scan takes, the peak
// resident memory and the size of the log file it writes. Not a Google Benchmark: one run,
// figures printed.
//   console_checkvals [width height]     (default 6000 x 4000, 24 Mpixel: 72 million lines)
#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "image/imagebuffer.h"
#include "platform/settingsfile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int width = argc == 3 ? std::atoi(argv[1]) : 6000;
    const int height = argc == 3 ? std::atoi(argv[2]) : 4000;
    QTemporaryDir folder; // the settings and the log file go here
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        return 1;
    settingsfile::setFirstRun(false);
    Verdanix window;
    window.show();
    auto zeros = std::make_unique<ImageBuffer>(width, height);
    std::memset(zeros->data.get(), 0, static_cast<std::size_t>(zeros->floatCount) * sizeof(float));
    window.openResultWindow(std::move(zeros), QStringLiteral("zeros"));

    QElapsedTimer clock;
    qint64 lastTurn = 0, longestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTurn);
        lastTurn = clock.elapsed();
    });
    tick.start(10);
    clock.start();
    window.console()->leInput->setText(QStringLiteral("checkvals"));
    window.console()->inputEvent();
    const qint64 total = clock.elapsed();
    longestGap = std::max(longestGap, total - lastTurn);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("checkvals on %d x %d zeros: %.1f s in all, longest gap between event-loop turns %lld ms, "
                "peak resident %.0f MB, log file %.0f MB\n",
                width, height, total / 1000.0, static_cast<long long>(longestGap), usage.ru_maxrss / 1024.0,
                QFileInfo(QStringLiteral("log")).size() / 1048576.0);
    std::printf("last console line: %s\n", qPrintable(window.console()->teOutput->document()->lastBlock().text()));
    return 0;
}
