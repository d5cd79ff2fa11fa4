// HP-GL framing: initialise, select pen 1, the records in plotter units, lift
// and put the pen away.
#include "export/format_writers.h"

#include <string>

#include "export/export_format.h"
#include "model/entity.h"
#include "model/graph.h"
#include "model/layer.h"
#include "platform/number_text.h"

bool WriteHPGLFile(const CGraph& drawing, std::FILE* file, std::string* error)
{
    static constexpr char kHead[] = "IN;SP1;PA;\n";
    static constexpr char kTail[] = "\nPU;SP0;\n";
    if (std::fputs(kHead, file) < 0) {
        if (error)
            *error = "Could not write the HP-GL file head.";
        return false;
    }
    for (CLayer* layer = drawing.GetFirstLayer(); layer; layer = layer->GetNext()) {
        if (!layer->IsVisible())
            continue;
        for (CEntity* e = layer->GetFirstEntity(); e; e = e->m_Next) {
            if (!EntityHasOutputRecord(*e, EXPORT_HPGL))
                continue;
            if (!e->WriteHPGL(file)) {
                if (error)
                    *error = FormatC("Could not write entity %u of layer \"%s\".", e->m_Id, layer->GetName().c_str());
                return false;
            }
        }
    }
    if (std::fputs(kTail, file) < 0 || std::ferror(file) != 0) {
        if (error)
            *error = "Could not write the HP-GL file.";
        return false;
    }
    return true;
}
