#pragma once
// The settings file verdanix.ini in the working directory. It is opened afresh for every
// read and write, so a value saved anywhere is seen at the next read. Callers pass the
// default that applies to them when a key is absent (the runs and the preferences dialog
// use different ones).
#include <QString>
#include <QVariant>

namespace settingsfile {

constexpr const char *kFileName = "verdanix.ini";

QVariant value(const QString &group, const QString &key, const QVariant &defaultValue);
void setValue(const QString &group, const QString &key, const QVariant &value);

// General
bool firstRun();
void setFirstRun(bool value);

// History: the folder every file dialog opens in and remembers.
QString fileOpenPath();
void setFileOpenPath(const QString &directory);

// Preferences
constexpr int kRunMaxThreads = 8;
constexpr int kRunMaxMemMB = 1024;
constexpr int kDefaultMemPercent = 50;
constexpr float kDefaultPreviewGamma = 2.2f;

int maxThreads(int defaultValue = kRunMaxThreads);
int maxMem(int defaultValue = kRunMaxMemMB);
int memPercent();
bool usePreviewGamma();
float previewGamma();
// "Debayer colour camera FITS (BAYERPAT)", off unless saved on.
constexpr const char *kDebayerFitsKey = "DebayerFits";
bool debayerFits();
// "Stretch new windows automatically", off unless saved on.
constexpr const char *kStretchNewWindowsKey = "StretchNewWindows";
bool stretchNewWindows();

} // namespace settingsfile
