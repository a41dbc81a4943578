#pragma once
// A stack's combining thread. The workers of one stack share one BandRowQueue: when the frame
// buffer has loaded a band it publishes it there, every worker takes the band's rows one at a
// time from a shared counter and combines them (rowcombiner.h) into the output, then reports
// workDone(this) and blocks until the next band or the end. Between bands the workers sleep on
// a condition variable; they never poll.
//
// Ownership: the MultiFB owns the queue, the output and the workers; a worker borrows them and
// writes only the output rows it took, so the rows need no lock. The bands are replaced only
// after every worker has reported the band done, and published under the queue's lock.
#include "rowcombiner.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

class ImageBuffer;

struct BandRowQueue {
    std::mutex lock;
    std::condition_variable changed;
    // Guarded by lock: a new value publishes a new band; stop ends every worker.
    int generation = 0;
    bool stop = false;
    // Guarded by lock: the band's output rows [bandFirst, bandEnd) and each frame's band (null
    // when a frame has none), valid until the next generation.
    int bandFirst = 0;
    int bandEnd = 0;
    std::vector<const ImageBuffer *> bands;
    // The next row to hand out and the rows finished, over the whole stack.
    std::atomic<int> nextRow{0};
    std::atomic<int> rowsDone{0};
    // Workers take no new row once this is set.
    const std::atomic<bool> *abort = nullptr;
};

class MFBWorker : public QThread {
    Q_OBJECT
public:
    // Allocates the worker's scratch arrays (throws std::bad_alloc).
    MFBWorker(BandRowQueue &queue, ImageBuffer &output, int frames, const CombineSettings &settings, int index,
              QObject *parent = nullptr);
    ~MFBWorker() override;

    const int combineMode;
    const int workerIndex;
    // The row being combined, -1 between rows.
    std::atomic<int> currentRow{-1};
    // Pixels whose rejection fell back to the plain mean; read after the worker has stopped.
    std::int64_t fallbacks() const { return combiner.fallbacks(); }

signals:
    void workDone(QObject *sender);

protected:
    void run() override;

private:
    void combineBand(int first, int end, const std::vector<const ImageBuffer *> &bands);

    BandRowQueue &queue;
    ImageBuffer &output;
    RowCombiner combiner;
    std::vector<const float *> rows;
    int firstGeneration = 0;
};
