// The entity classes the program is built with, by type code. Kept apart
// from entity.cpp so that the base does not depend on every class; naming
// each class here also makes the linker keep it out of the static library.
#include <cstdint>
#include <new>

#include "model/circle.h"
#include "model/entity.h"
#include "model/line.h"
#include "model/polygon_set.h"
#include "model/polyline.h"
#include "model/solid.h"
#include "raster/raster_entity.h"

void RegisterBuiltInEntityCreator(std::uint32_t type, EntityCreator creator);

namespace {
template <typename T>
CEntity* CreateNew()
{
    return new (std::nothrow) T;
}
}  // namespace

void RegisterBuiltInEntities()
{
    RegisterBuiltInEntityCreator(ENTITY_LINE, &CreateNew<CLine>);
    RegisterBuiltInEntityCreator(ENTITY_POLYLINE, &CreateNew<CPolyLine>);
    RegisterBuiltInEntityCreator(ENTITY_CIRCLE, &CreateNew<CCircle>);
    RegisterBuiltInEntityCreator(ENTITY_ARC, &CreateNew<CArc>);
    RegisterBuiltInEntityCreator(ENTITY_RASTER, &CreateNew<CRaster>);
    RegisterBuiltInEntityCreator(ENTITY_SOLID, &CreateNew<CSolid>);
    RegisterBuiltInEntityCreator(ENTITY_POLYPOLYGON, &CreateNew<CPolyPolygon>);
}
