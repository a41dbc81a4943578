#include "wndimagestats.h"

#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"
#include "process/regionstats.h"
#include "view/mdiimage.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const char *const kRows[] = {"Minimum", "Maximum", "Mean", "Median", "Std. deviation", "Clipped mean (k = 1)"};
constexpr int kRowCount = 6;

} // namespace

wndImageStats::wndImageStats(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndImageStats"));
    setWindowTitle(QStringLiteral("Image Statistics"));
    auto *column = new QVBoxLayout(this);
    lblSource = new QLabel(this);
    lblSource->setObjectName(QStringLiteral("lblSource"));
    column->addWidget(lblSource);

    table = new QTableWidget(kRowCount, 3, this);
    table->setObjectName(QStringLiteral("twStatistics"));
    table->setHorizontalHeaderLabels({QStringLiteral("Red"), QStringLiteral("Green"), QStringLiteral("Blue")});
    QStringList rows;
    for (const char *row : kRows)
        rows << QString::fromLatin1(row);
    table->setVerticalHeaderLabels(rows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int row = 0; row < kRowCount; ++row)
        for (int c = 0; c < 3; ++c)
            table->setItem(row, c, new QTableWidgetItem);
    column->addWidget(table);
    resize(440, 230);
}

void wndImageStats::showStatistics(const QString &title, const ImageBuffer *buffer, const SelectionRect &selection)
{
    std::optional<RegionStatistics> statistics;
    if (buffer && buffer->hasPixels()) {
        const PixelRegion region =
            selectionRegion(*buffer, selection.x, selection.y, selection.width, selection.height);
        lblSource->setText(
            selection.width > 0
                ? QStringLiteral("%1, selection %2 x %3 at %4, %5")
                      .arg(title)
                      .arg(selection.width)
                      .arg(selection.height)
                      .arg(selection.x)
                      .arg(selection.y)
                : QStringLiteral("%1, whole image (%2 x %3)").arg(title).arg(buffer->width).arg(buffer->height));
        guardMemory(messageLog(), [&] { statistics = regionStatistics(*buffer, region, kClipSigma); });
    } else {
        lblSource->setText(QStringLiteral("No image"));
    }
    const auto fill = [this](int row, const std::optional<FloatRGB> &value) {
        const float channels[3] = {value ? value->r : 0.0f, value ? value->g : 0.0f, value ? value->b : 0.0f};
        for (int c = 0; c < 3; ++c)
            table->item(row, c)->setText(value ? QString::number(static_cast<double>(channels[c]), 'g', 6)
                                               : QStringLiteral("-"));
    };
    const std::optional<FloatRGB> none;
    fill(0, statistics ? std::optional<FloatRGB>(statistics->minimum) : none);
    fill(1, statistics ? std::optional<FloatRGB>(statistics->maximum) : none);
    fill(2, statistics ? std::optional<FloatRGB>(statistics->mean) : none);
    fill(3, statistics ? std::optional<FloatRGB>(statistics->median) : none);
    fill(4, statistics ? std::optional<FloatRGB>(statistics->sigma) : none);
    fill(5, statistics ? statistics->clippedMean : none);
}
