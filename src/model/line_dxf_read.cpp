// CLine from a DXF LINE record. LINE coordinates are world coordinates, so
// no extrusion applies.
#include "model/dxf_import.h"
#include "model/line.h"

bool CLine::ReadDXF(std::FILE* file, std::string* layerName)
{
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool hasX1 = false, hasY1 = false, hasX2 = false, hasY2 = false;
    const bool complete = ReadDxfRecord(file, [&](const CDxfPair& pair) {
        switch (pair.code) {
        case 8:
            if (layerName)
                *layerName = DxfNameToUtf8(pair.value);
            break;
        case 10: hasX1 = ParseDxfCoordinate(pair.value, x1); break;
        case 20: hasY1 = ParseDxfCoordinate(pair.value, y1); break;
        case 11: hasX2 = ParseDxfCoordinate(pair.value, x2); break;
        case 21: hasY2 = ParseDxfCoordinate(pair.value, y2); break;
        case 62: m_Color = DxfEntityColor(pair.value); break;
        default: break;
        }
        return true;
    });
    if (!complete || !(hasX1 && hasY1 && hasX2 && hasY2))
        return false;
    SetStart(x1, y1);
    SetEnd(x2, y2);
    SetWidth(m_Width);
    return true;
}
