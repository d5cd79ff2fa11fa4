#include "cli/command.h"

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {
        {"install", "Register the project file type (.lwt) with the desktop", "install", RunInstall},
        {"uninstall", "Remove the project file type registration", "uninstall", RunUninstall},
        {"info", "Print what a raster, project or DXF file holds", "info FILE", RunInfo},
        {"options", "Show, load or reset the stored tracing options (job-file text)",
         "options [--describe]\n       lineweft options --load FILE.lwj [--section NAME] [--describe]\n"
         "       lineweft options --reset [--describe]",
         RunOptions},
        {"trace", "Trace a raster file into a vector file (DXF, SVG, ...) or a project (.lwt)",
         "trace INPUT -o OUTPUT [--method centerline|outline|fill] [--threshold auto|dynamic|N]\n"
         "       [--page N] [--job FILE.lwj [--section NAME]] [--format dxf|svg|lwt|...] [steps...]\n"
         "       [--unit inch|cm|mm|pixel] [--widths on|off] [--threads N]\n"
         "Steps: as for raster, applied in the order given before the threshold\n"
         "Threads: N, else LW_THREADS, else the cores the process may use\n"
         "Exit status: 0 done, 1 failed, 2 usage, 3 out of memory, 4 hatch fill failed,\n"
         "5 stopped (what was traced is written), 6 tracing failed",
         RunTrace},
        {"convert", "Convert a project (.lwt) or DXF file to another format",
         "convert INPUT.lwt|INPUT.dxf -o OUTPUT [--format dxf|dxf-r10|svg|svgz|eps|pdf|cgm|hpgl|lwt]\n"
         "       [--unit inch|cm|mm|pixel] [--widths on|off]",
         RunConvert},
        {"raster", "Clean up a raster file and save it as BMP",
         "raster INPUT -o OUTPUT.bmp [--page N] [steps...]\n"
         "Steps, applied in the order given: --invert --flip --mirror --rotate DEG\n"
         "       --crop X,Y,W,H --median N --fill-holes N --template NAME\n"
         "       --resample WxH[:FILTER] --brightness B --contrast C --replace-colour RRGGBB:RRGGBB\n"
         "(trace takes the same steps, applied before the threshold)",
         RunRaster},
        {"render", "Draw a raster, project or DXF file as the view shows it, to PNG",
         "render INPUT -o OUTPUT.png [--size WxH] [--zoom-window x0,y0,x1,y1] [--grid] [--grips]\n"
         "INPUT: a raster file, a .lwt project or a .dxf file; the default size is 800x600 and\n"
         "the default window the whole drawing",
         RunRender},
    };
    return commands;
}
