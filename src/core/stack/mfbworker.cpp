#include "mfbworker.h"

#include "image/imagebuffer.h"

MFBWorker::MFBWorker(BandRowQueue &rowQueue, ImageBuffer &out, int frames, const CombineSettings &settings,
                     int index, QObject *parent)
    : QThread(parent), combineMode(settings.mode), workerIndex(index), queue(rowQueue), output(out),
      combiner(frames, out.width, settings), rows(static_cast<std::size_t>(frames), nullptr)
{
    // A worker waits for the first band published after it was made.
    std::lock_guard<std::mutex> guard(queue.lock);
    firstGeneration = queue.generation;
}

MFBWorker::~MFBWorker()
{
    wait();
}

void MFBWorker::run()
{
    int seen = firstGeneration;
    std::vector<const ImageBuffer *> bands;
    for (;;) {
        int first = 0;
        int end = 0;
        {
            std::unique_lock<std::mutex> guard(queue.lock);
            queue.changed.wait(guard, [&] { return queue.stop || queue.generation != seen; });
            if (queue.stop)
                return;
            seen = queue.generation;
            first = queue.bandFirst;
            end = queue.bandEnd;
            bands = queue.bands;
        }
        combineBand(first, end, bands);
        emit workDone(this);
    }
}

void MFBWorker::combineBand(int first, int end, const std::vector<const ImageBuffer *> &bands)
{
    for (;;) {
        if (queue.abort && queue.abort->load(std::memory_order_relaxed))
            break;
        const int row = queue.nextRow.fetch_add(1, std::memory_order_relaxed);
        if (row >= end)
            break;
        currentRow.store(row, std::memory_order_relaxed);
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i] = bands[i] ? bands[i]->pixel(0, row - first) : nullptr;
        combiner.combineRow(rows.data(), output.pixel(0, row));
        // Release: whoever reads the count with acquire sees the row written.
        queue.rowsDone.fetch_add(1, std::memory_order_release);
    }
    currentRow.store(-1, std::memory_order_relaxed);
}
