#pragma once
// Taking a colour from the raster itself: the raster fills the screen, the
// mouse shows the colour under it, a click takes it. Esc cancels, Enter
// takes the colour shown (the starting colour when the mouse never moved
// over the picture).
#include <QDialog>

#include "platform/colorref.h"
#include "platform/gdi_types.h"

class QLabel;
class QPushButton;
class CCavus;
class CRasterSrc;

class CRasterSelectDibColor : public QDialog {
    Q_OBJECT
public:
    // The raster is shown, not owned; it stays alive and unchanged while the
    // dialog lives.
    CRasterSelectDibColor(const CRasterSrc* raster, COLORREF color, QWidget* parent = nullptr);
    ~CRasterSelectDibColor() override;

    [[nodiscard]] COLORREF GetColor() const { return m_color; }

    // The raster pixel under a point of the picture control (its client
    // coordinates); false outside the picture.
    [[nodiscard]] bool MapToRaster(int x, int y, int* rasterX, int* rasterY) const;
    // Where the raster lies in the picture control, and the control pixels
    // per raster pixel.
    [[nodiscard]] RECT GetPictureRect() const { return m_pictureRect; }
    [[nodiscard]] double GetScale() const { return m_scale; }
    [[nodiscard]] bool IsMouseOver() const { return m_mouseOver; }
    [[nodiscard]] bool IsInitialised() const { return m_initialised; }

    [[nodiscard]] CCavus* GetPicture() const { return m_picture; }
    [[nodiscard]] CCavus* GetSwatch() const { return m_swatch; }
    // 0 red, 1 green, 2 blue.
    [[nodiscard]] QLabel* GetReadout(int channel) const;

    // The picture control's mouse, with the dialog as context.
    static void ClickCallback(void* context, UINT flags, int x, int y);
    static void MouseMoveCallback(void* context, UINT flags, int x, int y);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayoutControls();
    void FitImage();
    void PaintImage();
    void UpdateReadouts();
    // The colour under the point, when it lies on the picture.
    bool ColorAt(int x, int y, COLORREF* color) const;

    COLORREF m_color;
    const CRasterSrc* m_raster;
    RECT m_pictureRect;
    bool m_initialised = false;
    double m_scale = 1.0;
    CCavus* m_swatch = nullptr;
    CCavus* m_picture = nullptr;
    CCavus* m_panel = nullptr;
    bool m_mouseOver = false;
    QLabel* m_readouts[3] = {};
    QLabel* m_readoutNames[3] = {};
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QSize m_laidOutSize;
};

// Lets the user take a colour from the raster, starting from *color. True
// with the colour taken, false when cancelled; false at once for a raster of
// 1 bit per pixel (or none), which has only black and white.
[[nodiscard]] bool SelectColorFromRaster(const CRasterSrc* raster, COLORREF* color, QWidget* parent = nullptr);
