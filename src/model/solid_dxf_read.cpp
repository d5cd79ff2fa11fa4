// CSolid from a DXF SOLID or 3DFACE record.
//
// Corners are filed by their group codes (10..13 for x, 20..23 for y), not
// by arrival order, so a record listing its groups in another order still
// gives the right ring.
#include "model/dxf_import.h"
#include "model/solid.h"

bool CSolid::ReadDXF(std::FILE* file, std::string* layerName)
{
    double x[SOLID_MAX_VERTICES] = {}, y[SOLID_MAX_VERTICES] = {};
    bool hasX[SOLID_MAX_VERTICES] = {}, hasY[SOLID_MAX_VERTICES] = {};
    const bool complete = ReadDxfRecord(file, [&](const CDxfPair& pair) {
        if (pair.code >= 10 && pair.code < 10 + SOLID_MAX_VERTICES) {
            const int k = pair.code - 10;
            hasX[k] = ParseDxfCoordinate(pair.value, x[k]);
        } else if (pair.code >= 20 && pair.code < 20 + SOLID_MAX_VERTICES) {
            const int k = pair.code - 20;
            hasY[k] = ParseDxfCoordinate(pair.value, y[k]);
        } else if (pair.code == 8) {
            if (layerName)
                *layerName = DxfNameToUtf8(pair.value);
        } else if (pair.code == 62) {
            m_Color = DxfEntityColor(pair.value);
        }
        return true;
    });
    if (!complete)
        return false;
    int count = 0;
    while (count < SOLID_MAX_VERTICES && hasX[count] && hasY[count])
        ++count;
    if (count < 3)
        return false;
    // Writers give a triangle as four corners with the last one repeated.
    if (count == 4 && x[3] == x[2] && y[3] == y[2])
        count = 3;
    RemoveAllVertices();
    for (int k = 0; k < count; ++k)
        (void)AddPoint(x[k], y[k]);
    if (count == 3) {
        const frDoublePoint a(x[0], y[0]), b(x[1], y[1]), c(x[2], y[2]);
        // Triangles are kept counter-clockwise, as NewSolid makes them.
        if (GetPointSide(c, a, b) == -1)
            SwapLastTwo();
    }
    m_Modified = true;
    return true;
}
