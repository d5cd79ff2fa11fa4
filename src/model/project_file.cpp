// The project file (.lwt): one whole drawing, little-endian, no padding.
//
//   f32 version (1.0), the 60-byte drawing header, u32 entity total,
//   u32 layer count L, L layer blocks (each followed by its entity records),
//   then the raster entity's record, which may be missing.
//
// The layer block and the entity records are written and read by their own
// classes; this file frames them. A save is built in memory and replaces the
// file only when complete; a load reads into a fresh drawing that replaces
// this one's content only when the whole file was read.
#include "model/graph.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "model/entity.h"
#include "model/layer.h"
#include "model/text_table.h"
#include "platform/atomic_file.h"
#include "platform/memory_file.h"
#include "raster/raster_entity.h"

namespace {

constexpr float kProjectVersion = 1.0f;
// Id, two name lengths, visible, colour and entity count: the smallest block.
constexpr long kMinLayerBlockSize = 4 + 4 + 4 + 1 + 4 + 4;

void SetError(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
}

void Report(GraphProgress progress, const std::string& caption, int percent)
{
    if (progress)
        progress(caption, percent);
}

// The header through the drawing's setters. A value that no save writes
// fails the load: the version is not checked, so the header is what tells a
// damaged or foreign file from a project, and a unit quietly replaced would
// rescale every exported coordinate.
bool ReadCheckedHeader(std::FILE* file, CGraph& drawing, std::string* error)
{
    std::uint32_t unit = 0, snapMask = 0, snapOn = 0, gridShown = 0, ortho = 0;
    double baseX = 0, baseY = 0, angle = 0, spacingX = 0, spacingY = 0;
    if (!ReadProjectU32(file, unit) || !ReadProjectU32(file, snapMask) || !ReadProjectU32(file, snapOn) ||
        !ReadProjectU32(file, gridShown) || !ReadProjectF64(file, baseX) || !ReadProjectF64(file, baseY) ||
        !ReadProjectF64(file, angle) || !ReadProjectF64(file, spacingX) || !ReadProjectF64(file, spacingY) ||
        !ReadProjectU32(file, ortho)) {
        SetError(error, "the file ends inside the drawing header");
        return false;
    }
    if (!drawing.SetUnit(unit)) {
        SetError(error, "the drawing header names an unknown unit (" + std::to_string(unit) + ")");
        return false;
    }
    if (!drawing.SetSnapBase(frDoublePoint(baseX, baseY, 0)) || !drawing.SetSnapAngle(angle)) {
        SetError(error, "the drawing header holds a snap base or angle that is not a number");
        return false;
    }
    if (!drawing.SetGridSpacing(spacingX, spacingY)) {
        SetError(error, "the drawing header holds a grid spacing that is not above zero");
        return false;
    }
    drawing.SetObjectSnapMask(snapMask);
    drawing.SetObjectSnapOn(snapOn != 0);
    drawing.SetGridShown(gridShown != 0);
    drawing.SetOrtho(ortho != 0);
    return true;
}

// The layer blocks, in file order. Only the raster entity may carry the
// raster type code; one inside a layer would be drawn and edited as a
// vector entity.
bool ReadLayers(std::FILE* file, std::uint32_t count, std::vector<std::unique_ptr<CLayer>>& layers, std::string* error)
{
    const long left = ProjectBytesLeft(file);
    if (left >= 0 && count > static_cast<unsigned long>(left) / kMinLayerBlockSize) {
        SetError(error, "the layer count (" + std::to_string(count) + ") does not fit in the file");
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<CLayer> layer(new (std::nothrow) CLayer);
        if (!layer) {
            SetError(error, "not enough memory for the layers");
            return false;
        }
        const std::string where = "layer " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (!layer->Read(file)) {
            SetError(error, where + " is damaged or cut short");
            return false;
        }
        for (const CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (e->m_Type == ENTITY_RASTER) {
                SetError(error, where + " holds a raster record");
                return false;
            }
        }
        layers.push_back(std::move(layer));
    }
    return true;
}

// The raster record, when the file goes on after the layers.
bool ReadRasterRecord(std::FILE* file, CEntity* raster, std::string* error)
{
    std::uint8_t first = 0;
    if (!ReadProjectU8(file, first))
        return true;  // the file ends after the layers: no raster
    std::uint8_t rest[3];
    if (!ReadProjectBytes(file, rest, sizeof rest)) {
        SetError(error, "the file ends inside the raster record");
        return false;
    }
    const std::uint32_t type = first | static_cast<std::uint32_t>(rest[0]) << 8 |
                               static_cast<std::uint32_t>(rest[1]) << 16 | static_cast<std::uint32_t>(rest[2]) << 24;
    if (type != ENTITY_RASTER) {
        SetError(error, "the record after the layers is not a raster (type " + std::to_string(type) + ")");
        return false;
    }
    if (raster == nullptr || !raster->Load(file)) {
        SetError(error, "the raster record is damaged or cut short");
        return false;
    }
    return true;
}

// Moves the loaded raster into this drawing's raster entity rather than
// replacing the entity: the raster undo items point at its image.
void TakeOverRaster(CRaster& target, CRaster& source)
{
    CRasterSrc& to = target.GetImage();
    CRasterSrc& from = source.GetImage();
    // The editing settings belong to the user, not to the file.
    const CRasterEditSettings settings = to.GetEditSettings();
    if (from.IsEmpty())
        to.Free();
    else
        (void)from.MoveTo(to);  // fails only without a bitmap
    to.GetEditSettings() = settings;

    target.m_Id = source.m_Id;
    target.m_Color = source.m_Color;
    target.m_SavedColor = source.m_SavedColor;
    target.m_Width = source.m_Width;
    target.m_Length = source.m_Length;
    target.m_ActiveEnd = source.m_ActiveEnd;
    target.m_Closed = source.m_Closed;
    target.m_Joined = source.m_Joined;
    (void)target.SetOrigin(source.GetOriginX(), source.GetOriginY());
    target.SetResolution(source.GetResolutionX(), source.GetResolutionY());
    target.InvalidateDisplayCache();
}

}  // namespace

// ---- save -----------------------------------------------------------------

bool CGraph::WriteProject(std::FILE* file, std::string* error)
{
    const int total = GetEntityCount();
    if (total <= 0) {
        SetError(error, "the drawing holds no entities");
        return false;
    }
    for (const CLayer* l = m_FirstLayer; l; l = l->GetNext()) {
        if (l->GetName().size() > MAX_LAYER_NAME || l->GetSavedName().size() > MAX_LAYER_NAME) {
            SetError(error, "a layer name is longer than " + std::to_string(MAX_LAYER_NAME) + " bytes");
            return false;
        }
    }
    if (!WriteProjectF32(file, kProjectVersion) || !WriteHeader(file) ||
        !WriteProjectU32(file, static_cast<std::uint32_t>(total)) ||
        !WriteProjectU32(file, static_cast<std::uint32_t>(GetLayerCount()))) {
        SetError(error, "the drawing header could not be written");
        return false;
    }
    for (CLayer* l = m_FirstLayer; l; l = l->GetNext()) {
        if (!l->Write(file)) {
            SetError(error, "layer '" + l->GetName() + "' could not be written");
            return false;
        }
    }
    if (m_Raster && !m_Raster->Save(file)) {
        SetError(error, "the raster could not be written");
        return false;
    }
    return true;
}

bool CGraph::SaveProject(const std::string& path, GraphProgress progress, std::string* error)
{
    if (GetEntityCount() <= 0) {
        SetError(error, "the drawing holds no entities");
        return false;
    }
    const std::string caption = GetLanString("SaveProject", "Saving Lineweft Project file...");
    MemoryFile memory;
    if (memory.Get() == nullptr) {
        SetError(error, "not enough memory to build the file");
        return false;
    }
    Report(progress, caption, 0);
    if (!WriteProject(memory.Get(), error))
        return false;
    if (!memory.Finish()) {
        SetError(error, "not enough memory to build the file");
        return false;
    }
    std::string why;
    if (!WriteFileAtomically(path, memory.Content(), &why)) {
        SetError(error, "could not save the file: " + why);
        return false;
    }
    Report(progress, caption, 100);
    SetModified(false);
    return true;
}

// ---- load -----------------------------------------------------------------

bool CGraph::ReadProject(std::FILE* file, std::string* error)
{
    CGraph loaded;
    loaded.RemoveAllLayers();

    float version = 0;
    std::uint32_t total = 0, layerCount = 0;
    if (!ReadProjectF32(file, version)) {  // any version is taken
        SetError(error, "the file is too short to be a project");
        return false;
    }
    if (!ReadCheckedHeader(file, loaded, error))
        return false;
    if (!ReadProjectU32(file, total) || !ReadProjectU32(file, layerCount)) {  // the total is not used
        SetError(error, "the file ends before the layers");
        return false;
    }
    std::vector<std::unique_ptr<CLayer>> layers;
    if (!ReadLayers(file, layerCount, layers, error))
        return false;
    if (!ReadRasterRecord(file, loaded.m_Raster.get(), error))
        return false;

    // Ids the counter cannot go past become fresh ones, once every id of
    // the file has raised the counter: they stay unique.
    const auto renumber = [](std::uint32_t id) { return id >= ENTITY_ID_LIMIT ? TakeNextId() : id; };
    for (const std::unique_ptr<CLayer>& layer : layers) {
        layer->SetId(renumber(layer->GetId()));
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next)
            e->m_Id = renumber(e->m_Id);
    }
    if (loaded.m_Raster)
        loaded.m_Raster->m_Id = renumber(loaded.m_Raster->m_Id);

    // Each layer goes to the head, so the last added (the file's first)
    // leads the list and is current, as saved.
    for (auto it = layers.rbegin(); it != layers.rend(); ++it)
        loaded.AddLayer(it->release());
    if (loaded.m_FirstLayer == nullptr)
        loaded.SelectOrAddLayer("Trace");

    // Nothing can fail from here on.
    ClearGrips();
    ClearSelection();
    RemoveAllLayers();
    CLayer* const current = loaded.m_CurrentLayer;
    AttachLayers(loaded.DetachLayers(), current);

    CRaster* target = GetRaster();
    CRaster* source = loaded.GetRaster();
    if (target && source)
        TakeOverRaster(*target, *source);
    else
        m_Raster.swap(loaded.m_Raster);

    m_Unit = loaded.m_Unit;
    m_ObjectSnapMask = loaded.m_ObjectSnapMask;
    m_ObjectSnapOn = loaded.m_ObjectSnapOn;
    m_GridShown = loaded.m_GridShown;
    m_SnapBase = loaded.m_SnapBase;
    m_SnapAngle = loaded.m_SnapAngle;
    m_GridSpacingX = loaded.m_GridSpacingX;
    m_GridSpacingY = loaded.m_GridSpacingY;
    m_Ortho = loaded.m_Ortho;
    ComputeRasterHistogram(nullptr);
    InvalidateExtents();
    SetModified(false);
    return true;
}

bool CGraph::LoadProject(const std::string& path, GraphProgress progress, std::string* error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        SetError(error, "not a regular file");
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        SetError(error, std::string("cannot open the file: ") + std::strerror(errno));
        return false;
    }
    const std::string caption = GetLanString("LoadProject", "Openning Lineweft Project file...");
    Report(progress, caption, 0);
    const bool loaded = ReadProject(file, error);
    std::fclose(file);
    if (!loaded)
        return false;
    Report(progress, caption, 100);
    return true;
}
