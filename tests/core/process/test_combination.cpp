// The five combination operators at full, half and zero opacity.
#include "process/combination.h"
#include "processfixtures.h"

using namespace processtest;

namespace {

float combinedValue(CombineOperator op, float a, float b, float f)
{
    auto result = combineImages(op, *filledImage(1, 1, a, a, a), *filledImage(1, 1, b, b, b), f);
    EXPECT_TRUE(result);
    return result ? result->data[0] : kNaN;
}

} // namespace

TEST(Combination, EachOperatorAtOpacity100And50And0WithItsLogLine)
{
    // A = 0.8, B = 0.5. Opacity 0 always gives A back.
    const struct {
        CombineOperator op;
        float full, half;
        const char *line;
    } cases[] = {
        {CombineOperator::Add, 1.3f, 1.05f, "Image addition..."},
        {CombineOperator::Subtract, 0.3f, 0.55f, "Image substraction..."},
        {CombineOperator::Multiply, 0.4f, 0.6f, "Image multiplication..."}, // 0.5 * 0.4 + 0.5 * 0.8
        {CombineOperator::Divide, 1.6f, 1.2f, "Image division..."},
        {CombineOperator::NegativeMultiply, 0.9f, 0.85f, "Image negative multiplication..."}, // 1 - 0.5 * 0.2
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(combineLogLine(c.op), c.line);
        EXPECT_FLOAT_EQ(combinedValue(c.op, 0.8f, 0.5f, 1.0f), c.full);
        EXPECT_FLOAT_EQ(combinedValue(c.op, 0.8f, 0.5f, 0.5f), c.half);
        EXPECT_FLOAT_EQ(combinedValue(c.op, 0.8f, 0.5f, 0.0f), 0.8f);
    }

    // Division by zero gives 1 (NaN samples read as 0), except at opacity 0, where the infinite quotient times 0 is
    // NaN; zero by zero stays NaN.
    for (float f : {1.0f, 0.5f, 0.01f})
        EXPECT_EQ(combinedValue(CombineOperator::Divide, 0.3f, 0.0f, f), 1.0f) << f;
    EXPECT_EQ(combinedValue(CombineOperator::Divide, 0.3f, kNaN, 1.0f), 1.0f);
    EXPECT_TRUE(std::isnan(combinedValue(CombineOperator::Divide, 0.3f, 0.0f, 0.0f)));
    EXPECT_TRUE(std::isnan(combinedValue(CombineOperator::Divide, 0.0f, 0.0f, 0.5f)));
}

TEST(Combination, ResultTakesAsGeometryAndAlphaOneAndSizesMustAgree)
{
    auto a = filledImage(3, 2, 0.2f, 0.4f, 0.6f);
    setLevels(*a, {65535, 10, 2});
    setPixel(*a, 0, 0, kNaN, 0.4f, 0.6f, 0.0f);
    auto b = filledImage(3, 2, 1.0f, 1.0f, 1.0f);
    auto sum = combineAdd(*a, *b, 1.0f);
    ASSERT_TRUE(sum && sum->width == 3 && sum->height == 2);
    EXPECT_TRUE(sum->getPixel(0, 0).r == 1.0f && sum->getPixel(0, 0).a == 1.0f);
    // The bare operator leaves normalised levels; the combine tool's entry copies A's.
    EXPECT_EQ(levels(*sum), (Levels{1, 0, 2}));
    EXPECT_EQ(levels(*combineImages(CombineOperator::Add, *a, *b, 1.0f)), (Levels{65535, 10, 2}));
    EXPECT_FALSE(combineImages(CombineOperator::Divide, *a, *filledImage(4, 2, 1, 1, 1), 1.0f)
                 || combineImages(CombineOperator::Divide, *a, *filledImage(3, 3, 1, 1, 1), 1.0f)
                 || combineImages(static_cast<CombineOperator>(7), *a, *a, 1.0f));
}
