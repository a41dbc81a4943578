#include "displaytexts.h"

#include <QHash>

#include <cmath>

namespace {
constexpr double kSmallestPlain = 1e-3;
constexpr double kLargestPlain = 1e5;
constexpr int kSignificantDigits = 4;
} // namespace

QString readoutText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    if (value == 0.0)
        return QStringLiteral("0");
    const double magnitude = std::fabs(value);
    if (magnitude >= kSmallestPlain && magnitude < kLargestPlain) {
        // From 1000 up, the whole number carries at least four digits already.
        if (magnitude >= 1000.0)
            return QString::number(value, 'f', 0);
        return QString::number(value, 'g', kSignificantDigits);
    }
    // "1.500e-05" becomes "1.5e-5"; a two-digit exponent costs the mantissa a digit.
    const bool longExponent = magnitude < 1e-9 || magnitude >= 1e10;
    const QString scientific = QString::number(value, 'e', kSignificantDigits - (longExponent ? 2 : 1));
    const int e = scientific.indexOf(QLatin1Char('e'));
    QString mantissa = scientific.left(e);
    while (mantissa.endsWith(QLatin1Char('0')))
        mantissa.chop(1);
    if (mantissa.endsWith(QLatin1Char('.')))
        mantissa.chop(1);
    return mantissa + QLatin1Char('e') + QString::number(scientific.mid(e + 1).toInt());
}

QString widestReadoutText()
{
    return QStringLiteral("-8.888e-8");
}

QString zoomText(double zoom)
{
    return QString::number(zoom * 100.0, 'g', kSignificantDigits) + QStringLiteral(" %");
}

QStringList windowListLabels(const QStringList &titles)
{
    QStringList labels;
    QHash<QString, int> seen;
    for (const QString &title : titles) {
        const int occurrence = ++seen[title];
        labels << (occurrence == 1 ? title : QStringLiteral("%1 [%2]").arg(title).arg(occurrence));
    }
    return labels;
}
