// The custom controls (coloured static text, picture control) and the
// property list widget applying rows through the entity protocol.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "model/circle.h"
#include "model/color_index.h"
#include "model/graph.h"
#include "model/layer.h"
#include "platform/dc.h"
#include "ui/cavus.h"
#include "ui/property_list_widget.h"
#include "ui/static_ex.h"
#include "qt_test_app.h"

namespace {

COLORREF PixelOf(const QImage& image, int x, int y) { return ToColorRef(image.pixelColor(x, y)); }

// ---- CStaticEx ------------------------------------------------------------

TEST(StaticEx, SettersAnswerTheOldValueAndThePaintFollowsThem)
{
    TestApp();
    CStaticEx label;
    EXPECT_EQ(label.GetTextFormat(), DT_VCENTER);
    EXPECT_EQ(label.GetFontSize(), 10);
    EXPECT_EQ(label.GetEdge(), kStaticEdgeNone);
    EXPECT_FALSE(label.IsFontBold());

    const COLORREF defaultBack = label.GetBkColor();
    EXPECT_EQ(label.SetBkColor(RGB(0, 0, 255)), defaultBack);
    EXPECT_EQ(label.SetBkColor(RGB(0, 0, 255)), RGB(0, 0, 255));
    EXPECT_NE(label.SetTextColor(RGB(255, 255, 0)), RGB(255, 255, 0));
    EXPECT_EQ(label.SetEdge(7), kStaticEdgeNone);
    EXPECT_EQ(label.SetEdge(kStaticEdgeRaised), 7);
    EXPECT_EQ(label.SetTextFormat(DT_CENTER | DT_VCENTER), DT_VCENTER);
    EXPECT_FALSE(label.SetFontBold(true));
    EXPECT_TRUE(label.SetFontBold(false));
    EXPECT_EQ(label.SetFontSize(18), 10);
    EXPECT_EQ(label.font().pixelSize(), 18);

    // Background fills the inside; the raised edge is drawn around it.
    label.SetEdge(kStaticEdgeNone);
    label.resize(60, 20);
    QImage shot = label.grab().toImage();
    EXPECT_EQ(PixelOf(shot, 1, 1), RGB(0, 0, 255));
    label.SetEdge(kStaticEdgeSunken);
    EXPECT_EQ(label.contentsRect(), QRect(2, 2, 56, 16));
}

TEST(StaticEx, TextFormatMapsToAlignment)
{
    EXPECT_EQ(CStaticEx::TextFlagsOf(DT_LEFT | DT_TOP), int(Qt::AlignLeft | Qt::AlignTop));
    EXPECT_EQ(CStaticEx::TextFlagsOf(DT_CENTER | DT_VCENTER), int(Qt::AlignHCenter | Qt::AlignVCenter));
    EXPECT_EQ(CStaticEx::TextFlagsOf(DT_RIGHT | DT_BOTTOM | DT_WORDBREAK),
              int(Qt::AlignRight | Qt::AlignBottom | Qt::TextWordWrap));
    EXPECT_EQ(CStaticEx::TextFlagsOf(DT_WORDBREAK | DT_SINGLELINE), int(Qt::AlignLeft | Qt::AlignTop));
}

// ---- CCavus ---------------------------------------------------------------

struct CMouseRecord {
    int calls = 0;
    UINT flags = 0;
    int x = -1;
    int y = -1;
};

void Record(void* context, UINT flags, int x, int y)
{
    auto* record = static_cast<CMouseRecord*>(context);
    ++record->calls;
    record->flags = flags;
    record->x = x;
    record->y = y;
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, buttons, modifiers);
    QApplication::sendEvent(target, &event);
}

TEST(Cavus, PictureFitsInsideTheFrameAndShowsWhatWasDrawn)
{
    TestApp();
    CCavus control;
    control.resize(104, 54);
    ASSERT_TRUE(control.CreateImageFitWindow(16));
    const RECT image = control.GetImageRect();
    EXPECT_EQ(image.left, 0);
    EXPECT_EQ(image.top, 0);
    EXPECT_EQ(image.right, 100);
    EXPECT_EQ(image.bottom, 50);

    control.FillImage(RGB(255, 0, 0));
    QImage shot = control.grab().toImage();
    EXPECT_EQ(PixelOf(shot, 2, 2), RGB(255, 0, 0));     // picture's first pixel
    EXPECT_EQ(PixelOf(shot, 101, 51), RGB(255, 0, 0));  // and its last
    EXPECT_NE(PixelOf(shot, 0, 0), RGB(255, 0, 0));     // the frame

    CDC* dc = control.BeginDraw();
    ASSERT_NE(dc, nullptr);
    dc->FillSolidRect(RECT{10, 5, 20, 15}, RGB(0, 0, 255));
    // Nothing shows until the drawing is ended.
    EXPECT_EQ(PixelOf(control.GetShownImage(), 10, 5), RGB(255, 0, 0));
    control.UpdateImage();
    EXPECT_EQ(PixelOf(control.GetShownImage(), 10, 5), RGB(0, 0, 255));
    EXPECT_EQ(PixelOf(control.GetShownImage(), 20, 15), RGB(255, 0, 0));

    // Too small for a picture.
    control.resize(4, 40);
    EXPECT_FALSE(control.CreateImageFitWindow(16));
    EXPECT_EQ(control.BeginDraw(), nullptr);
}

TEST(Cavus, MouseReachesTheCallbacksInPictureCoordinates)
{
    TestApp();
    CCavus control;
    control.resize(50, 50);
    CMouseRecord clicks, moves;
    control.SetClickCallback(&Record, &clicks);
    control.SetMouseMoveCallback(&Record, &moves);

    SendMouse(&control, QEvent::MouseButtonPress, QPoint(12, 7), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(clicks.calls, 1);
    EXPECT_EQ(clicks.x, 10);
    EXPECT_EQ(clicks.y, 5);
    EXPECT_EQ(clicks.flags, MK_LBUTTON);

    SendMouse(&control, QEvent::MouseButtonPress, QPoint(12, 7), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(clicks.calls, 1);  // only the left button clicks

    SendMouse(&control, QEvent::MouseMove, QPoint(2, 40), Qt::NoButton, Qt::NoButton, Qt::ShiftModifier);
    EXPECT_EQ(moves.calls, 1);
    EXPECT_EQ(moves.x, 0);
    EXPECT_EQ(moves.y, 38);
    EXPECT_EQ(moves.flags, MK_SHIFT);
}

// ---- CPropertyListWidget ---------------------------------------------------

// A circle on the layer "Trace" of a drawing that also has "Other"; the
// list hands edits to the circle and refills itself after geometry changes.
class PropertyListWidget : public ::testing::Test {
protected:
    void SetUp() override
    {
        trace = drawing.GetCurrentLayer();
        trace->SetColor(3);
        drawing.SelectOrAddLayer("Other");
        auto made = NewCircle({0, 0}, 5);
        circle = made.get();
        ASSERT_TRUE(trace->AddEntity(made.release()));
        list.SetApplyHandler([this](int row, int value, const std::string& text, CPropertyRow* record) {
            applied.push_back(row);
            const int code = circle->ApplyProperty(&drawing, row, value, text, record);
            if (code == PROP_GEOMETRY_CHANGED)
                Fill();
            return code;
        });
        Fill();
    }
    void Fill()
    {
        list.RemoveAllRows();
        circle->FillProperties(&list);
    }
    int Find(const std::string& name)
    {
        for (int n = 0; n < list.GetRowCount(); ++n)
            if (list.GetRow(n)->name == name)
                return n;
        return -1;
    }

    // First, so that the application is there before the widget below.
    QApplication& app = TestApp();
    CGraph drawing;
    CLayer* trace = nullptr;
    CCircle* circle = nullptr;
    CPropertyListWidget list;
    std::vector<int> applied;
};

TEST_F(PropertyListWidget, RowsAreNumberedInOrderWithAnEditorOfTheirKind)
{
    ASSERT_GE(list.GetRowCount(), 4);
    EXPECT_EQ(list.GetRow(0)->kind, PROP_CATEGORY);
    EXPECT_EQ(list.GetNameLabel(0), nullptr);
    EXPECT_NE(qobject_cast<QLabel*>(list.GetEditor(0)), nullptr);

    auto* layers = qobject_cast<QComboBox*>(list.GetEditor(1));
    ASSERT_NE(layers, nullptr);
    EXPECT_EQ(layers->count(), 2);
    EXPECT_EQ(layers->currentText(), "Trace");
    EXPECT_EQ(list.GetRow(1)->number, layers->currentIndex());

    ASSERT_EQ(list.GetRow(2)->kind, PROP_COLOR_INDEX);
    auto* colours = list.GetEditor(2)->findChild<QComboBox*>();
    ASSERT_NE(colours, nullptr);
    EXPECT_EQ(colours->count(), 256);  // by layer and 1..255
    EXPECT_EQ(colours->currentText().toStdString(), list.GetRow(2)->value);

    EXPECT_NE(qobject_cast<QLineEdit*>(list.GetEditor(3)), nullptr);
    EXPECT_EQ(list.GetEditor(list.GetRowCount()), nullptr);
    EXPECT_EQ(list.GetRow(-1), nullptr);

    // Each kind gets its editor; a trailing "|" is no choice.
    CPropertyListWidget other;
    EXPECT_EQ(other.AddCategory("Head"), 0);
    EXPECT_EQ(other.AddPropItem("Close", "Closed", PROP_CHOICE, "Open|Closed|"), 1);
    EXPECT_EQ(other.AddPropItem("Length", "12", PROP_READ_ONLY, ""), 2);
    EXPECT_EQ(other.AddSpinItem("Current Point", 2, 1, 4), 3);
    EXPECT_EQ(other.AddPropItem("Add Point", "ignored", PROP_BUTTON, ""), 4);
    EXPECT_EQ(qobject_cast<QComboBox*>(other.GetEditor(1))->count(), 2);
    EXPECT_EQ(other.GetRow(1)->number, 1);
    EXPECT_NE(qobject_cast<QLabel*>(other.GetEditor(2)), nullptr);
    auto* spin = qobject_cast<QSpinBox*>(other.GetEditor(3));
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->minimum(), 1);
    EXPECT_EQ(spin->maximum(), 4);
    EXPECT_EQ(spin->value(), 2);
    EXPECT_NE(qobject_cast<QPushButton*>(other.GetEditor(4)), nullptr);
    EXPECT_EQ(other.GetRow(4)->value, "");
}

TEST_F(PropertyListWidget, EditsReachTheEntityAndRefusedOnesShowTheOldValue)
{
    // Colour: the entity writes the effective colour back into the row.
    auto* colours = list.GetEditor(2)->findChild<QComboBox*>();
    const int red = colours->findData(1);
    ASSERT_GE(red, 0);
    colours->setCurrentIndex(red);
    emit colours->activated(red);
    EXPECT_EQ(circle->m_Color, 1);
    EXPECT_EQ(list.GetRow(2)->number, 1);
    EXPECT_EQ(colours->currentIndex(), red);

    // The same colour again is refused and changes nothing.
    EXPECT_EQ(list.ApplyRow(2, 1, colours->itemText(red).toStdString()), PROP_REFUSED);

    // Width as text: a bad number is refused and the old text comes back.
    const int width = Find("Width");
    ASSERT_GT(width, 0);
    auto* edit = qobject_cast<QLineEdit*>(list.GetEditor(width));
    ASSERT_NE(edit, nullptr);
    const QString shown = edit->text();
    edit->setText("wide");
    edit->setModified(true);
    emit edit->editingFinished();
    EXPECT_EQ(edit->text(), shown);
    EXPECT_EQ(circle->GetWidth(), 0.0);

    // Leaving the field untouched applies nothing.
    applied.clear();
    emit edit->editingFinished();
    EXPECT_TRUE(applied.empty());
}

TEST_F(PropertyListWidget, LayerAndGeometryAnswersReachTheCaller)
{
    std::vector<std::pair<int, int>> answers;
    QObject::connect(&list, &CPropertyListWidget::RowApplied,
                     [&answers](int row, int code) { answers.emplace_back(row, code); });

    auto* layers = qobject_cast<QComboBox*>(list.GetEditor(1));
    const int other = layers->findText("Other");
    emit layers->activated(other);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], std::make_pair(1, PROP_LAYER_CHANGED));
    EXPECT_EQ(list.GetRow(1)->value, "Other");

    // A new width changes the geometry: the handler refills the list from
    // inside the editor's own signal.
    const int width = Find("Width");
    auto* edit = qobject_cast<QLineEdit*>(list.GetEditor(width));
    QPointer<QLineEdit> old(edit);
    edit->setText("3");
    edit->setModified(true);
    emit edit->editingFinished();
    EXPECT_EQ(answers.back(), std::make_pair(width, PROP_GEOMETRY_CHANGED));
    EXPECT_EQ(circle->GetWidth(), 3.0);
    EXPECT_NE(list.GetEditor(width), edit);  // a new row
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(old.isNull());

    // Rows without an editor, and rows without a handler, refuse.
    EXPECT_EQ(list.ApplyRow(0, 0, "x"), PROP_REFUSED);
    EXPECT_EQ(list.ApplyRow(list.GetRowCount(), 0, "x"), PROP_REFUSED);
    CPropertyListWidget bare;
    bare.AddPropItem("Name", "a", PROP_TEXT, "");
    EXPECT_EQ(bare.ApplyRow(0, 0, "b"), PROP_REFUSED);
    EXPECT_EQ(qobject_cast<QLineEdit*>(bare.GetEditor(0))->text(), "a");
}

TEST_F(PropertyListWidget, SpinAndButtonRowsHandTheirValues)
{
    CPropertyListWidget rows;
    std::vector<std::tuple<int, int, std::string, int>> calls;
    rows.SetApplyHandler([&calls](int row, int value, const std::string& text, CPropertyRow* record) {
        calls.emplace_back(row, value, text, record->kind);
        return row == 0 && value == 4 ? PROP_REFUSED : PROP_APPLIED;
    });
    rows.AddSpinItem("Current Point", 2, 1, 5);
    rows.AddPropItem("Delete Current Point", "", PROP_BUTTON, "");
    auto* spin = qobject_cast<QSpinBox*>(rows.GetEditor(0));
    spin->setValue(3);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_tuple(0, 3, std::string("3"), int(PROP_SPIN)));
    EXPECT_EQ(rows.GetRow(0)->number, 3);

    spin->setValue(4);  // refused: back to 3
    EXPECT_EQ(spin->value(), 3);
    EXPECT_EQ(rows.GetRow(0)->number, 3);

    qobject_cast<QPushButton*>(rows.GetEditor(1))->click();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2], std::make_tuple(1, 0, std::string(), int(PROP_BUTTON)));
}

}  // namespace
