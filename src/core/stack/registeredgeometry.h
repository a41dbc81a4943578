#pragma once
// Geometry of stacking registered frames into one common frame: where a frame's pixels land in
// the reference frame, the bounding box of all frames (the size of the stack), and which source
// rows a band of output rows needs.
//
// Units and conventions: pixels, origin top-left, x to the right, y down; a frame of w x h
// pixels turns about c = (w / 2, h / 2) (integer halves). A frame's transform is its offset
// (tx, ty) and its angle in degrees as the registration reports it; the angle's sine and cosine
// are computed in double precision, every coordinate in single precision. A source pixel (x, y)
// lands in the reference frame at
//   X =  cos a (x - cx) + sin a (y - cy) + cx + tx
//   Y = -sin a (x - cx) + cos a (y - cy) + cy + ty
// Output column u and row v of the stack stand for the reference point
// (u + trunc(minX), v + minY): columns at whole reference columns, rows at the bounding box's
// possibly fractional top. Pure functions; any thread may call them.

struct FramePlacement {
    float offsetX = 0.0f;
    float offsetY = 0.0f;
    float angle = 0.0f; // degrees, as registered
};

// The rotation of one frame, ready for per-pixel use.
struct FrameRotation {
    explicit FrameRotation(const FramePlacement &placement, int frameWidth, int frameHeight);
    float cosine;
    float sine;
    float cx;
    float cy;
    float tx;
    float ty;

    // Source (x, y) to reference (X, Y).
    void forward(float x, float y, float &X, float &Y) const
    {
        const float dx = x - cx;
        const float dy = y - cy;
        X = cosine * dx + sine * dy + cx + tx;
        Y = -sine * dx + cosine * dy + cy + ty;
    }
    // Reference (X, Y) back to the source frame.
    void inverse(float X, float Y, float &x, float &y) const
    {
        const float dx = X - tx - cx;
        const float dy = Y - ty - cy;
        x = cosine * dx - sine * dy + cx;
        y = sine * dx + cosine * dy + cy;
    }
};

// The reference-frame extent of all frames, grown one frame at a time. The floats hold the
// overhang beyond the reference frame on each side (minX and minY never above 0, right and
// bottom never below 0).
struct OutputBounds {
    float minX = 0.0f;
    float right = 0.0f;
    float minY = 0.0f;
    float bottom = 0.0f;
};

// Grows the bounds by the four corner pixels (0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)
// of a frame of w x h pixels with this placement.
void widenBounds(OutputBounds &bounds, const FramePlacement &placement, int frameWidth, int frameHeight);

// The stack's size: width trunc(|floor(minX)| + w + right), the float overhang on the right;
// height |floor(minY)| + ceil(bottom) + h. A 1000 x 800 frame shifted by tx = 10.5 gives 1009
// columns (the corner column is w - 1); one shifted by ty = -7.25 gives 808 rows.
int outputWidth(const OutputBounds &bounds, int frameWidth);
int outputHeight(const OutputBounds &bounds, int frameHeight);

// Source rows that output rows first .. first + rows - 1 need from one frame: the corners of
// the band mapped back, srcMin = max(0, least y), srcMax = min(h, max(0, greatest y)).
struct SourceRows {
    float srcMin = 0.0f;
    float srcMax = 0.0f;
    // The whole rows to read so that every sample of the band finds its row: from floor(srcMin)
    // to floor(srcMax), one more on each side against rounding, clipped to the frame; count 0
    // when the band lies wholly outside the frame.
    int firstRow = 0;
    int rowCount = 0;
};
SourceRows bandSourceRows(const FramePlacement &placement, const OutputBounds &bounds, int outputWidth,
                          int frameWidth, int frameHeight, int first, int rows);
