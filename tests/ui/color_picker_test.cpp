// The raster colour picker: fitting the raster into the picture, mapping the
// mouse to raster pixels, the readouts, the keys, and the 1-bit refusal.
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "raster/raster_src.h"
#include "ui/cavus.h"
#include "ui/color_picker.h"
#include "ui/static_ex.h"
#include "qt_test_app.h"

namespace {

// Every pixel's colour tells where it is.
COLORREF ColourOf(int x, int y) { return RGB(static_cast<BYTE>(x * 6), static_cast<BYTE>(y * 20), 7); }

void MakeRaster(CRasterSrc& raster, int width, int height)
{
    ASSERT_TRUE(raster.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            raster.SetPixelRGB(x, y, GetRValue(ColourOf(x, y)), GetGValue(ColourOf(x, y)), GetBValue(ColourOf(x, y)));
}

// A point of the picture control (client coordinates) over the centre of
// raster pixel (x, y).
QPoint Over(const CRasterSelectDibColor& dialog, int x, int y)
{
    const RECT p = dialog.GetPictureRect();
    return QPoint(p.left + static_cast<int>((x + 0.5) * dialog.GetScale()),
                  p.top + static_cast<int>((y + 0.5) * dialog.GetScale()));
}

void SendMouse(CCavus* control, QEvent::Type type, QPoint client, Qt::MouseButton button)
{
    const QPoint at = client + control->contentsRect().topLeft();
    QMouseEvent event(type, QPointF(at), control->mapToGlobal(QPointF(at)), button,
                      type == QEvent::MouseMove ? Qt::MouseButtons() : Qt::MouseButtons(button), Qt::NoModifier);
    QApplication::sendEvent(control, &event);
}

void SendKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

std::string Readouts(const CRasterSelectDibColor& dialog)
{
    return (dialog.GetReadout(0)->text() + "," + dialog.GetReadout(1)->text() + "," + dialog.GetReadout(2)->text())
        .toStdString();
}

class ColorPicker : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
    CRasterSrc raster;
};

TEST_F(ColorPicker, WideRasterFillsTheWidthCentredVerticallyOnTheHatch)
{
    MakeRaster(raster, 40, 10);
    CRasterSelectDibColor dialog(&raster, RGB(1, 2, 3));
    const RECT image = dialog.GetPicture()->GetImageRect();
    const int W = image.right, H = image.bottom;
    ASSERT_LT(static_cast<double>(W) / H, 4.0);  // any screen is less wide than 4:1

    const RECT p = dialog.GetPictureRect();
    EXPECT_DOUBLE_EQ(dialog.GetScale(), W / 40.0);
    EXPECT_EQ(p.left, 0);
    EXPECT_EQ(p.right, W);
    EXPECT_EQ(p.top, static_cast<int>((H - W / 4.0) / 2));
    EXPECT_EQ(p.bottom - p.top, static_cast<int>(W / 4.0));
    EXPECT_TRUE(dialog.IsInitialised());
    EXPECT_TRUE(dialog.IsMouseOver());

    // The raster shows in the picture, framed in black, on the hatch.
    const QImage& shown = dialog.GetPicture()->GetShownImage();
    const QPoint centre = Over(dialog, 17, 4);
    EXPECT_EQ(ToColorRef(shown.pixelColor(centre)), ColourOf(17, 4));
    EXPECT_EQ(ToColorRef(shown.pixelColor(W / 2, p.top - 1)), RGB(0, 0, 0));
    bool hatch = false;
    for (int x = 0; x < 16 && !hatch; ++x)
        hatch = ToColorRef(shown.pixelColor(x, 2)) == 0xC3F0C3;
    EXPECT_TRUE(hatch);

    // The panel and the picture share the window.
    EXPECT_EQ(dialog.GetPicture()->geometry().left(), 70);
    EXPECT_EQ(dialog.GetPicture()->geometry().right(), dialog.width() - 1);
}

TEST_F(ColorPicker, TallRasterFillsTheHeightCentredHorizontally)
{
    MakeRaster(raster, 10, 40);
    CRasterSelectDibColor dialog(&raster, 0);
    const RECT image = dialog.GetPicture()->GetImageRect();
    const RECT p = dialog.GetPictureRect();
    EXPECT_DOUBLE_EQ(dialog.GetScale(), image.bottom / 40.0);
    EXPECT_EQ(p.top, 0);
    EXPECT_EQ(p.bottom, image.bottom);
    EXPECT_EQ(p.left, static_cast<int>((image.right - image.bottom / 4.0) / 2));
}

TEST_F(ColorPicker, MousePositionsMapToRasterPixels)
{
    MakeRaster(raster, 40, 10);
    CRasterSelectDibColor dialog(&raster, 0);
    const RECT p = dialog.GetPictureRect();
    int x = -1, y = -1;
    for (auto [px, py] : {std::pair{0, 0}, std::pair{39, 9}, std::pair{17, 4}}) {
        const QPoint at = Over(dialog, px, py);
        ASSERT_TRUE(dialog.MapToRaster(at.x(), at.y(), &x, &y));
        EXPECT_EQ(x, px);
        EXPECT_EQ(y, py);
    }
    // The corners of the picture rectangle: left and top in, right and
    // bottom out.
    ASSERT_TRUE(dialog.MapToRaster(p.left, p.top, &x, &y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    ASSERT_TRUE(dialog.MapToRaster(p.right - 1, p.bottom - 1, &x, &y));
    EXPECT_EQ(x, 39);
    EXPECT_EQ(y, 9);
    EXPECT_FALSE(dialog.MapToRaster(p.right, p.top, &x, &y));
    EXPECT_FALSE(dialog.MapToRaster(p.left, p.bottom, &x, &y));
    EXPECT_FALSE(dialog.MapToRaster(p.left, p.top - 1, &x, &y));
}

TEST_F(ColorPicker, MovingShowsTheColourUnderTheMouseAndAClickTakesIt)
{
    MakeRaster(raster, 40, 10);
    CRasterSelectDibColor dialog(&raster, RGB(1, 2, 3));
    EXPECT_EQ(Readouts(dialog), "1,2,3");
    CCavus* picture = dialog.GetPicture();

    SendMouse(picture, QEvent::MouseMove, Over(dialog, 5, 2), Qt::NoButton);
    EXPECT_EQ(dialog.GetColor(), ColourOf(5, 2));
    EXPECT_EQ(Readouts(dialog), "30,40,7");
    EXPECT_EQ(ToColorRef(dialog.GetSwatch()->GetShownImage().pixelColor(0, 0)), ColourOf(5, 2));

    // Off the picture: the colour stays, the mouse is no longer over it.
    const RECT p = dialog.GetPictureRect();
    SendMouse(picture, QEvent::MouseMove, QPoint(p.left + 3, p.top - 2), Qt::NoButton);
    EXPECT_EQ(dialog.GetColor(), ColourOf(5, 2));
    EXPECT_FALSE(dialog.IsMouseOver());

    // A click off the picture does nothing; on it, it takes the colour.
    dialog.show();
    SendMouse(picture, QEvent::MouseButtonPress, QPoint(p.left + 3, p.top - 2), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    SendMouse(picture, QEvent::MouseButtonPress, Over(dialog, 33, 8), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetColor(), ColourOf(33, 8));
}

TEST_F(ColorPicker, EscCancelsAndEnterTakesTheColourShownWhicheverControlHasTheFocus)
{
    MakeRaster(raster, 40, 10);
    {
        CRasterSelectDibColor dialog(&raster, RGB(9, 9, 9));
        dialog.show();
        SendKey(&dialog, Qt::Key_Escape);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        // Enter on the focused Cancel button still means OK.
        CRasterSelectDibColor dialog(&raster, RGB(9, 9, 9));
        dialog.show();
        QWidget* cancel = nullptr;
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            if (button->text() == "&Cancel")
                cancel = button;
        ASSERT_NE(cancel, nullptr);
        SendKey(cancel, Qt::Key_Return);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.GetColor(), RGB(9, 9, 9));
    }
}

TEST_F(ColorPicker, SelectColorFromRasterRunsTheDialogButNotForOneBit)
{
    int dialogsSeen = 0;
    // Answers whatever modal dialog comes up with this key.
    auto answerWith = [&dialogsSeen](int key) {
        QTimer::singleShot(0, [&dialogsSeen, key] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++dialogsSeen;
                SendKey(modal, key);
            }
        });
    };

    ASSERT_TRUE(raster.Create(16, 16, 1));
    COLORREF colour = RGB(1, 2, 3);
    answerWith(Qt::Key_Return);
    EXPECT_FALSE(SelectColorFromRaster(&raster, &colour));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogsSeen, 0);
    EXPECT_EQ(colour, RGB(1, 2, 3));
    EXPECT_FALSE(SelectColorFromRaster(nullptr, &colour));

    MakeRaster(raster, 40, 10);
    answerWith(Qt::Key_Return);
    EXPECT_TRUE(SelectColorFromRaster(&raster, &colour));
    EXPECT_EQ(colour, RGB(1, 2, 3));  // Enter without a move: the colour it started with
    answerWith(Qt::Key_Escape);
    EXPECT_FALSE(SelectColorFromRaster(&raster, &colour));
    EXPECT_EQ(dialogsSeen, 2);
}

}  // namespace
