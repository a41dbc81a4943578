#include "aboutbox.h"

#include "platform/libraryversions.h"
#include "version.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

AboutBox::AboutBox(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("About Verdanix"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(aboutText(), this);
    label->setObjectName(QStringLiteral("aboutText"));
    label->setTextFormat(Qt::RichText);
    layout->addWidget(label);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
}

QString AboutBox::aboutText()
{
    return QStringLiteral("<h2>Verdanix</h2>"
                          "<p>Processing of astrophotographs.</p>"
                          "<p>Version %1, build %2</p>"
                          "<p>Qt %3<br>LibRaw %4<br>cfitsio %5</p>")
        .arg(QString::fromLatin1(verdanix::kVersion))
        .arg(verdanix::kBuild)
        .arg(qtRuntimeVersion(), librawRuntimeVersion(), cfitsioRuntimeVersion());
}
