// lineweft-gui [FILES]: the desktop program. Opens each file given in a child
// window of its own.
#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>
#include <cstring>
#include <memory>

#include "raster/raster_library.h"
#include "ui/main_window.h"

namespace {

void NameApplication()
{
    QCoreApplication::setApplicationName("lineweft");
    QCoreApplication::setApplicationVersion(LINEWEFT_VERSION);
    QCoreApplication::setOrganizationName("Korvane");
}

// --help and --version print and exit; an unknown option exits non-zero.
QStringList ParseCommandLine(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Converts scanned drawings, maps and logos into vector drawings.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("files", "Rasters, projects (.lwt) or DXF files to open.", "[FILES...]");
    parser.process(app);
    return parser.positionalArguments();
}

// Whether the command line only asks for the help or the version, which
// must print without a display to open.
bool AsksOnlyToPrint(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"-h", "--help", "--help-all", "-?", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (AsksOnlyToPrint(argc, argv)) {
        // No window system is needed to print: the plain application object
        // loads no platform plug-in, which aborts where there is no display.
        QCoreApplication app(argc, argv);
        NameApplication();
        (void)ParseCommandLine(app);
        return 0;
    }
    QApplication app(argc, argv);
    NameApplication();
    QApplication::setApplicationDisplayName("Lineweft");
    const QStringList files = ParseCommandLine(app);

    // The image library's messages (and its TIFF decoder's) are kept for the
    // load's reason instead of going to the terminal.
    CRasterLibraryGuard rasterLibrary;
    const std::unique_ptr<CMainFrame> frame = StartDesktop(files);
    return app.exec();
}
