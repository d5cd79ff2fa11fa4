// The desktop's start-up: the command line, the user's language file, the
// folder chooser behind BrowseForFolder, and a TIFF opened from the command
// line without the decoder's chatter on the terminal.
#include <QApplication>
#include <QFileDialog>
#include <QMenuBar>
#include <QProcess>
#include <QStatusBar>
#include <QTimer>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "model/text_table.h"
#include "platform/locale_separators.h"
#include "platform/settings_store.h"
#include "platform/message_box.h"
#include "platform/system.h"
#include "trace/trace_option.h"
#include "ui/main_window.h"
#include "qt_test_app.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    bool exited = false;
    QString out;
    QString err;
};

// Runs the desktop program on the offscreen platform, or with displayless
// set where no display can be opened; a run still going after the time-out
// is killed (exited false).
RunResult RunGui(const QStringList& arguments, int timeoutMs = 20000, bool displayless = false)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (displayless) {
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
    } else {
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    process.setProcessEnvironment(environment);
    process.start(LW_GUI_PATH, arguments);
    RunResult result;
    if (!process.waitForStarted(10000))
        return result;
    result.exited = process.waitForFinished(timeoutMs);
    if (!result.exited) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

TEST(DesktopCommandLine, HelpAndVersionPrintAndExitAndUnknownOptionsFail)
{
    const RunResult help = RunGui({"--help"});
    ASSERT_TRUE(help.exited);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("Usage:")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--version")) << help.out.toStdString();

    const RunResult version = RunGui({"--version"});
    ASSERT_TRUE(version.exited);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("lineweft ")) << version.out.toStdString();

    // Printing needs no display.
    for (const char* option : {"--help", "--version", "-v"}) {
        const RunResult printed = RunGui({option}, 20000, true);
        ASSERT_TRUE(printed.exited) << option;
        EXPECT_EQ(printed.exitCode, 0) << option << printed.err.toStdString();
        EXPECT_FALSE(printed.out.isEmpty()) << option;
    }

    const RunResult unknown = RunGui({"--no-such-option"});
    ASSERT_TRUE(unknown.exited);
    EXPECT_NE(unknown.exitCode, 0);
    EXPECT_TRUE(unknown.err.contains("no-such-option")) << unknown.err.toStdString();
}

TEST(DesktopCommandLine, ATiffWithUnknownTagsOpensWithoutDecoderMessages)
{
    // The sample holds tags the decoder does not know; left alone it prints
    // a line for each. The program is stopped once it has had time to open it.
    const std::string plate = std::string(LW_TEST_DATA_DIR) + "/../../samples/plate.tif";
    ASSERT_TRUE(fs::exists(plate));
    const RunResult run = RunGui({QString::fromStdString(plate)}, 5000);
    EXPECT_FALSE(run.exited) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("TIFF")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("unknown tag")) << run.err.toStdString();
}

class DesktopStartup : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        m_dir = fs::temp_directory_path() / ("lw-desktop-startup-" + std::to_string(::getpid()));
        fs::create_directories(m_dir / "sub");
    }
    void TearDown() override
    {
        GetLangTable().Clear();
        SetFolderBrowser({});
        CSettingsKey key;
        if (key.Open("Software\\Korvane\\Lineweft\\Language"))
            key.DeleteValue("LanguageFileName");
        std::error_code error;
        fs::remove_all(m_dir, error);
    }
    fs::path m_dir;
};

TEST_F(DesktopStartup, TheUsersLanguageFileNamesTheMenus)
{
    const std::string language = (m_dir / "test.lan").string();
    std::ofstream(language) << "MenuRaster=&Pixelbild\r\nMenuTrace=Ve&ktorisieren\r\n";
    CSettingsKey key;
    ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Language"));
    ASSERT_TRUE(key.SetString("LanguageFileName", language));

    InitDesktopSettings();
    CMainFrame frame;
    QStringList titles;
    for (QAction* menu : frame.menuBar()->actions())
        titles << menu->text();
    EXPECT_TRUE(titles.contains("&Pixelbild")) << titles.join(",").toStdString();
    EXPECT_TRUE(titles.contains("&File")) << titles.join(",").toStdString();  // untranslated: the default
    bool traced = false;
    for (QAction* action : frame.findChildren<QAction*>())
        traced = traced || action->text() == "Ve&ktorisieren";
    EXPECT_TRUE(traced);
}

TEST_F(DesktopStartup, StartUpLoadsTheLanguageAndTheTracingOptionsBeforeTheFrame)
{
    const std::string language = (m_dir / "start.lan").string();
    std::ofstream(language) << "MenuFile=&Datei\r\n";
    CSettingsKey key;
    ASSERT_TRUE(key.Create("Software\\Korvane\\Lineweft\\Language"));
    ASSERT_TRUE(key.SetString("LanguageFileName", language));
    CTraceOption& options = GetTraceOption();
    const BYTE grey = options.i_Gray;
    options.i_Gray = 77;
    ASSERT_TRUE(options.SaveToRegistry());
    options.i_Gray = grey;

    // The program's start-up puts up its own message boxes: the test's go back after.
    const MessageBoxHook kept = SetMessageBoxHook({});
    const std::unique_ptr<CMainFrame> frame = StartDesktop({});
    SetMessageBoxHook(kept);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->menuBar()->actions().front()->text(), "&Datei");
    EXPECT_EQ(GetTraceOption().i_Gray, 77);
    options.i_Gray = grey;
    EXPECT_TRUE(options.SaveToRegistry());
}

TEST_F(DesktopStartup, TheUsersLocaleGivesTheDecimalSeparator)
{
    locale_t german = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    if (german == nullptr)
        GTEST_SKIP() << "no German locale on this machine";
    freelocale(german);
    const char* previous = std::getenv("LC_ALL");
    const std::string kept = previous ? previous : "";
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    InitDesktopSettings();
    const char decimal = GetLocaleSeparators().decimal;
    if (previous)
        setenv("LC_ALL", kept.c_str(), 1);
    else
        unsetenv("LC_ALL");
    InitLocaleSeparators("C");
    EXPECT_EQ(decimal, ',');
}

TEST_F(DesktopStartup, BrowseForFolderShowsAFolderDialogAndTheFolderAsStatus)
{
    InitDesktopSettings();
    CMainFrame frame;
    frame.show();
    const std::string start = m_dir.string();
    const std::string sub = (m_dir / "sub").string();

    // Cancelled: nothing chosen; the start folder showed in the status bar.
    QString statusWhileOpen;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        statusWhileOpen = frame.statusBar()->currentMessage();
        dialog->reject();
    });
    EXPECT_EQ(BrowseForFolder(nullptr, "Output folder", start), "");
    EXPECT_EQ(statusWhileOpen.toStdString(), start);

    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Output folder");
        dialog->setDirectory(QString::fromStdString(sub));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(fs::path(BrowseForFolder(nullptr, "Output folder", start)), fs::path(sub));
}

}  // namespace
