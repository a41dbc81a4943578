// What a careless or hostile user may type: every bad input is refused in words with its exit
// status (2 for the command line, 1 for a failed run), with --json as an object whose "error"
// says the same; no writer leaves anything behind.
#include "clirun.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::fitsHeaderBlock;
using testsupport::writeBytes;
using testsupport::writeConstantFrame;

namespace {

struct BadInputFixture : ::testing::Test {
    void SetUp() override
    {
        QDir("bad").removeRecursively();
        ASSERT_TRUE(QDir().mkpath("bad") && QDir::setCurrent("bad"));
        writeConstantFrame("in.fits", 40, 30, 0.25, -32, 3);
        writeConstantFrame("small.fits", 8, 8, 0.1);
        ASSERT_EQ(::mkfifo("pipe.fits", 0600), 0);
        // A header claiming 200000 x 200000 pixels over 2880 bytes; a header whose data is missing.
        const QStringList header = {"SIMPLE = T", "BITPIX = -32"};
        const QByteArray big = fitsHeaderBlock(header + QStringList{"NAXIS = 2", "NAXIS1 = 200000", "NAXIS2 = 200000"});
        ASSERT_TRUE(writeBytes("huge.fits", big + QByteArray(2880, 0)));
        ASSERT_TRUE(writeBytes("broken.fits", fitsHeaderBlock(header + QStringList{"NAXIS = 3", "NAXIS1 = 40",
                                                                                   "NAXIS2 = 30", "NAXIS3 = 3"})));
        ASSERT_TRUE(writeBytes("empty.fits", QByteArray()));
        ASSERT_TRUE(writeBytes("outside.txt", "10 10\n500 500\n"));
        ASSERT_TRUE(writeBytes("taken.fits", "kept") && QFile::link("nowhere.jpg", "link.jpg"));
    }
    void TearDown() override { QDir::setCurrent(".."); }
};

} // namespace

TEST_F(BadInputFixture, EveryBadInputIsRefusedInWordsWithItsExitStatus)
{
    // lines: what stderr holds, 1 when refused before any work, 2 with the loader's own line
    // first, 0 not counted (a run that fails part-way, naming the file).
    const struct {
        const char *command;
        int status;
        int lines;
        const char *error;
    } cases[] = {
        // Numbers: NaN and infinities lie outside every range (one row for each parser: every option of a kind
        // is read by the same one).
        {"gain in.fits o.fits inf 1 1", 2, 1, "R takes a number from 0 to 1000, not 'inf'"},
        {"stack --sigma nan --out o.fits in.fits in.fits", 2, 1, "--sigma needs a number of at least 0, not 'nan'"},
        {"stars in.fits --size 5.5", 2, 1, "--size takes a whole number from 1 to 20, not '5.5'"},
        {"stack --reject trim --fraction 0.9 --out o.fits in.fits in.fits in.fits", 2, 1,
         "Trimming 3 frames with the fraction 0.9 would keep no value; use a smaller fraction."},
        // No argument may cause unbounded work; a region one pixel past the image is outside it.
        {"stats in.fits --region 0,0,2147483647,2147483647", 2, 1,
         "--region 0,0,2147483647,2147483647 does not lie within the 40 x 30 image"},
        {"stats in.fits --region 36,25,5,5", 2, 1, "--region 36,25,5,5 does not lie within the 40 x 30 image"},
        {"flatten in.fits o.fits --markers outside.txt", 2, 1,
         "outside.txt:2: the marker 500 500 lies outside the 40 x 30 image"},
        // Requests that cannot be run as given.
        {"stack in.fits in.fits", 2, 1, "stack needs an output file (--out OUT.fits)"},
        {"master --type bias --bias b.fits --out o.fits in.fits in.fits", 2, 1, "--bias is not used for a master bias"},
        {"register in.fits", 2, 1, "register needs at least two frames"},
        {"convert in.fits o.png", 2, 1, "o.png must end in .fits"},
        {"calibrate --out no-such-folder in.fits", 1, 1, "Output directory does not exist. Please create it first."},
        // Every writer refuses through one check what the FITS writer refuses: a name that exists, a symbolic
        // link (the file it points to is never created).
        {"convert in.fits taken.fits", 1, 1, "cannot write 'taken.fits': it exists already; it is never overwritten"},
        {"render in.fits link.jpg", 1, 1, "cannot write 'link.jpg': a symbolic link of that name exists"},
        // What is not a regular file is refused at once, never read or waited on.
        {"info pipe.fits", 1, 2, "cannot open 'pipe.fits': it is a pipe, not a file (error 1109)"},
        // Missing and damaged files are named, before any work where they are read first.
        {"convert x.fits o.fits", 1, 2, "cannot open 'x.fits': no such file (error 104)"},
        {"info huge.fits", 1, 2, "cannot open 'huge.fits': the file ends before the image its header describes"},
        {"info empty.fits", 1, 2, "cannot open 'empty.fits': the file is empty"},
        {"stack --out o.fits in.fits missing.fits", 1, 1, "cannot open 'missing.fits': no such file"},
        {"stack --out o.fits in.fits in.fits broken.fits", 1, 0,
         "could not load broken.fits: tried to move past end of file (error 107)"},
        {"stack --out o.fits --flat noflat.fits in.fits in.fits", 1, 0,
         "cannot read master flat noflat.fits: could not open the named file (error 104)"},
        {"stack --out o.fits --dark small.fits in.fits in.fits", 1, 0,
         "master dark small.fits is 8 x 8 pixels, the frames are 40 x 30"},
    };
    for (const auto &c : cases) {
        for (const bool json : {false, true}) {
            const QString command = QLatin1String(c.command) + (json ? " --json" : "");
            const CliRun run = runCli(command.split(' '));
            const std::string what = command.toStdString() + "\n" + run.err.toStdString();
            EXPECT_EQ(run.status, c.status) << what;
            EXPECT_TRUE(run.err.contains(QStringLiteral("verdanix-cli: ") + QLatin1String(c.error))) << what;
            EXPECT_TRUE(c.lines == 0 || run.err.count('\n') == c.lines) << what;
            const QString error = run.json().value("error").toString();
            EXPECT_TRUE(!json || (!error.isEmpty() && run.err.contains("verdanix-cli: " + error))) << what;
        }
    }
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden | QDir::System).filter("o.").size(), 0) << "nothing written";
    QFile taken("taken.fits");
    EXPECT_TRUE(taken.open(QIODevice::ReadOnly) && taken.readAll() == "kept");
    EXPECT_FALSE(QFileInfo::exists("nowhere.jpg")) << "written through the link";
}
