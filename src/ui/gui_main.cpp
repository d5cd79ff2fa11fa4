// lineweft-gui [FILES]: the desktop program. Opens each file given in a child
// window of its own.
#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include "raster/raster_library.h"
#include "ui/main_window.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("lineweft");
    QApplication::setApplicationVersion(LINEWEFT_VERSION);
    QApplication::setOrganizationName("Korvane");
    QApplication::setApplicationDisplayName("Lineweft");

    // --help and --version print and exit; an unknown option exits non-zero.
    QCommandLineParser parser;
    parser.setApplicationDescription("Converts scanned drawings, maps and logos into vector drawings.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("files", "Rasters, projects (.lwt) or DXF files to open.", "[FILES...]");
    parser.process(app);

    // The image library's messages (and its TIFF decoder's) are kept for the
    // load's reason instead of going to the terminal.
    CRasterLibraryGuard rasterLibrary;
    InitApplicationShell();
    InstallDesktopMessageBox();
    InitDesktopSettings();

    CMainFrame frame;
    frame.show();
    frame.StartScanner();
    for (const QString& file : parser.positionalArguments())
        frame.OpenFile(file.toStdString());
    return app.exec();
}
