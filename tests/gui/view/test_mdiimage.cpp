#include "gui/guitest.h"
#include "support/capturinglog.h"

namespace {

class ImageWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(QString::fromLatin1(settingsfile::kFileName));
        window = new mdiImage;
        window->buffer = greyImage(64, 48, [](int x, int) { return x / 64.0f; });
        window->resize(200, 150);
        window->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        window->show();
        window->displayBuffer();
    }
    void TearDown() override { delete window; }
    QPoint viewPoint(int x, int y) const { return window->mapFromScene(QPointF(x, y)); }
    void hover(QPoint at, Qt::MouseButtons held = Qt::NoButton)
    {
        QMouseEvent move(QEvent::MouseMove, at, window->viewport()->mapToGlobal(at), Qt::NoButton, held,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(window->viewport(), &move);
    }
    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(window->viewport(), Qt::LeftButton, Qt::NoModifier, from);
        hover(to, Qt::LeftButton);
        QTest::mouseRelease(window->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    }
    void wheel(int delta)
    {
        QWheelEvent event(QPointF(10, 10), window->mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window->viewport(), &event);
    }
    QRgb shown(int x, int y) const { return window->previewImage.pixel(x, y); }
    mdiImage *window = nullptr;
};

} // namespace

TEST_F(ImageWindowTest, PreviewRendersTheBufferInItsScaleWithThePreferencesGamma)
{
    window->buffer = greyImage(2, 1, [](int x, int) { return x == 0 ? 32768.0f : 65535.0f; });
    window->buffer->whiteLevel = 65535.0f;
    window->updateBuffer();
    EXPECT_EQ(std::make_pair(qRed(shown(0, 0)), qGreen(shown(1, 0))), std::make_pair(127, 255)) << "RAW-scaled";
    // The preview gamma of the preferences is read at every rendering.
    settingsfile::setValue("Preferences", "UsePreviewGamma", true);
    settingsfile::setValue("Preferences", "PreviewGamma", 2.2);
    window->buffer = greyImage(1, 1, [](int, int) { return 64.5f / 255.0f; });
    window->updateBuffer();
    EXPECT_EQ(qRed(shown(0, 0)), static_cast<int>(std::pow(64.0 / 255.0, 1.0 / 2.2) * 255.0));
    // A window without an image reports a display error instead of drawing.
    for (void (mdiImage::*draw)() : {&mdiImage::updateBuffer, &mdiImage::displayBuffer}) {
        mdiImage empty;
        (empty.*draw)();
        EXPECT_TRUE(empty.displayError);
    }
}

TEST_F(ImageWindowTest, SelectionIsTheSameFromEitherDragDirectionAndThePointerReportsThePixelUnderIt)
{
    const auto selected = [this] {
        const SelectionRect &s = window->selection;
        return QRect(s.x, s.y, s.width, s.height);
    };
    drag(viewPoint(10, 5), viewPoint(30, 20));
    EXPECT_TRUE(selected() == QRect(10, 5, 20, 15) && window->selectionShown);
    drag(viewPoint(30, 20), viewPoint(10, 5));
    EXPECT_EQ(selected(), QRect(10, 5, 20, 15));
    // A click without movement clears it; so does a redisplay not bring it back.
    QTest::mouseClick(window->viewport(), Qt::LeftButton, Qt::NoModifier, viewPoint(40, 40));
    EXPECT_FALSE(window->hasSelection() || window->selectionShown);
    window->displayBuffer();
    EXPECT_EQ(window->selectionItem, nullptr);
    // A selection survives a redisplay.
    drag(viewPoint(2, 2), viewPoint(12, 8));
    window->displayBuffer();
    ASSERT_TRUE(window->selectionItem && window->selectionItem->rect() == QRectF(2, 2, 10, 6));
    QList<FloatRGB> colours;
    QObject::connect(window, &mdiImage::returnColor, [&](FloatRGB value) { colours << value; });
    hover(viewPoint(32, 3));
    ASSERT_TRUE(!colours.isEmpty() && colours.last().r == 0.5f);
    hover(viewPoint(100, 100));
    EXPECT_EQ(colours.last().r, 0.0f) << "outside the image the read-out shows zeros";
}

TEST_F(ImageWindowTest, EachWheelEventZoomsByOneFactorOfTwoAndEndsTheTestPreview)
{
    CapturingLog log;
    window->testPreview(&log);
    ASSERT_TRUE(window->testPreviewActive && window->testPreviewBuffer);
    EXPECT_EQ(log.lines(), list("enabling preview...;Generating preview buffer...;Done.;Displaying...;Preview ready."));
    wheel(3 * 120);
    EXPECT_TRUE(!window->testPreviewActive && !window->testPreviewBuffer && log.lines().last() == "Preview destroyed.");
    EXPECT_TRUE(window->zoom == 2.0 && window->transform().m11() == 2.0);
    wheel(-120);
    wheel(-120);
    EXPECT_DOUBLE_EQ(window->zoom, 0.5);
    window->isPreview = true;
    wheel(120);
    EXPECT_DOUBLE_EQ(window->zoom, 0.5) << "a preview window ignores the wheel";
}

TEST_F(ImageWindowTest, MarkersAreAddedByClicksAndRemovedByRightClicksOldestFirst)
{
    window->markerMode = true;
    QTest::mouseClick(window->viewport(), Qt::LeftButton, Qt::NoModifier, viewPoint(20, 20));
    ASSERT_TRUE(window->markerXs.size() == 1 && window->markerXs[0] == 20 && window->markerYs[0] == 20);
    QTest::mouseClick(window->viewport(), Qt::LeftButton, Qt::NoModifier, viewPoint(20, 20));
    ASSERT_TRUE(window->markerXs.size() == 2 && window->markerItems.size() == 2);
    EXPECT_EQ(window->markerItems[0]->rect(), QRectF(15, 15, 11, 11));
    // A right click farther than half a box away removes nothing.
    QTest::mouseClick(window->viewport(), Qt::RightButton, Qt::NoModifier, viewPoint(40, 20));
    EXPECT_EQ(window->markerXs.size(), 2);
    window->markerXs[1] = 22; // tell the two apart
    QTest::mouseClick(window->viewport(), Qt::RightButton, Qt::NoModifier, viewPoint(21, 20));
    EXPECT_EQ(window->markerXs, QList<int>{22}) << "on equal distances the marker added first goes";
    window->clearMarkers();
    EXPECT_TRUE(window->markerXs.isEmpty() && window->markerItems.isEmpty());
}
