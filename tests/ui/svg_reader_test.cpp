// The SVG export as Qt's own SVG renderer draws it: CAD drawings in inches
// and in large units and a trace show the drawing of their PDF, thin
// geometry included.
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

#include <string>

#include "export/export_format.h"
#include "export/render_support.h"
#include "export/vector_file.h"
#include "model/graph.h"
#include "qt_test_app.h"
#include "support/dxf_samples.h"

namespace {

using namespace export_test;

constexpr int kBox = kRenderBox;

class QtSvgReader : public ExportTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(QtSvgReader, ShowsTheDrawingOfThePdf)
{
    TestApp();
    ASSERT_TRUE(HaveTool("pdftoppm")) << "pdftoppm is missing: run scripts/install-deps";
    CGraph graph;
    std::string error;
    ASSERT_TRUE(graph.ReadDXF((test_support::DxfSamplesFolder() / GetParam()).string(), nullptr, &error)) << error;
    const fs::path svg = folder / "d.svg", pdf = folder / "d.pdf", qtPng = folder / "qt.png";
    ASSERT_TRUE(SaveVectorFile(graph, svg.string(), EXPORT_SVG, &error)) << error;
    ASSERT_TRUE(SaveVectorFile(graph, pdf.string(), EXPORT_PDF, &error)) << error;

    QSvgRenderer renderer(QString::fromStdString(svg.string()));
    ASSERT_TRUE(renderer.isValid());
    // The view box's shape: the default size of a page a few inches wide
    // is a few whole pixels.
    QSizeF shape = renderer.viewBoxF().size();
    shape.scale(kBox, kBox, Qt::KeepAspectRatio);
    const QSize size = shape.toSize();
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    ASSERT_TRUE(image.save(QString::fromStdString(qtPng.string()), "PNG"));

    std::string out;
    ASSERT_EQ(RunCommand("pdftoppm -gray -png -singlefile -scale-to " + std::to_string(kBox) + " " + pdf.string() +
                             " " + (folder / "pdf").string(),
                         &out),
              0)
        << out;
    InkPicture reference, qt;
    LoadInk(folder / "pdf.png", &reference);
    LoadInk(qtPng, &qt);
    ExpectSameDrawing(reference, qt, "Qt's SVG renderer");
}

INSTANTIATE_TEST_SUITE_P(CadSamples, QtSvgReader,
                         ::testing::Values("Gear.dxf", "Vesa_Mount.dxf", "HorseFarmNoFence.dxf"));

}  // namespace
