#pragma once
// Moving one grip of a selected entity. A grip record names the selection
// node whose entity offered it; the move goes to the node's clone first, so
// a drag can be shown (and refused) without touching the drawing.
#include "model/point.h"

struct CGripRecord;

enum class GripMove {
    Drag,   // a refused move puts the entity's shape back into the clone
    Final,  // an accepted move is copied from the clone into the entity
};

// Asks the clone of the record's node to move the record's grip to the
// point. False when the record has no node or clone, or the clone refused.
bool MoveGripRecord(const CGripRecord& grip, const frDoublePoint& point, GripMove form);
