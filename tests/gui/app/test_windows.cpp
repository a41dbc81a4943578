#include "app/displaytexts.h"
#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "app/windowlayout.h"
#include "console/outputwindow.h"
#include "platform/settingsfile.h"
#include "process/flattenbgwnd.h"
#include "process/wndcombineimg.h"
#include "process/wndimagestats.h"
#include "support/guihelpers.h"
#include "view/mdiimage.h"
#include "view/wndviewcorrection.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace {

QMdiSubWindow *frameOf(mdiImage *image)
{
    return qobject_cast<QMdiSubWindow *>(image->parentWidget());
}

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override { window = testsupport::startMainWindow(); }
    void TearDown() override { window.reset(); }

    mdiImage *open(const QString &name, int width = 4, int height = 4, int titleCounter = 0)
    {
        mdiImage *image = window->openResultWindow(std::make_unique<ImageBuffer>(width, height), name, titleCounter);
        window->documentArea()->setActiveSubWindow(frameOf(image));
        return image;
    }

    std::unique_ptr<Verdanix> window;
};

QString savedAnswer;
QString answerSave(QWidget *, const QString &, const QString &, const QString &, const QString &)
{
    return savedAnswer;
}

} // namespace

TEST(WindowTexts, SameTitlesAreNumberedAndNewWindowsFitImageTitleAndArea)
{
    EXPECT_EQ(windowListLabels({"M42.fits", "M42.fits (1)", "M42.fits", "M42.fits"}),
              (QStringList{"M42.fits", "M42.fits (1)", "M42.fits [2]", "M42.fits [3]"}));
    EXPECT_EQ(zoomText(0.125), QStringLiteral("12.5 %"));

    const QSize frame(10, 30);
    const struct {
        QSize image;
        int titleWidth;
        QSize area;
        QSize expected;
    } cases[] = {
        {{120, 80}, 300, {1000, 700}, {300, 110}},    // wide enough for the title
        {{640, 480}, 300, {1000, 700}, {650, 510}},   // the image at 100 %
        {{4000, 3000}, 300, {1000, 700}, {1000, 700}}, // never beyond the document area
        {{500, 1}, 100, {1000, 700}, {510, 94}},      // a one-row image can still be grabbed
    };
    for (const auto &c : cases)
        EXPECT_EQ(imageWindowSize(c.image, frame, c.titleWidth, c.area), c.expected) << c.image.width();
    EXPECT_EQ(keptWithin(QRect(900, 500, 600, 400), QSize(300, 200), QRect(0, 0, 1280, 800)),
              QRect(680, 400, 600, 400));
    EXPECT_EQ(keptWithin(QRect(0, 0, 1400, 900), QSize(300, 200), QRect(0, 0, 1280, 800)), QRect(0, 0, 1280, 800));
}

TEST_F(WindowsTest, WindowMenuListsConsoleAndImagesByTitleAndCounterCheckingTheActiveOne)
{
    open(QStringLiteral("M42.fits"));
    mdiImage *second = open(QStringLiteral("M42.fits"));
    mdiImage *derived = open(QStringLiteral("M42.fits"), 4, 4, 1);
    window->documentArea()->setActiveSubWindow(frameOf(second));
    window->updateWindowMenu();

    QStringList texts;
    QStringList checked;
    for (QAction *action : window->windowMenu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
        if (action->isChecked())
            checked << action->text();
    }
    EXPECT_EQ(texts, (QStringList{"Cascade", "Tile", "Close Window", "|", "Messages", "View Correction", "|",
                                  "&1 M42.fits", "&2 M42.fits [2]", "&3 M42.fits (1)"}));
    EXPECT_EQ(checked, (QStringList{"View Correction", "&2 M42.fits [2]"}));
    window->windowMenu->actions().last()->trigger();
    EXPECT_EQ(window->currentImageWindow(), derived);

    window->showCombineWnd();
    QComboBox *offered = window->findChild<wndCombineImg *>()->cbImageA;
    EXPECT_EQ(offered->itemText(1), QStringLiteral("M42.fits [2]"));
    EXPECT_EQ(offered->itemText(2), QStringLiteral("M42.fits (1)"));
}

TEST_F(WindowsTest, ImageWindowsOpenAtTheirImagesSizeWithTheWholeTitleAndShowTheirZoom)
{
    QMdiSubWindow *small = frameOf(open(QStringLiteral("a-rather-long-name-of-a-light-frame.fits"), 120, 80, 2));
    EXPECT_GT(small->width(), small->fontMetrics().horizontalAdvance(small->windowTitle()));
    EXPECT_GE(small->widget()->height(), 80);

    mdiImage *image = open(QStringLiteral("large.fits"), 3000, 2000);
    EXPECT_LE(frameOf(image)->width(), window->documentArea()->viewport()->width());
    auto *zoom = window->findChild<QLabel *>(QStringLiteral("lblZoom"));
    window->zoomOutAct->trigger();
    EXPECT_EQ(zoom->text(), QStringLiteral("50 %"));
    window->zoomFitAct->trigger();
    QCoreApplication::processEvents();
    EXPECT_LE(image->zoom * 3000, image->viewport()->width());
    EXPECT_GT(image->zoom * 3000, image->viewport()->width() - 8) << "the whole width used";
    window->zoomActualAct->trigger();
    EXPECT_EQ(zoom->text(), QStringLiteral("100 %"));
}

TEST_F(WindowsTest, EveryDockFitsA1280By800ScreenWithTheStatusBarAndEveryButtonVisible)
{
    window->workAreaOverride = QRect(0, 0, 1280, 800);
    EXPECT_EQ(window->size(), QSize(770, 578)) << "the designed size on the first start";
    open(QStringLiteral("flat.fits"), 64, 48);
    window->evCalibrate();
    window->createMasterFrame();
    window->flattenBg();
    window->flattenBg();
    EXPECT_EQ(window->findChildren<flattenbgwnd *>().size(), 1) << "the open panel is shown again";
    QCoreApplication::processEvents();

    const QRect inWindow = window->rect();
    EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(window->frameGeometry())) << window->frameGeometry().height();
    EXPECT_TRUE(window->statusBar()->isVisible());
    EXPECT_TRUE(inWindow.contains(window->statusBar()->geometry()));
    const QList<QDockWidget *> docks = window->findChildren<QDockWidget *>();
    ASSERT_EQ(docks.size(), 4);
    for (QDockWidget *dock : docks) {
        dock->raise();
        QCoreApplication::processEvents();
        for (QPushButton *button : dock->findChildren<QPushButton *>()) {
            if (!button->isVisibleTo(dock->widget()))
                continue;
            const QRect place(button->mapTo(window.get(), QPoint(0, 0)), button->size());
            EXPECT_TRUE(button->isVisible() && inWindow.contains(place))
                << dock->windowTitle().toStdString() << " " << button->text().toStdString();
        }
    }

    // Closing panels leaves the others working.
    for (QDockWidget *dock : docks)
        if (dock->objectName() != QLatin1String("vcDock"))
            dock->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChildren<QDockWidget *>().size(), 1);
    window->viewCorrectionPanel()->pbUpdate->click();
    EXPECT_EQ(testsupport::consoleLines(*window).filter(QStringLiteral("Updated view correction")).size(), 1);
}

TEST_F(WindowsTest, GeometryAndDockLayoutAreRememberedFromOneRunToTheNext)
{
    window->resize(700, 500);
    auto *dock = window->findChild<QDockWidget *>(QStringLiteral("vcDock"));
    window->addDockWidget(Qt::LeftDockWidgetArea, dock);
    ASSERT_TRUE(window->close());
    window.reset();
    window = std::make_unique<Verdanix>();
    window->show();
    EXPECT_EQ(window->size(), QSize(700, 500));
    EXPECT_EQ(window->dockWidgetArea(window->findChild<QDockWidget *>(QStringLiteral("vcDock"))),
              Qt::LeftDockWidgetArea);
}

TEST_F(WindowsTest, QuittingAsksOnlyAboutUnsavedResultsAndCancelKeepsTheProgram)
{
    mdiImage *loaded = open(QStringLiteral("loaded.fits"));
    loaded->unsavedResult = false; // as a window opened from a file
    ASSERT_TRUE(window->close()) << "unchanged files do not count";

    window.reset();
    window = testsupport::startMainWindow();
    open(QStringLiteral("result.fits"));
    testsupport::clickInMessageBoxWhenShown(QStringLiteral("unsavedBox"), QStringLiteral("Cancel"));
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());

    QDir().mkpath(QStringLiteral("saved"));
    savedAnswer = QDir::current().filePath(QStringLiteral("saved/result.fits"));
    filedialogs::askSaveFileName = answerSave;
    testsupport::clickInMessageBoxWhenShown(QStringLiteral("unsavedBox"), QStringLiteral("Save All"));
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(QFile::exists(savedAnswer));

    window.reset();
    window = testsupport::startMainWindow();
    open(QStringLiteral("dropped.fits"));
    testsupport::clickInMessageBoxWhenShown(QStringLiteral("unsavedBox"), QStringLiteral("Discard"));
    EXPECT_TRUE(window->close());
}

TEST_F(WindowsTest, StatisticsFollowTheActiveWindowAndItsSelection)
{
    mdiImage *ramp = open(QStringLiteral("ramp.fits"), 4, 1);
    for (int x = 0; x < 4; ++x) {
        float *p = ramp->buffer->pixel(x, 0);
        p[0] = p[1] = p[2] = static_cast<float>(x + 1);
    }
    window->statisticsAct->trigger();
    auto *statistics = window->findChild<wndImageStats *>();
    ASSERT_NE(statistics, nullptr);
    ASSERT_TRUE(statistics->isVisible());
    const auto column = [&] { return testsupport::tableColumn(*statistics->table, 0); };
    EXPECT_EQ(column(), (QStringList{"1", "4", "2.5", "2.5", "1.11803", "2.5"}));
    EXPECT_TRUE(statistics->lblSource->text().startsWith(QStringLiteral("ramp.fits, whole image")));

    ramp->selection = SelectionRect{1, 0, 2, 1, 1};
    emit ramp->selectionChanged();
    EXPECT_EQ(column(), (QStringList{"2", "3", "2.5", "2.5", "0.5", "2.5"}));

    open(QStringLiteral("empty.fits"), 2, 2);
    EXPECT_EQ(column().first(), QStringLiteral("0")) << "the newly active image";
    window->statisticsAct->trigger();
    EXPECT_EQ(window->findChildren<wndImageStats *>().size(), 1);
}
