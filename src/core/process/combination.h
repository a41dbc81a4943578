#pragma once
// Pixel-wise combination of two equally sized images A and B at an opacity f (0 ... 1; the
// combine tool's percentage times 0.01): f = 1 gives the full operation, f = 0 gives A back.
// The subtract and divide operators at f = 1 are also the master-frame arithmetic of the
// registration run.
//
// Every operator reads both pixels as getPixel does (a NaN component counts as 0), writes
// alpha 1.0, and returns a new buffer with A's width, height and channels, or null when A and
// B differ in width or height. The operators leave whiteLevel/blackLevel at 1.0/0.0;
// combineImages, the combine tool's entry, copies A's levels to its result.
// Pure functions; allocation failure throws AllocationFailure.
#include <QString>

#include <memory>

class ImageBuffer;

// The values are the combine tool's operator data; keep them.
enum class CombineOperator { Add = 0, Subtract = 1, Multiply = 2, Divide = 3, NegativeMultiply = 4 };

// B * f + A
std::unique_ptr<ImageBuffer> combineAdd(const ImageBuffer &a, const ImageBuffer &b, float f);
// A - B * f
std::unique_ptr<ImageBuffer> combineSubtract(const ImageBuffer &a, const ImageBuffer &b, float f);
// B * A * f + (1 - f) * A
std::unique_ptr<ImageBuffer> combineMultiply(const ImageBuffer &a, const ImageBuffer &b, float f);
// A / B * f + (1 - f) * A, an infinite result replaced by 1.0. A 0/0 quotient stays NaN, and
// so does a zero channel of B at f = 0 (infinity times 0).
std::unique_ptr<ImageBuffer> combineDivide(const ImageBuffer &a, const ImageBuffer &b, float f);
// (1 - (1 - B) * (1 - A)) * f + (1 - f) * A
std::unique_ptr<ImageBuffer> combineNegativeMultiply(const ImageBuffer &a, const ImageBuffer &b, float f);

// The operator `op` on A and B, with A's whiteLevel and blackLevel copied to the result. Null
// when the sizes differ or op is not one of the five.
std::unique_ptr<ImageBuffer> combineImages(CombineOperator op, const ImageBuffer &a, const ImageBuffer &b, float f);

// The log line that announces the operator ("Image addition..." and so on); empty for a value
// that is not one of the five.
QString combineLogLine(CombineOperator op);
