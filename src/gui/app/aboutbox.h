#pragma once
// The About box: the program's name, version and build, and the libraries it runs with.
#include <QDialog>

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget *parent = nullptr);

    // The text shown, also for tests and the command line's --version.
    static QString aboutText();
};
