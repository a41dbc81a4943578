#pragma once
// What the GUI tests share: the widgets' headers, a shown main window on fresh settings, and
// small images made in code.
#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "image/imagebuffer.h"
#include "platform/settingsfile.h"
#include "support/guihelpers.h"
#include "view/mdiimage.h"

#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;

// A normalised grey image whose pixel (x, y) holds value(x, y) in every channel.
template <class Value> std::unique_ptr<ImageBuffer> greyImage(int width, int height, Value value)
{
    auto buffer = std::make_unique<ImageBuffer>(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float *p = buffer->pixel(x, y);
            p[0] = p[1] = p[2] = value(x, y);
            p[3] = 1.0f;
        }
    return buffer;
}

// A list written as one string, its items separated by ';'.
inline QStringList list(const char *items)
{
    return QString::fromUtf8(items).split(QLatin1Char(';'));
}

inline QMdiSubWindow *frameOf(QWidget *image)
{
    return qobject_cast<QMdiSubWindow *>(image->parentWidget());
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = startMainWindow(); }
    void TearDown() override { window.reset(); }
    // Opens the buffer as a result window and makes it the active one.
    mdiImage *open(std::unique_ptr<ImageBuffer> buffer, const QString &name, int titleCounter = 0)
    {
        mdiImage *image = window->openResultWindow(std::move(buffer), name, titleCounter);
        window->documentArea()->setActiveSubWindow(frameOf(image));
        return image;
    }
    mdiImage *open(const QString &name, int width = 4, int height = 4, int titleCounter = 0)
    {
        return open(std::make_unique<ImageBuffer>(width, height), name, titleCounter);
    }
    int imageWindowCount() const
    {
        int count = 0;
        for (QMdiSubWindow *sub : window->documentArea()->subWindowList())
            count += qobject_cast<mdiImage *>(sub->widget()) != nullptr;
        return count;
    }
    QString lastLine() const { return consoleLines(*window).last(); }
    QString status() const { return window->findChild<QLabel *>("statusLabel")->text(); }
    bool idle() const { return !window->calculationRunning && !abortVisible(*window); }
    std::unique_ptr<Verdanix> window;
};
