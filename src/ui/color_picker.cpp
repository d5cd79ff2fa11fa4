// The raster colour picker: layout, fitting the raster to the screen, the
// picture's painting, and the mouse and keys.
#include "ui/color_picker.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <cmath>

#include "model/text_table.h"
#include "platform/dc.h"
#include "raster/raster_display.h"
#include "raster/raster_src.h"
#include "ui/cavus.h"

namespace {

// The left panel, the swatch in it, and the readouts and buttons below.
constexpr int kPanelWidth = 70;
constexpr QRect kSwatchRect(5, 5, 60, 50);
constexpr int kReadoutTop = 64;
constexpr int kReadoutPitch = 22;
constexpr int kReadoutNameWidth = 18;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 6;
// The off-screen pictures are 16 bits deep, as CDib rounds it.
constexpr int kImageBits = 16;
// The background around the picture: a light green diagonal cross.
constexpr COLORREF kHatchColor = 0xC3F0C3;
constexpr int kInitBandHeight = 40;

QString Text(const char* key, const char* english) { return QString::fromStdString(GetLanString(key, english)); }

}  // namespace

CRasterSelectDibColor::CRasterSelectDibColor(const CRasterSrc* raster, COLORREF color, QWidget* parent)
    : QDialog(parent), m_color(color), m_raster(raster)
{
    setWindowTitle(Text("SelectColorDlgCaption",
                        "Select color--Press mouse left button to select raster,press ESC to cancel select"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    // Made first so that the controls on it stack above it.
    m_panel = new CCavus(this);
    m_swatch = new CCavus(this);
    m_picture = new CCavus(this);
    const char* names[3] = {"R:", "G:", "B:"};
    for (int i = 0; i < 3; ++i) {
        m_readoutNames[i] = new QLabel(QString::fromLatin1(names[i]), this);
        m_readouts[i] = new QLabel(this);
    }
    m_ok = new QPushButton(Text("ButtonOK", "O&K"), this);
    m_cancel = new QPushButton(Text("ButtonCancel", "&Cancel"), this);
    // Enter and Esc belong to the dialog whichever button has the focus.
    m_ok->setAutoDefault(false);
    m_cancel->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_picture->SetClickCallback(&CRasterSelectDibColor::ClickCallback, this);
    m_picture->SetMouseMoveCallback(&CRasterSelectDibColor::MouseMoveCallback, this);

    QRect screen(0, 0, 800, 600);
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        screen = primary->geometry();
    move(0, 0);
    resize(screen.size());
    LayoutControls();
}

CRasterSelectDibColor::~CRasterSelectDibColor() = default;

QLabel* CRasterSelectDibColor::GetReadout(int channel) const
{
    return channel >= 0 && channel < 3 ? m_readouts[channel] : nullptr;
}

void CRasterSelectDibColor::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (event->size() != m_laidOutSize)
        LayoutControls();
}

void CRasterSelectDibColor::LayoutControls()
{
    const int w = width(), h = height();
    m_laidOutSize = size();
    m_panel->setGeometry(0, 0, kPanelWidth, h);
    m_swatch->setGeometry(kSwatchRect);
    // The picture takes the rest of the window beside the panel.
    m_picture->setGeometry(kPanelWidth, 0, std::max(0, w - kPanelWidth), h);
    for (int i = 0; i < 3; ++i) {
        const int top = kReadoutTop + i * kReadoutPitch;
        m_readoutNames[i]->setGeometry(kSwatchRect.left(), top, kReadoutNameWidth, kReadoutPitch);
        m_readouts[i]->setGeometry(kSwatchRect.left() + kReadoutNameWidth, top, kSwatchRect.width() - kReadoutNameWidth,
                                   kReadoutPitch);
    }
    const int buttonsTop = kReadoutTop + 3 * kReadoutPitch + kButtonGap;
    m_ok->setGeometry(kSwatchRect.left(), buttonsTop, kSwatchRect.width(), kButtonHeight);
    m_cancel->setGeometry(kSwatchRect.left(), buttonsTop + kButtonHeight + kButtonGap, kSwatchRect.width(),
                          kButtonHeight);

    (void)m_picture->CreateImageFitWindow(kImageBits);
    (void)m_swatch->CreateImageFitWindow(kImageBits);
    UpdateReadouts();
    FitImage();
}

void CRasterSelectDibColor::FitImage()
{
    const RECT image = m_picture->GetImageRect();
    const int W = image.right, H = image.bottom;
    m_pictureRect = RECT{};
    m_scale = 1.0;
    if (W > 0 && H > 0 && m_raster && m_raster->GetWidth() > 0 && m_raster->GetHeight() > 0) {
        const double aspect = static_cast<double>(m_raster->GetWidth()) / m_raster->GetHeight();
        if (static_cast<double>(W) / H < aspect) {
            // Wider than the window: full width, centred vertically.
            m_scale = static_cast<double>(W) / m_raster->GetWidth();
            const double shownHeight = W / aspect;
            m_pictureRect.left = 0;
            m_pictureRect.top = static_cast<int>(std::fabs(H - shownHeight) / 2);
            m_pictureRect.right = W;
            m_pictureRect.bottom = m_pictureRect.top + static_cast<int>(shownHeight);
        } else {
            m_scale = static_cast<double>(H) / m_raster->GetHeight();
            const double shownWidth = H * aspect;
            m_pictureRect.left = static_cast<int>(std::fabs(W - shownWidth) / 2);
            m_pictureRect.top = 0;
            m_pictureRect.right = m_pictureRect.left + static_cast<int>(shownWidth);
            m_pictureRect.bottom = H;
        }
    }
    m_initialised = false;
    PaintImage();
    m_mouseOver = true;
}

void CRasterSelectDibColor::PaintImage()
{
    CDC* dc = m_picture->BeginDraw();
    if (!dc)
        return;
    const RECT image = m_picture->GetImageRect();
    CPen noPen(PS_NULL, 0, RGB(0, 0, 0));
    CBrush hatch(HS_DIAGCROSS, kHatchColor);
    dc->FillSolidRect(image, RGB(255, 255, 255));
    CPen* oldPen = dc->SelectObject(&noPen);
    CBrush* oldBrush = dc->SelectObject(&hatch);
    // A null pen leaves the right and bottom edges out: one pixel more.
    dc->Rectangle(image.left, image.top, image.right + 1, image.bottom + 1);
    dc->SelectObject(oldBrush);
    dc->SelectObject(oldPen);

    if (!m_initialised) {
        // Stretching a large raster takes a moment: say so meanwhile.
        m_picture->SetBandText(Text("SelectDlgInit", "Initializing, please wait..."), kInitBandHeight);
        m_picture->UpdateImage();
        dc = m_picture->BeginDraw();
        if (!dc)
            return;
    }
    const RECT& p = m_pictureRect;
    if (m_raster && p.right > p.left && p.bottom > p.top) {
        CPen frame(PS_SOLID, 0, RGB(0, 0, 0));
        CBrush hollow = CBrush::Null();
        oldPen = dc->SelectObject(&frame);
        oldBrush = dc->SelectObject(&hollow);
        dc->Rectangle(p.left - 1, p.top - 1, p.right + 1, p.bottom + 1);
        dc->SelectObject(oldBrush);
        dc->SelectObject(oldPen);
        (void)DrawRasterDib(m_raster, RECT{0, 0, m_raster->GetWidth(), m_raster->GetHeight()}, dc, p);
    }
    m_picture->SetBandText(QString());
    m_picture->UpdateImage();
    m_initialised = true;
}

void CRasterSelectDibColor::UpdateReadouts()
{
    m_swatch->FillImage(m_color);
    const int values[3] = {GetRValue(m_color), GetGValue(m_color), GetBValue(m_color)};
    for (int i = 0; i < 3; ++i)
        m_readouts[i]->setText(QString::number(values[i]));
}

bool CRasterSelectDibColor::MapToRaster(int x, int y, int* rasterX, int* rasterY) const
{
    const RECT& p = m_pictureRect;
    if (x < p.left || x >= p.right || y < p.top || y >= p.bottom || m_scale <= 0)
        return false;
    *rasterX = static_cast<int>((x - p.left) / m_scale);
    *rasterY = static_cast<int>((y - p.top) / m_scale);
    return true;
}

bool CRasterSelectDibColor::ColorAt(int x, int y, COLORREF* color) const
{
    int rasterX = 0, rasterY = 0;
    BYTE bgr[3] = {};
    if (!m_raster || !MapToRaster(x, y, &rasterX, &rasterY) || !m_raster->GetPixelColor(rasterX, rasterY, bgr))
        return false;
    *color = RGB(bgr[2], bgr[1], bgr[0]);
    return true;
}

void CRasterSelectDibColor::MouseMoveCallback(void* context, UINT /*flags*/, int x, int y)
{
    auto* dialog = static_cast<CRasterSelectDibColor*>(context);
    COLORREF color = 0;
    if (!dialog->ColorAt(x, y, &color)) {
        dialog->m_mouseOver = false;
        return;
    }
    dialog->m_mouseOver = true;
    dialog->m_color = color;
    dialog->UpdateReadouts();
}

void CRasterSelectDibColor::ClickCallback(void* context, UINT /*flags*/, int x, int y)
{
    auto* dialog = static_cast<CRasterSelectDibColor*>(context);
    COLORREF color = 0;
    if (!dialog->ColorAt(x, y, &color))
        return;
    dialog->m_color = color;
    dialog->UpdateReadouts();
    dialog->accept();
}

void CRasterSelectDibColor::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: reject(); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: accept(); return;
    default: QDialog::keyPressEvent(event);
    }
}

bool SelectColorFromRaster(const CRasterSrc* raster, COLORREF* color, QWidget* parent)
{
    if (!raster || !color || raster->IsEmpty() || raster->GetBitCount() <= 1)
        return false;
    CRasterSelectDibColor dialog(raster, *color, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *color = dialog.GetColor();
    return true;
}
