// lineweft-gui [FILES]: the desktop program. Opens each file given in a child
// window of its own.
#include <QApplication>
#include <QStringList>

#include "trace/trace_option.h"
#include "ui/main_window.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("lineweft");
    QApplication::setOrganizationName("Korvane");
    QApplication::setApplicationDisplayName("Lineweft");
    InitApplicationShell();
    InstallDesktopMessageBox();
    // The options set in earlier sessions.
    GetTraceOption().LoadFromRegistry();

    CMainFrame frame;
    frame.show();
    frame.StartScanner();
    const QStringList files = QApplication::arguments().mid(1);
    for (const QString& file : files)
        frame.OpenFile(file.toStdString());
    return app.exec();
}
