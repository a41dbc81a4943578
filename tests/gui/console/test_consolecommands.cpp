// Commands typed into the console: help, the star search and its window, the invalid-value
// scan, preview, the fake commands, and the input field's history.
#include "gui/guitest.h"
#include "testdata/starfield.h"

namespace {

class ConsoleTest : public MainWindowTest {
protected:
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
};

} // namespace

TEST_F(ConsoleTest, EachCommandAnswersWithItsLinesAndUpRecallsTheLastLine)
{
    EXPECT_EQ(run("help").mid(0, 5),
              QStringList({"HELP", "The following commands are available.", "Use help <command> for more information.",
                           "  help - display this help", "  gain - modify gain of image"}));
    EXPECT_EQ(run("HELP gain"), QStringList({"gain [-r float] [-g float] [-b float]",
                                             "  -r multiply color of red channel by value <float>",
                                             "  -g multiply color of green channel by value <float>",
                                             "  -b multiply color of blue channel by value <float>",
                                             " Example:", "  gain -r 1.5 -g 1.0 -b 0.5"}));
    const std::pair<const char *, QStringList> answers[] = {
        {"help open", {}},
        {"checkvals", {}}, // no image: nothing to do
        {"gain -r 2", {"Sorry. Just a fake command, yet. :)"}},
        {" help", {"Command unknown. Enter help for a list of available commands."}},
        {"starsearch -l 0.03 -h 0.9", {"Missing parameter: -s"}},
        {"starsearch -l -h 0.9 -s 10", {"Missing parameter: -l"}}};
    for (const auto &[line, expected] : answers)
        EXPECT_EQ(run(line), expected) << line;
    auto field = flatImage(200, 160, 0.1f);
    for (const auto &[x, y] : {std::pair{60.0, 50.0}, std::pair{140.0, 100.0}, std::pair{100.0, 70.0}})
        addGaussianStar(*field, x, y, 0.6, 1.8, 1.8);
    mdiImage *source = window->openResultWindow(std::move(field), "field");
    const QStringList lines = run("starsearch -l 0.01 -h 0.98 -s 10");
    EXPECT_EQ(lines.mid(0, 2), QStringList({"Searching for stars in current image...",
                                            "Lower threshold: 0.01, upper: 0.98, max FWHM: 10"}));
    EXPECT_TRUE(lines.contains("Search done. Stars remaining: 3"));
    ASSERT_TRUE(window->newestWindow && window->newestWindow.data() != source);
    EXPECT_EQ(std::make_pair(window->newestWindow->getName(), window->newestWindow->titleCounter),
              std::make_pair(QString("Stars of field"), 1));
    EXPECT_FALSE(window->lockActive);
    window->openResultWindow(greyImage(2, 1, [](int x, int) { return 0.5f * x; }), "small");
    EXPECT_EQ(run("checkvals"), QStringList({"Searching for invalid pixel values...", "Zero Red: 0,0",
                                             "Zero Green: 0,0", "Zero Blue: 0,0", "Minimum color values: R=0 G=0 B=0",
                                             "Maximum color values: R=0.5 G=0.5 B=0.5"}));
    run("preview");
    EXPECT_EQ(window->findChildren<mdiImage *>().size(), 4) << "field, its stars, small and the preview";
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
