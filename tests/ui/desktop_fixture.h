#pragma once
// What the desktop tests share: the application, a temporary folder, the
// message boxes recorded and answered from a script (checked against the
// buttons they offer), a raster with a black block to open, and typing into
// a property row.
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "raster/raster_src.h"
#include "ui/drawing_view.h"
#include "ui/main_window.h"
#include "ui/property_list_widget.h"
#include "qt_test_app.h"

// A white 8-bit grey raster with a black block, in image pixels (rows from
// the top), ends excluded.
struct BlockRaster {
    int width = 120, height = 80;
    int left = 40, top = 20, right = 80, bottom = 60;
};

class DesktopTest : public ::testing::Test {
protected:
    // The folder is named after the test file and the process, so parallel runs keep apart.
    explicit DesktopTest(std::string folder, int defaultAnswer = IDOK)
        : m_folder(std::move(folder)), m_defaultAnswer(defaultAnswer)
    {}

    void SetUp() override
    {
        TestApp();
        m_dir = std::filesystem::temp_directory_path() / (m_folder + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        m_previousHook = SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned type) -> int {
            const unsigned buttons = type & kButtonsMask;
            m_messages.push_back(text);
            m_buttons.push_back(buttons);
            // The default answers questions; a notice is only acknowledged.
            int answer = buttons == MB_OK ? IDOK : m_defaultAnswer;
            if (!m_answers.empty()) {
                answer = m_answers.front();
                m_answers.pop_front();
            }
            // A box can only answer with a button it offers.
            EXPECT_TRUE(Offers(buttons, answer)) << text << " answered " << answer;
            return answer;
        });
    }
    void TearDown() override
    {
        SetMessageBoxHook(std::move(m_previousHook));
        std::error_code error;
        std::filesystem::remove_all(m_dir, error);
    }

    std::string PathOf(const std::string& name) const { return (m_dir / name).string(); }

    // An 8-bit grey raster saved in the folder; grey(x, y) is the level of
    // each pixel, rows from the top.
    template <typename Grey>
    std::string WriteGreyRaster(const std::string& name, int width, int height, Grey grey)
    {
        CRasterSrc image;
        EXPECT_TRUE(image.Create(width, height, 8));
        image.SetGreyRamp();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.SetPixelIndex(x, y, grey(x, y));
        const std::string path = PathOf(name);
        EXPECT_TRUE(image.SaveBMP(path));
        return path;
    }

    std::string WriteBlockRaster(const BlockRaster& block = {}, const std::string& name = "block.bmp")
    {
        return WriteGreyRaster(name, block.width, block.height, [&block](int x, int y) {
            const bool black = x >= block.left && x < block.right && y >= block.top && y < block.bottom;
            return black ? 0 : 255;
        });
    }

    // The colour the view shows at a world point.
    static QRgb ShownAt(CDrawingView& view, double x, double y)
    {
        const QImage& picture = view.RenderedImage();
        const CFrViewTransform& transform = view.GetDevice().Transform();
        std::int32_t X = 0, Y = 0;
        transform.WorldToDevice(x, y, &X, &Y);
        const int row = transform.DeviceRect().top - Y;
        EXPECT_TRUE(picture.valid(X, row)) << X << "," << row;
        return picture.pixel(X, row);
    }

    // The user types into a text row of a property list and leaves it.
    static void Type(CPropertyListWidget& list, int n, const char* text)
    {
        auto* edit = qobject_cast<QLineEdit*>(list.GetEditor(n));
        ASSERT_NE(edit, nullptr) << "row " << n;
        edit->setText(text);
        edit->setModified(true);
        emit edit->editingFinished();
    }

    static int ChildCount(const CMainFrame& frame) { return static_cast<int>(frame.MdiArea()->subWindowList().size()); }

    // The buttons a message box type offers (the MB_OK.. group).
    static constexpr unsigned kButtonsMask = 0x0F;
    static bool Offers(unsigned buttons, int answer)
    {
        switch (buttons) {
        case MB_OKCANCEL: return answer == IDOK || answer == IDCANCEL;
        case MB_YESNOCANCEL: return answer == IDYES || answer == IDNO || answer == IDCANCEL;
        case MB_YESNO: return answer == IDYES || answer == IDNO;
        default: return answer == IDOK;
        }
    }

    std::filesystem::path m_dir;
    std::vector<std::string> m_messages;
    // The buttons each box offered, in the order of m_messages.
    std::vector<unsigned> m_buttons;
    // Answers for the next message boxes, in order; then the default.
    std::deque<int> m_answers;

private:
    std::string m_folder;
    int m_defaultAnswer;
    MessageBoxHook m_previousHook;
};
