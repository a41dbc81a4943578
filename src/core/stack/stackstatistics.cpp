#include "stackstatistics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace stackstats {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// Below this many samples an insertion sort beats the library sort (no recursion, few moves
// for the nearly sorted sample sets of neighbouring pixels).
constexpr int kInsertionSortLimit = 32;

// Ascending. Equal values are indistinguishable for every statistic here, so any correct sort
// gives the same results.
void sortSamples(float *arr, int n)
{
    if (n > kInsertionSortLimit) {
        std::sort(arr, arr + n);
        return;
    }
    for (int i = 1; i < n; ++i) {
        const float value = arr[i];
        int j = i - 1;
        while (j >= 0 && value < arr[j]) {
            arr[j + 1] = arr[j];
            --j;
        }
        arr[j + 1] = value;
    }
}

float sumOf(const float *arr, int n)
{
    float sum = 0.0f;
    for (int i = 0; i < n; ++i)
        sum += arr[i];
    return sum;
}

float deviationAbout(const float *arr, int n, float centre)
{
    float squares = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float d = arr[i] - centre;
        squares += d * d;
    }
    return std::sqrt(squares / static_cast<float>(n));
}

} // namespace

float mean(const float *arr, int n)
{
    if (n <= 0)
        return kNaN;
    return sumOf(arr, n) / static_cast<float>(n);
}

float stdDev(const float *arr, int n)
{
    if (n <= 0)
        return kNaN;
    return deviationAbout(arr, n, mean(arr, n));
}

int winsorizeCount(int n, float f)
{
    if (n <= 0)
        return 0;
    const float wanted = std::round(static_cast<float>(n) * f);
    // A NaN or negative fraction replaces nothing; the ends may meet but never cross.
    if (!(wanted > 0.0f))
        return 0;
    const int limit = (n - 1) / 2;
    return wanted >= static_cast<float>(limit) ? limit : static_cast<int>(wanted);
}

void winsorize(float *arr, int n, float f)
{
    if (n <= 0)
        return;
    sortSamples(arr, n);
    const int c = winsorizeCount(n, f);
    const float low = arr[c];
    const float high = arr[n - 1 - c];
    for (int i = 0; i < c; ++i) {
        arr[i] = low;
        arr[n - 1 - i] = high;
    }
}

int trimKeepCount(int n, float f)
{
    if (n <= 0)
        return 0;
    // The product in single precision, the floor in double: (1 - 0.1f) x 10 is 9.0f, so ten
    // samples keep nine.
    const double kept = std::floor(static_cast<double>((1.0f - f) * static_cast<float>(n)));
    if (!(kept > 0.0))
        return 0;
    return kept >= n ? n : static_cast<int>(kept);
}

int trim(float *arr, int n, float f)
{
    if (n <= 0)
        return 0;
    sortSamples(arr, n);
    const int m = trimKeepCount(n, f);
    const int start = (n - m) / 2;
    if (start > 0 && m > 0)
        std::memmove(arr, arr + start, static_cast<std::size_t>(m) * sizeof(float));
    return m;
}

float sigmaClippedMean(const float *arr, int n, float k)
{
    if (n <= 0)
        return kNaN;
    const float mu = mean(arr, n);
    const float s = k * deviationAbout(arr, n, mu);
    const float low = mu - s;
    const float high = mu + s;
    float sum = 0.0f;
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        if (arr[i] >= low && arr[i] <= high) {
            sum += arr[i];
            ++kept;
        }
    }
    return sum / static_cast<float>(kept);
}

float combineAverage(float *arr, int n, int rejection, float f)
{
    switch (rejection) {
    case RejectWinsorize:
        winsorize(arr, n, f);
        return mean(arr, n);
    case RejectTrim: return mean(arr, trim(arr, n, f));
    default: break;
    }
    if (n <= 0)
        return kNaN;
    return (1.0f / static_cast<float>(n)) * sumOf(arr, n);
}

float combineMedian(float *arr, int n)
{
    if (n <= 0)
        return kNaN;
    const int middle = (n - 1) / 2;
    if (n <= kInsertionSortLimit) {
        sortSamples(arr, n);
        return arr[middle];
    }
    // Only the order statistic is used, so a selection gives the same value as a full sort.
    std::nth_element(arr, arr + middle, arr + n);
    return arr[middle];
}

float combineSigma(float *arr, int n, int rejection, float f, float k)
{
    if (rejection == RejectWinsorize)
        winsorize(arr, n, f);
    else if (rejection == RejectTrim)
        n = trim(arr, n, f);
    return sigmaClippedMean(arr, n, k);
}

float combine(float *arr, int n, int mode, int rejection, float f, float k)
{
    switch (mode) {
    case CombineMedian: return combineMedian(arr, n);
    case CombineSigma: return combineSigma(arr, n, rejection, f, k);
    default: return combineAverage(arr, n, rejection, f);
    }
}

float combineOrMean(float *arr, int n, int mode, int rejection, float f, float k, bool &fellBack)
{
    fellBack = false;
    if (mode == CombineMedian || n <= 0)
        return combine(arr, n, mode, rejection, f, k);
    // Taken before the rejection rearranges the samples; the samples themselves are never NaN.
    const float plainMean = (1.0f / static_cast<float>(n)) * sumOf(arr, n);
    const float result = combine(arr, n, mode, rejection, f, k);
    if (std::isnan(result) && !std::isnan(plainMean)) {
        fellBack = true;
        return plainMean;
    }
    return result;
}

bool rejectionFractionUsable(int rejection, float f, int n)
{
    return rejectionFractionProblem(rejection, f, n).isEmpty();
}

QString rejectionFractionProblem(int rejection, float f, int n)
{
    if (rejection != RejectWinsorize && rejection != RejectTrim)
        return QString();
    if (!(f >= 0.0f))
        return QStringLiteral("The rejection fraction must be a number of at least 0.");
    if (rejection == RejectWinsorize) {
        const float c = std::round(static_cast<float>(n) * f);
        if (!(c < static_cast<float>(n) - c))
            return QStringLiteral("Winsorizing %1 frames with the fraction %2 would replace %3 values at each end, "
                                  "reaching past the middle; use a smaller fraction.")
                .arg(n)
                .arg(static_cast<double>(f), 0, 'g', 6)
                .arg(static_cast<double>(c), 0, 'g', 6);
        return QString();
    }
    if (trimKeepCount(n, f) < 1)
        return QStringLiteral("Trimming %1 frames with the fraction %2 would keep no value; use a smaller fraction.")
            .arg(n)
            .arg(static_cast<double>(f), 0, 'g', 6);
    return QString();
}

} // namespace stackstats
