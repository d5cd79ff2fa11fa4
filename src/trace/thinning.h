#pragma once
// Thinning of a one-bit raster to a skeleton one pixel wide, the first half
// of the centre-line method.
//
// The raster is thinned in place: set bits are foreground, pixels outside
// the raster count as background. ThinFirstStep runs the parallel
// Zhang-Suen thinning until a pass deletes nothing; ThinSecondStep then
// removes, in passes of sequential deletion (row by row, left to right,
// every test seeing the deletions made before it), the pixels that leave
// diagonal steps two pixels thick.
//
// Both report through the thread (step text, the count deleted per pass as
// the position, step end) and poll its stop flag between passes; the first
// step runs its later passes in batches and reports and polls after each,
// at most a few tenths of a second apart on an A0 page. A stop posts the
// run end 10, a failed allocation 2, a raster that is not one bit 20, and
// the step returns false. A null thread runs silently and cannot be
// stopped. The result does not depend on how the work is scheduled: it is
// the one that full passes over every pixel would give.
#include "platform/win_types.h"

class CCommonThread;
class CRasterSrc;

[[nodiscard]] bool ThinFirstStep(CRasterSrc& raster, CCommonThread* thread);
[[nodiscard]] bool ThinSecondStep(CRasterSrc& raster, CCommonThread* thread);
