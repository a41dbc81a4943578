#include "settingsfile.h"

#include <QSettings>

namespace settingsfile {

namespace {
const QString kGeneral = QStringLiteral("General");
const QString kHistory = QStringLiteral("History");
const QString kPreferences = QStringLiteral("Preferences");

QString keyPath(const QString &group, const QString &key)
{
    // QSettings keeps keys outside any group under [General]; naming the group in the key
    // path would write [%General] instead, so that group is addressed by the bare key.
    return group == kGeneral ? key : group + QLatin1Char('/') + key;
}
} // namespace

QVariant value(const QString &group, const QString &key, const QVariant &defaultValue)
{
    QSettings settings(QString::fromLatin1(kFileName), QSettings::IniFormat);
    return settings.value(keyPath(group, key), defaultValue);
}

void setValue(const QString &group, const QString &key, const QVariant &newValue)
{
    QSettings settings(QString::fromLatin1(kFileName), QSettings::IniFormat);
    settings.setValue(keyPath(group, key), newValue);
    settings.sync();
}

bool firstRun()
{
    return value(kGeneral, QStringLiteral("FirstRun"), true).toBool();
}

void setFirstRun(bool newValue)
{
    setValue(kGeneral, QStringLiteral("FirstRun"), newValue);
}

QString fileOpenPath()
{
    return value(kHistory, QStringLiteral("FileOpenPath"), QString()).toString();
}

void setFileOpenPath(const QString &directory)
{
    setValue(kHistory, QStringLiteral("FileOpenPath"), directory);
}

int maxThreads(int defaultValue)
{
    return value(kPreferences, QStringLiteral("maxThreads"), defaultValue).toInt();
}

int maxMem(int defaultValue)
{
    return value(kPreferences, QStringLiteral("maxMem"), defaultValue).toInt();
}

int memPercent()
{
    return value(kPreferences, QStringLiteral("MemPercent"), kDefaultMemPercent).toInt();
}

bool usePreviewGamma()
{
    return value(kPreferences, QStringLiteral("UsePreviewGamma"), false).toBool();
}

float previewGamma()
{
    return value(kPreferences, QStringLiteral("PreviewGamma"), kDefaultPreviewGamma).toFloat();
}

bool debayerFits()
{
    return value(kPreferences, QString::fromLatin1(kDebayerFitsKey), false).toBool();
}

bool stretchNewWindows()
{
    return value(kPreferences, QString::fromLatin1(kStretchNewWindowsKey), false).toBool();
}

} // namespace settingsfile
