#include "wndsettings.h"

#include "calib/resourcelimits.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

namespace {

// The form's own ranges, in force while the stored values are first shown: a memory
// figure above 16368 MB therefore shows as 16368 until the user changes it.
constexpr int kFormMaxThreads = 100;
constexpr int kFormMaxMemoryMB = 16368;

const QString kPreferences = QStringLiteral("Preferences");

} // namespace

wndSettings::wndSettings(QWidget *parent)
    : wndSettings(parent, hardwareThreads(), bytesToMegabytes(queryPhysicalMemory().totalBytes))
{
}

wndSettings::wndSettings(QWidget *parent, int machineThreads, std::uint64_t machineTotalMB) : QWidget(parent)
{
    setObjectName(QStringLiteral("wndSettings"));
    setWindowTitle(QStringLiteral("Preferences"));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(windowFlags() | Qt::Tool);
    buildForm();
    showStoredValues(machineThreads, machineTotalMB);
    setFixedSize(sizeHint());
}

void wndSettings::buildForm()
{
    auto *column = new QVBoxLayout(this);
    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));

    auto *general = new QWidget(tabWidget);
    auto *generalForm = new QFormLayout(general);
    cbLanguage = new QComboBox(general);
    cbLanguage->setObjectName(QStringLiteral("cbLanguage"));
    cbLanguage->addItem(QStringLiteral("English"));
    generalForm->addRow(QStringLiteral("Language:"), cbLanguage);
    cbPreviewGamma = new QCheckBox(QStringLiteral("Use Preview Gamma:"), general);
    cbPreviewGamma->setObjectName(QStringLiteral("cbPreviewGamma"));
    dsbPreviewGamma = new QDoubleSpinBox(general);
    dsbPreviewGamma->setObjectName(QStringLiteral("dsbPreviewGamma"));
    dsbPreviewGamma->setRange(0.01, 10.0);
    generalForm->addRow(cbPreviewGamma, dsbPreviewGamma);
    cbDebayer = new QCheckBox(QStringLiteral("Debayer colour camera FITS (BAYERPAT)"), general);
    cbDebayer->setObjectName(QStringLiteral("cbDebayer"));
    cbDebayer->setToolTip(QStringLiteral("One-plane FITS frames whose header names a Bayer pattern (RGGB, BGGR, "
                                         "GRBG, GBRG) open and stack as colour images, masters included."));
    generalForm->addRow(cbDebayer);
    cbStretchNew = new QCheckBox(QStringLiteral("Stretch new windows automatically"), general);
    cbStretchNew->setObjectName(QStringLiteral("cbStretchNew"));
    cbStretchNew->setToolTip(QStringLiteral("Each new image window gets the automatic stretch of the View Correction "
                                            "panel, at the panel's clipping value."));
    generalForm->addRow(cbStretchNew);
    tabWidget->addTab(general, QStringLiteral("General"));

    auto *performance = new QWidget(tabWidget);
    auto *performanceForm = new QFormLayout(performance);
    sbThreads = new QSpinBox(performance);
    sbThreads->setObjectName(QStringLiteral("sbThreads"));
    sbThreads->setRange(1, kFormMaxThreads);
    sbMemory = new QSpinBox(performance);
    sbMemory->setObjectName(QStringLiteral("sbMemory"));
    sbMemory->setGroupSeparatorShown(true);
    sbMemory->setRange(1, kFormMaxMemoryMB);
    sbMemory->setSingleStep(256);
    sbMemory->setSuffix(QStringLiteral(" MB"));
    sbMemory->setValue(kFormMaxMemoryMB);
    sbMemPercent = new QSpinBox(performance);
    sbMemPercent->setObjectName(QStringLiteral("sbMemPercent"));
    sbMemPercent->setGroupSeparatorShown(true);
    sbMemPercent->setRange(1, 100);
    sbMemPercent->setSingleStep(5);
    sbMemPercent->setSuffix(QStringLiteral(" %"));
    performanceForm->addRow(QStringLiteral("CPU Cores to use:"), sbThreads);
    performanceForm->addRow(QStringLiteral("Maximum memory usage:"), sbMemory);
    performanceForm->addRow(QStringLiteral("Use not more free memory than:"), sbMemPercent);
    tabWidget->addTab(performance, QStringLiteral("Performance"));
    tabWidget->setCurrentIndex(0);
    column->addWidget(tabWidget);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    pbOK = new QPushButton(QStringLiteral("OK"), this);
    pbOK->setObjectName(QStringLiteral("pbOK"));
    pbCancel = new QPushButton(QStringLiteral("Cancel"), this);
    pbCancel->setObjectName(QStringLiteral("pbCancel"));
    buttons->addWidget(pbOK);
    buttons->addWidget(pbCancel);
    column->addLayout(buttons);
    connect(pbOK, SIGNAL(clicked()), this, SLOT(evSaveSettings()));
    connect(pbCancel, SIGNAL(clicked()), this, SLOT(evCancel()));
}

void wndSettings::showStoredValues(int machineThreads, std::uint64_t machineTotalMB)
{
    // The dialog proposes half the machine where nothing is stored yet; the runs
    // themselves keep their own defaults until the dialog is saved once.
    MachineMemory memory;
    memory.totalBytes = machineTotalMB << 20;
    const ResourcePreferences proposed = dialogDefaults(machineThreads, memory);
    const auto totalMB = static_cast<int>(std::min<std::uint64_t>(machineTotalMB, INT32_MAX));

    sbThreads->setValue(std::min(settingsfile::maxThreads(proposed.maxThreads), machineThreads));
    sbThreads->setMaximum(std::max(1, machineThreads));
    sbMemory->setValue(std::min(settingsfile::maxMem(proposed.maxMem), totalMB));
    sbMemory->setMaximum(std::max(1, totalMB));
    sbMemPercent->setValue(settingsfile::memPercent());
    cbPreviewGamma->setChecked(settingsfile::usePreviewGamma());
    dsbPreviewGamma->setValue(settingsfile::previewGamma());
    cbDebayer->setChecked(settingsfile::debayerFits());
    cbStretchNew->setChecked(settingsfile::stretchNewWindows());
}

void wndSettings::evSaveSettings()
{
    settingsfile::setValue(kPreferences, QStringLiteral("maxThreads"), sbThreads->value());
    settingsfile::setValue(kPreferences, QStringLiteral("maxMem"), sbMemory->value());
    settingsfile::setValue(kPreferences, QStringLiteral("MemPercent"), sbMemPercent->value());
    settingsfile::setValue(kPreferences, QStringLiteral("UsePreviewGamma"), cbPreviewGamma->isChecked());
    settingsfile::setValue(kPreferences, QStringLiteral("PreviewGamma"), dsbPreviewGamma->value());
    settingsfile::setValue(kPreferences, QString::fromLatin1(settingsfile::kDebayerFitsKey), cbDebayer->isChecked());
    settingsfile::setValue(kPreferences, QString::fromLatin1(settingsfile::kStretchNewWindowsKey),
                           cbStretchNew->isChecked());
    close();
}

void wndSettings::evCancel()
{
    close();
}
