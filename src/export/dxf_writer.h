#pragma once
// DXF 2000 framing: header, tables, blocks, the entity records of every
// layer, objects and the end of file.
//
// Entity handles are the entities' ids in hexadecimal (the entity records
// write them); an id repeated in the drawing, or 0, gets a fresh handle. Every
// handle of the framing is chosen outside that set, and the handle seed lies
// above all of them. A layer name with characters DXF refuses is written with
// them replaced by '_' (numbered when that collides), in the table and in the
// records of its entities. Names are written in the code page the header
// declares (Windows-1252), with "\U+XXXX" for a character it lacks.
#include <cstdio>
#include <string>

class CGraph;

// Writes the whole file to an open stream. Entities whose class has no DXF
// record yet are left out. False at the first failed write or entity record,
// with a message in *error when given.
[[nodiscard]] bool WriteDXF2000File(const CGraph& drawing, std::FILE* file, bool widths, std::string* error);
