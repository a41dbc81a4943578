// Commands typed into the console: help, the star search and its window, the invalid-value
// scan, preview, the fake commands, and the input field's history.
#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "image/imagebuffer.h"
#include "support/guihelpers.h"
#include "testdata/starfield.h"
#include "view/mdiimage.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

using testsupport::consoleLines;

namespace {

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override { window = testsupport::startMainWindow(); }
    void TearDown() override { window.reset(); }

    // The lines a command logs after its ">>> " echo.
    QStringList run(const QString &line)
    {
        const int before = static_cast<int>(consoleLines(*window).size());
        window->console()->leInput->setText(line);
        QTest::keyClick(window->console()->leInput, Qt::Key_Return);
        const QStringList lines = consoleLines(*window).mid(before);
        EXPECT_EQ(lines.value(0), ">>> " + line);
        return lines.mid(1);
    }

    std::unique_ptr<Verdanix> window;
};

} // namespace

TEST_F(ConsoleTest, HelpFakeAndUnknownCommandsAnswerWithTheirLines)
{
    const QString unknown = "Command unknown. Enter help for a list of available commands.";
    EXPECT_EQ(run("help").mid(0, 5), QStringList({"HELP", "The following commands are available.",
                                                  "Use help <command> for more information.",
                                                  "  help - display this help", "  gain - modify gain of image"}));
    EXPECT_EQ(run("HELP gain"), QStringList({"gain [-r float] [-g float] [-b float]",
                                             "  -r multiply color of red channel by value <float>",
                                             "  -g multiply color of green channel by value <float>",
                                             "  -b multiply color of blue channel by value <float>", " Example:",
                                             "  gain -r 1.5 -g 1.0 -b 0.5"}));
    EXPECT_TRUE(run("help open").isEmpty());
    EXPECT_EQ(run("gain -r 2"), QStringList({"Sorry. Just a fake command, yet. :)"}));
    EXPECT_EQ(run(" help"), QStringList({unknown}));
    EXPECT_EQ(run("threadtest"), QStringList({"You need at least two images for frame registration!"}));
    EXPECT_TRUE(run("checkvals").isEmpty()) << "no image: nothing to do";
}

TEST_F(ConsoleTest, StarSearchChecksItsParametersAndOpensTheMarkedStars)
{
    EXPECT_EQ(run("starsearch -h 0.9 -s 10"), QStringList({"Missing parameter: -l"}));
    EXPECT_EQ(run("starsearch -l 0.03 -h 0.9"), QStringList({"Missing parameter: -s"}));
    EXPECT_EQ(run("starsearch -l -h 0.9 -s 10"), QStringList({"Missing parameter: -l"}));

    auto field = testsupport::flatImage(200, 160, 0.1f);
    for (const auto &star : {std::pair{60.0, 50.0}, std::pair{140.0, 100.0}, std::pair{100.0, 70.0}})
        testsupport::addGaussianStar(*field, star.first, star.second, 0.6, 1.8, 1.8);
    mdiImage *source = window->openResultWindow(std::move(field), "field");
    const QStringList lines = run("starsearch -l 0.01 -h 0.98 -s 10");
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.mid(0, 2), QStringList({"Searching for stars in current image...",
                                            "Lower threshold: 0.01, upper: 0.98, max FWHM: 10"}));
    EXPECT_TRUE(lines.contains("Search done. Stars remaining: 3"));
    ASSERT_TRUE(window->newestWindow && window->newestWindow.data() != source);
    EXPECT_EQ(window->newestWindow->getName(), "Stars of field");
    EXPECT_EQ(window->newestWindow->titleCounter, 1);
    EXPECT_FALSE(window->lockActive);
}

TEST_F(ConsoleTest, CheckValuesListsZerosAndEndsWithTheExtremesPreviewCopiesAndUpRecalls)
{
    auto image = std::make_unique<ImageBuffer>(2, 1);
    std::fill_n(image->pixel(1, 0), 3, 0.5f);
    window->openResultWindow(std::move(image), "small");
    EXPECT_EQ(run("checkvals"), QStringList({"Searching for invalid pixel values...", "Zero Red: 0,0",
                                             "Zero Green: 0,0", "Zero Blue: 0,0",
                                             "Minimum color values: R=0 G=0 B=0",
                                             "Maximum color values: R=0.5 G=0.5 B=0.5"}));
    mdiImage *before = window->newestWindow;
    run("preview");
    EXPECT_TRUE(window->newestWindow != before || window->findChildren<mdiImage *>().size() == 2);

    QLineEdit *input = window->console()->leInput;
    input->setText("half typed");
    QTest::keyClick(input, Qt::Key_Up);
    EXPECT_EQ(input->text(), "preview");
    QTest::keyClick(input, Qt::Key_Up);
    EXPECT_EQ(input->text(), "checkvals");
    QTest::keyClick(input, Qt::Key_Down);
    QTest::keyClick(input, Qt::Key_Down);
    EXPECT_EQ(input->text(), "half typed") << "Down past the newest line gives back what was being typed";
}
