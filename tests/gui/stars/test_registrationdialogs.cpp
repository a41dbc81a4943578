#include "platform/settingsfile.h"
#include "stars/wndregistrationdata.h"
#include "stars/wndstarsearch.h"
#include "support/guihelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <vector>

using testsupport::tableColumn;

namespace {

// Rows a, b, c: a and b registered with distinct results, b unchecked, c only added.
void addThreeRows(wndRegistrationData &dialog)
{
    dialog.addFrameRow("/n/a.fits", 0, 0, 0, 120, 2.5f, true, true);
    dialog.addFrameRow("/n/b.fits", 1.5f, -2.25f, 0.125f, 98, 2.75f, true, true);
    dialog.addFrameRow("/n/c.fits", 0, 0, 0, 0, 0, false, false);
    dialog.twList->item(1, 0)->setCheckState(Qt::Unchecked);
}

void selectRows(wndRegistrationData &dialog, const std::vector<int> &rows, int current)
{
    dialog.twList->clearSelection();
    dialog.twList->setCurrentCell(current, 0, QItemSelectionModel::NoUpdate);
    for (int row : rows)
        dialog.twList->selectionModel()->select(dialog.twList->model()->index(row, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

class RegistrationDialogTest : public ::testing::Test {
protected:
    void SetUp() override { QFile::remove(QString::fromLatin1(settingsfile::kFileName)); }
    wndRegistrationData dialog;
};

} // namespace

TEST_F(RegistrationDialogTest, AFreshDialogShowsAnEmptyTableAndTheDefaults)
{
    EXPECT_EQ(dialog.windowTitle(), "Image Registration");
    EXPECT_TRUE(dialog.twList->columnCount() == 7 && dialog.twList->rowCount() == 0);
    EXPECT_DOUBLE_EQ(dialog.dsMinBright->value(), 0.1);
    EXPECT_EQ(dialog.cbAlgo->currentText(), "Average");
    EXPECT_EQ(dialog.cbReject->currentText(), "None");
    EXPECT_EQ(dialog.options.cbInterpolation->currentText(), "Nearest");
    dialog.options.cbAutoThreshold->setChecked(true);
    EXPECT_FALSE(dialog.dsMinBright->isEnabled()) << "an automatic threshold leaves the box unused";
    EXPECT_EQ(dialog.tabWidget->tabText(dialog.tabWidget->currentIndex()), "Registration");
}

TEST_F(RegistrationDialogTest, AddedFilesShowNoResultsUntilRegisteredAndCancellingAMasterClearsIt)
{
    const QStringList files = {"/night/one.fits", "/night/two.cr2"};
    testsupport::scriptOpenFiles(files);
    dialog.pbAddFiles->click();
    EXPECT_EQ(tableColumn(*dialog.twList, 0), files);
    EXPECT_EQ(tableColumn(*dialog.twList, 3), QStringList({"", ""}));
    EXPECT_EQ(tableColumn(*dialog.twList, 6), QStringList({"no", "no"}));
    EXPECT_EQ(settingsfile::fileOpenPath(), "/night");

    // A file listed twice gets both rows updated.
    dialog.addFrameRow("/night/two.cr2", 0, 0, 0, 0, 0, false, false);
    dialog.updateFrameRow("/night/two.cr2", 10.5f, -7.25f, 0.333333f, 240, 3.14159274f, true);
    EXPECT_EQ(tableColumn(*dialog.twList, 5), QStringList({"", "3.14159", "3.14159"}));
    EXPECT_EQ(tableColumn(*dialog.twList, 6), QStringList({"no", "yes", "yes"}));
    EXPECT_TRUE(!dialog.frameEntries()[0].registered && dialog.frameEntries()[2].registered);

    testsupport::scriptOpenFile("/masters/bias.fits");
    dialog.pbBias->click();
    EXPECT_EQ(dialog.leBias->text(), "/masters/bias.fits");
    testsupport::scriptOpenFile(QString());
    dialog.pbBias->click();
    EXPECT_TRUE(dialog.leBias->text().isEmpty());
}

TEST_F(RegistrationDialogTest, RowMovesExchangeWholeRowsAndRefuseAtTheEdgesOrWithSeveralRows)
{
    struct Case {
        const char *what;
        std::vector<int> selected;
        int current;
        bool up;
        QStringList order;
    };
    const QStringList unchanged = {"/n/a.fits", "/n/b.fits", "/n/c.fits"};
    const Case cases[] = {
        {"up on the first row", {0}, 0, true, unchanged},
        {"down on the last row", {2}, 2, false, unchanged},
        {"up with two rows selected", {1, 2}, 2, true, unchanged},
        {"down with two rows selected", {0, 1}, 0, false, unchanged},
        {"up on the middle row", {1}, 1, true, {"/n/b.fits", "/n/a.fits", "/n/c.fits"}},
        {"down on the middle row", {1}, 1, false, {"/n/a.fits", "/n/c.fits", "/n/b.fits"}},
    };
    for (const Case &c : cases) {
        wndRegistrationData fresh;
        addThreeRows(fresh);
        selectRows(fresh, c.selected, c.current);
        (c.up ? fresh.pbUp : fresh.pbDown)->click();
        EXPECT_EQ(tableColumn(*fresh.twList, 0), c.order) << c.what;
        EXPECT_EQ(fresh.frameFiles(), c.order) << c.what << ": the entries follow the rows";
        // b keeps its unchecked box and its results wherever it went, and stays the chosen row.
        const int b = c.order.indexOf("/n/b.fits");
        EXPECT_EQ(fresh.twList->item(b, 0)->checkState(), Qt::Unchecked) << c.what;
        EXPECT_EQ(fresh.twList->item(b, 2)->text(), "-2.25") << c.what;
        EXPECT_FALSE(fresh.frameEntries()[b].selected) << c.what;
        EXPECT_TRUE(c.selected.size() != 1 || c.current != 1 || fresh.twList->currentRow() == b) << c.what;
    }
}

TEST_F(RegistrationDialogTest, UncheckedRowsAreNotStackedAndRemoveDeletesTheSelectedRowsWithTheirEntries)
{
    addThreeRows(dialog);
    EXPECT_EQ(dialog.frameFiles(), QStringList({"/n/a.fits", "/n/b.fits", "/n/c.fits"}));
    const QList<FrameEntry> entries = dialog.frameEntries();
    EXPECT_TRUE(entries.size() == 3 && entries[0].selected && !entries[1].selected && entries[2].selected);
    dialog.addFrameRow("/n/d.fits", 0, 0, 0, 0, 0, false, false);
    selectRows(dialog, {0, 2, 3}, 3);
    dialog.pbRemove->click();
    EXPECT_EQ(tableColumn(*dialog.twList, 0), QStringList({"/n/b.fits"}));
    ASSERT_EQ(dialog.frameEntries().size(), 1);
    EXPECT_FLOAT_EQ(dialog.frameEntries()[0].offsetX, 1.5f);
}

TEST(StarSearchDialog, AFreshDialogPreselectsSigmaAndWinsorizeAndRemovesSelectedFiles)
{
    wndStarSearch dialog;
    EXPECT_EQ(dialog.windowTitle(), "Star Search");
    EXPECT_EQ(dialog.cbPA->currentText(), "Sigma");
    EXPECT_EQ(dialog.cbRA->currentText(), "Winsorize");

    testsupport::scriptOpenFiles({"/s/1.fits", "/s/2.fits", "/s/3.fits", "/s/4.fits", "/s/5.fits"});
    dialog.addFiles();
    for (int row : {0, 2, 4})
        dialog.lwFiles->item(row)->setSelected(true);
    dialog.removeFiles();
    EXPECT_EQ(dialog.fileList(), QStringList({"/s/2.fits", "/s/4.fits"}));
}
