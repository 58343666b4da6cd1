#include <QApplication>

#include "viewer/CQuorvaneApp.h"

int main(int argc, char** argv) {
    // The viewer reads no command line: Qt gets only the program name, so options such as
    // -reverse cannot change the window.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    QApplication::setDesktopFileName(QStringLiteral("quorvane"));
    CQuorvaneApp theApp;
    theApp.InitInstance();
    return theApp.exitCode();
}
