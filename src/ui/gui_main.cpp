// lineweft-gui [FILES]: the desktop program. Opens each file given in a child
// window of its own.
#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <cstring>

#include "raster/raster_library.h"
#include "ui/main_window.h"

namespace {

// --help and --version print and exit: they need no display, so they are
// answered without the desktop's application object.
bool AsksForTextOnly(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"--help", "-h", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

void DescribeCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription("Converts scanned drawings, maps and logos into vector drawings.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("files", "Rasters, projects (.lwt) or DXF files to open.", "[FILES...]");
}

} // namespace

int main(int argc, char* argv[])
{
    if (AsksForTextOnly(argc, argv)) {
        QCoreApplication text(argc, argv);
        QCoreApplication::setApplicationName("lineweft");
        QCoreApplication::setApplicationVersion(LINEWEFT_VERSION);
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        parser.process(text);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("lineweft");
    QApplication::setApplicationVersion(LINEWEFT_VERSION);
    QApplication::setOrganizationName("Korvane");
    QApplication::setApplicationDisplayName("Lineweft");

    // --help and --version print and exit; an unknown option exits non-zero.
    QCommandLineParser parser;
    DescribeCommandLine(parser);
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
