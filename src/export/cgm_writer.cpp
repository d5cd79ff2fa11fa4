// Binary CGM framing: BEGIN METAFILE, the metafile descriptor, BEGIN PICTURE
// with direct colour and the VDC extent, the picture body of every record,
// END PICTURE and END METAFILE.
//
// The records write 16-bit integer VDC (the default precision). A page that
// fits that range on a fine enough grid keeps its raster pixels; any other
// is laid on a power-of-two grid about its centre (see GetOutputGrid), so a
// drawing in inches keeps its curves and a far one its coordinates. The
// extent is the page box on that grid, rounded outward.
#include "export/format_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "export/export_format.h"
#include "export/svg_writer.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "model/output_records.h"
#include "platform/number_text.h"

namespace {

constexpr int kVdcMin = -32768;
constexpr int kVdcMax = 32767;
// The page's larger side spans at least this many VDC units.
constexpr double kVdcFineSide = 16384.0;
// Parameter lengths above this take the long form.
constexpr std::size_t kShortFormMax = 30;

// One element: class, id and its parameter bytes, padded to an even length.
class CgmElements {
public:
    void Element(int cls, int id, const std::string& params = {})
    {
        const unsigned head = static_cast<unsigned>(cls) << 12 | static_cast<unsigned>(id) << 5;
        if (params.size() <= kShortFormMax) {
            Word(head | static_cast<unsigned>(params.size()));
        } else {
            Word(head | 31);
            Word(static_cast<unsigned>(params.size()));  // framing parameters stay below 32767 bytes
        }
        m_Bytes += params;
        if (params.size() % 2)
            m_Bytes += '\0';
    }
    [[nodiscard]] const std::string& Bytes() const { return m_Bytes; }

    static std::string Int16(int value)
    {
        const unsigned v = static_cast<unsigned>(value) & 0xFFFF;
        return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
    }
    static std::string Text(const std::string& text)
    {
        const std::string shown = text.substr(0, 254);
        return static_cast<char>(shown.size()) + shown;
    }

private:
    void Word(unsigned w) { m_Bytes += Int16(static_cast<int>(w)); }
    std::string m_Bytes;
};

int ClampVdc(double value)
{
    if (!(value > kVdcMin))
        return kVdcMin;
    if (value > kVdcMax)
        return kVdcMax;
    return static_cast<int>(value);
}

bool Put(std::FILE* file, const std::string& bytes)
{
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

bool WriteCGMFile(const CGraph& drawing, std::FILE* file, std::string* error)
{
    double box[4];
    GetSvgPageBox(drawing, box);
    const COutputPage grid = GetOutputGrid(box, kVdcMax, kVdcFineSide);
    const COutputPageScope gridScope(grid);
    auto onGrid = [&](double value, double origin, bool up) {
        const double v = (value - origin) * grid.scale;
        return ClampVdc(up ? std::ceil(v) : std::floor(v));
    };
    int x0 = onGrid(box[EXT_MIN_X], grid.originX, false), y0 = onGrid(box[EXT_MIN_Y], grid.originY, false);
    int x1 = onGrid(box[EXT_MAX_X], grid.originX, true), y1 = onGrid(box[EXT_MAX_Y], grid.originY, true);
    if (x1 <= x0)
        x1 = std::min(x0 + 1, kVdcMax), x0 = x1 - 1;
    if (y1 <= y0)
        y1 = std::min(y0 + 1, kVdcMax), y0 = y1 - 1;

    CgmElements head;
    head.Element(0, 1, CgmElements::Text("Lineweft"));          // BEGIN METAFILE
    head.Element(1, 1, CgmElements::Int16(1));                  // METAFILE VERSION
    head.Element(1, 2, CgmElements::Text("Lineweft drawing"));  // METAFILE DESCRIPTION
    head.Element(1, 11, CgmElements::Int16(1) + CgmElements::Int16(-1) + CgmElements::Int16(1));  // drawing set
    head.Element(0, 3, CgmElements::Text("Drawing"));                                             // BEGIN PICTURE
    head.Element(2, 2, CgmElements::Int16(1));  // COLOUR SELECTION MODE: direct
    head.Element(2, 6,
                 CgmElements::Int16(x0) + CgmElements::Int16(y0) + CgmElements::Int16(x1) +
                     CgmElements::Int16(y1));  // VDC EXTENT
    head.Element(0, 4);                        // BEGIN PICTURE BODY
    if (!Put(file, head.Bytes())) {
        if (error)
            *error = "Could not write the CGM file head.";
        return false;
    }
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        if (!layer->IsVisible())
            continue;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (!EntityHasOutputRecord(*e, EXPORT_CGM))
                continue;
            if (!e->WriteCGM(file)) {
                if (error)
                    *error = FormatC("Could not write entity %u of layer \"%s\".", e->m_Id, layer->GetName().c_str());
                return false;
            }
        }
    }
    CgmElements tail;
    tail.Element(0, 5);  // END PICTURE
    tail.Element(0, 2);  // END METAFILE
    // The records leave their write results to this check.
    if (!Put(file, tail.Bytes()) || std::ferror(file) != 0) {
        if (error)
            *error = "Could not write the CGM file.";
        return false;
    }
    return true;
}
