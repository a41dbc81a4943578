#include "gui/guitest.h"
#include "stars/wndregistrationdata.h"

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

TEST_F(RegistrationDialogTest, AFreshDialogShowsTheDefaultsAndAddedFilesShowNoResultsUntilRegistered)
{
    EXPECT_EQ((QStringList{dialog.windowTitle(), dialog.cbAlgo->currentText(), dialog.cbReject->currentText(),
                           dialog.options.cbInterpolation->currentText(),
                           dialog.tabWidget->tabText(dialog.tabWidget->currentIndex())}),
              list("Image Registration;Average;None;Nearest;Registration"));
    EXPECT_TRUE(dialog.twList->columnCount() == 7 && dialog.dsMinBright->value() == 0.1);
    dialog.options.cbAutoThreshold->setChecked(true);
    EXPECT_FALSE(dialog.dsMinBright->isEnabled()) << "an automatic threshold leaves the box unused";
    const QStringList files = {"/night/one.fits", "/night/two.cr2"};
    scriptOpenFiles(files);
    dialog.pbAddFiles->click();
    EXPECT_EQ(tableColumn(*dialog.twList, 0), files);
    EXPECT_EQ(tableColumn(*dialog.twList, 3) + tableColumn(*dialog.twList, 6), list(";;no;no"));
    EXPECT_EQ(settingsfile::fileOpenPath(), "/night");
    // A file listed twice gets both rows updated.
    dialog.addFrameRow("/night/two.cr2", 0, 0, 0, 0, 0, false, false);
    dialog.updateFrameRow("/night/two.cr2", 10.5f, -7.25f, 0.333333f, 240, 3.14159274f, true);
    EXPECT_EQ(tableColumn(*dialog.twList, 5) + tableColumn(*dialog.twList, 6), list(";3.14159;3.14159;no;yes;yes"));
    EXPECT_TRUE(!dialog.frameEntries()[0].registered && dialog.frameEntries()[2].registered);
}

TEST_F(RegistrationDialogTest, RowMovesExchangeWholeRowsAndRefuseAtTheEdgesAndRemoveTakesTheSelectedRows)
{
    const struct {
        const char *what;
        std::vector<int> selected;
        int current;
        bool up;
        const char *order;
    } cases[] = {
        {"up on the first row", {0}, 0, true, "/n/a.fits;/n/b.fits;/n/c.fits"},
        {"up with two rows selected", {1, 2}, 2, true, "/n/a.fits;/n/b.fits;/n/c.fits"},
        {"up on the middle row", {1}, 1, true, "/n/b.fits;/n/a.fits;/n/c.fits"},
        {"down on the middle row", {1}, 1, false, "/n/a.fits;/n/c.fits;/n/b.fits"},
    };
    for (const auto &c : cases) {
        wndRegistrationData fresh;
        addThreeRows(fresh);
        selectRows(fresh, c.selected, c.current);
        (c.up ? fresh.pbUp : fresh.pbDown)->click();
        EXPECT_EQ(tableColumn(*fresh.twList, 0) + fresh.frameFiles(), list(c.order) + list(c.order)) << c.what;
        // b keeps its unchecked box and its results wherever it went, and stays the chosen row.
        const int b = list(c.order).indexOf("/n/b.fits");
        EXPECT_TRUE(fresh.twList->item(b, 0)->checkState() == Qt::Unchecked && !fresh.frameEntries()[b].selected
                    && fresh.twList->item(b, 2)->text() == "-2.25")
            << c.what;
        EXPECT_TRUE(c.selected.size() != 1 || c.current != 1 || fresh.twList->currentRow() == b) << c.what;
    }
    addThreeRows(dialog);
    selectRows(dialog, {0, 2}, 2);
    dialog.pbRemove->click();
    EXPECT_TRUE(dialog.frameFiles() == QStringList{"/n/b.fits"} && dialog.frameEntries()[0].offsetX == 1.5f);
}
