#pragma once
// A minimal concrete entity for the tests of the entity base, the layer and
// the drawing, and byte-file helpers for project records.
//
// CTestBox is an axis-aligned box with its own project data (four doubles)
// and draws itself as one entity line. Its creator can stand in for a class
// code in the entity factory (CTestBoxCreator) while a test runs.
#include <cstdio>
#include <memory>
#include <string>

#include "model/device.h"
#include "model/entity.h"

class CTestBox : public CEntity {
public:
    static inline int live = 0;  // constructed and not yet destroyed

    explicit CTestBox(EntityType type = ENTITY_LINE, double x0 = 0, double y0 = 0, double x1 = 1, double y1 = 1)
        : box{x0, x1, y0, y1}
    {
        m_Type = type;
        ++live;
    }
    ~CTestBox() override { --live; }

    double box[4];  // extents {min x, max x, min y, max y}; NaN min x: no extents

    void Draw(CFrDevice* device) override
    {
        CVertex a(box[EXT_MIN_X], box[EXT_MIN_Y], m_Width, m_Width, 0);
        CVertex b(box[EXT_MAX_X], box[EXT_MAX_Y], m_Width, m_Width, 0);
        m_Drawn = device->DrawEntityLine(a, b, GetDrawColorIndex(), m_Selected);
    }
    bool GetExtents(double* merge, double* out) override
    {
        if (box[EXT_MIN_X] != box[EXT_MIN_X])
            return false;
        for (int i = 0; i < 4; ++i)
            out[i] = box[i];
        if (merge)
            MergeExtents(merge, out);
        return true;
    }
    bool IntersectRect(const frDoublePoint& lo, const frDoublePoint& hi) override
    {
        return m_Drawn && box[EXT_MIN_X] <= hi.x && box[EXT_MAX_X] >= lo.x && box[EXT_MIN_Y] <= hi.y &&
               box[EXT_MAX_Y] >= lo.y;
    }
    void CopyFrom(const CEntity* other) override
    {
        CEntity::CopyFrom(other);
        if (auto* o = dynamic_cast<const CTestBox*>(other))
            for (int i = 0; i < 4; ++i)
                box[i] = o->box[i];
    }
    std::unique_ptr<CEntity> Clone() const override
    {
        auto copy = std::make_unique<CTestBox>();
        copy->CopyFrom(this);
        return copy;
    }
    bool Load(std::FILE* file) override
    {
        if (!CEntity::Load(file))
            return false;
        for (double& v : box)
            if (!ReadProjectF64(file, v))
                return false;
        return true;
    }
    bool Save(std::FILE* file) override
    {
        if (!CEntity::Save(file))
            return false;
        for (double v : box)
            if (!WriteProjectF64(file, v))
                return false;
        return true;
    }
};

// Installs CTestBox as the class of a type code for the life of the object.
class CTestBoxCreator {
public:
    explicit CTestBoxCreator(EntityType type) : m_type(type)
    {
        m_previous = RegisterEntityCreator(type, Creator(type));
    }
    ~CTestBoxCreator() { RegisterEntityCreator(m_type, m_previous); }
    CTestBoxCreator(const CTestBoxCreator&) = delete;
    CTestBoxCreator& operator=(const CTestBoxCreator&) = delete;

private:
    static EntityCreator Creator(EntityType type)
    {
        switch (type) {
        case ENTITY_LINE: return [] { return static_cast<CEntity*>(new CTestBox(ENTITY_LINE)); };
        case ENTITY_POLYLINE: return [] { return static_cast<CEntity*>(new CTestBox(ENTITY_POLYLINE)); };
        case ENTITY_SOLID: return [] { return static_cast<CEntity*>(new CTestBox(ENTITY_SOLID)); };
        default: return [] { return static_cast<CEntity*>(new CTestBox(ENTITY_POLYPOLYGON)); };
        }
    }
    EntityType m_type;
    EntityCreator m_previous = nullptr;
};

// ---- byte files -----------------------------------------------------------

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// A temporary file holding the bytes, positioned at its start.
inline FilePtr OpenBytes(const std::string& bytes)
{
    FilePtr file(std::tmpfile(), &std::fclose);
    if (file) {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), file.get());
        std::rewind(file.get());
    }
    return file;
}

// Everything written to the file so far.
inline std::string ReadAllBytes(std::FILE* file)
{
    std::fflush(file);
    const long end = std::ftell(file);
    std::rewind(file);
    std::string bytes(static_cast<std::size_t>(end > 0 ? end : 0), '\0');
    if (!bytes.empty())
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    return bytes;
}

// The bytes that `write(FILE*)` produces; `ok` receives its result.
template <typename Write>
std::string WriteToBytes(Write write, bool* ok = nullptr)
{
    FilePtr file(std::tmpfile(), &std::fclose);
    const bool result = write(file.get());
    if (ok)
        *ok = result;
    return ReadAllBytes(file.get());
}
