// The small text files read by name: the settings file (a damaged one is kept
// aside byte for byte, a good one stays where it is) with the separators
// taken from it, a language file, a job file, and the desktop registration
// files that are removed only when they carry our marker. The first byte
// picks the reader, the rest is the file.
#include "fuzz_folder.h"
#include "model/text_table.h"
#include "platform/file_types.h"
#include "platform/locale_separators.h"
#include "platform/message_box.h"
#include "platform/profile_file.h"
#include "platform/settings_store.h"
#include "trace/option_text.h"
#include "trace/trace_option.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxInput = 1u << 20;

std::string g_folder;
int g_reports = 0;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr);
    Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    Check(std::fclose(file) == 0);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// Loads the bytes as the user's settings file: a file the parser takes stays
// in place, any other is moved aside unchanged and reported.
void SettingsFile(std::string_view bytes)
{
    const std::string folder = g_folder + "/config";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string path = CSettingsStore::DefaultFile();
    WriteFile(path, bytes);

    SettingsNode parsed;
    const bool good = CSettingsStore::ParseText(bytes, parsed);
    g_reports = 0;
    CSettingsStore& store = CSettingsStore::Instance();
    store.UseFile(path);
    Check(store.IsWritable());
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        ++files;
        Check(ReadFile(entry.path()) == bytes);
        Check(good == (entry.path() == path));
    }
    Check(files == 1 && g_reports == (good ? 0 : 1));

    // The separators stored there stand in for the locale's, never as one.
    const LocaleSeparators s = ResolveLocaleSeparators(0, 0);
    Check(s.decimal != s.list && s.decimal > 0 && s.list > 0);
    InitLocaleSeparators("C");
    Check(GetLocaleSeparators().decimal == '.');
}

void LanguageFile(std::string_view bytes)
{
    const std::string path = g_folder + "/text.lan";
    WriteFile(path, bytes);
    CLangTable fromFile;
    CLangTable fromMemory;
    Check(fromFile.Load(path));
    fromMemory.LoadFromMemory(bytes);
    Check(fromFile.GetCount() == fromMemory.GetCount());
    for (std::size_t i = 0; i < fromFile.GetCount(); ++i)
        Check(fromFile.GetKeyAt(i) == fromMemory.GetKeyAt(i) && fromFile.GetValueAt(i) == fromMemory.GetValueAt(i));
}

void JobFile(std::string_view bytes)
{
    const std::string path = g_folder + "/job.lwj";
    WriteFile(path, bytes);
    CProfileFile profile;
    Check(profile.Load(path));
    CTraceOption option;
    std::string error;
    if (LoadJobFileOptions(path, "", option, &error)) {
        Check(!FindJobOptionSection(profile).empty());
        Check(std::isfinite(option.ChartType.d_MaxDis) && option.ChartType.d_MaxDis >= 0);
        Check(option.i_AutoTraceWhat >= TRACE_CENTER_LINE && option.i_AutoTraceWhat <= TRACE_FILL_PATTERN);
    } else {
        Check(!error.empty());
    }
}

// The registration files of ".lwt": removed exactly when they carry our
// marker, whatever else they hold.
void RegistrationFiles(std::string_view bytes)
{
    const std::string data = g_folder + "/data";
    const std::string mime = data + "/mime/packages/lineweft-lwt.xml";
    const std::string desktop = data + "/applications/lineweft-lwt.desktop";
    fs::create_directories(data + "/mime/packages");
    fs::create_directories(data + "/applications");
    const std::size_t half = bytes.size() / 2;
    const std::string_view mimeBytes = bytes.substr(0, half);
    const std::string_view desktopBytes = bytes.substr(half);
    WriteFile(mime, mimeBytes);
    WriteFile(desktop, desktopBytes);
    const bool mimeOurs = mimeBytes.find("<!-- Registered by Lineweft. -->") != std::string_view::npos;
    const bool desktopOurs = desktopBytes.find("X-Lineweft-Registered=true") != std::string_view::npos;
    Check(UnregisterFileType(".lwt"));
    Check(fs::exists(mime) != mimeOurs && fs::exists(desktop) != desktopOurs);
    fs::remove(mime);
    fs::remove(desktop);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetMessageBoxHook([](const std::string&, const std::string&, unsigned) {
        ++g_reports;
        return IDOK;
    });
    g_folder = MakeFuzzFolder("lineweft-config-fuzz");
    setenv("LINEWEFT_CONFIG_DIR", (g_folder + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_folder + "/data").c_str(), 1);
    // The desktop's database tools are not run for a fuzz input.
    setenv("PATH", "/nonexistent", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > kMaxInput)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
    case 0: SettingsFile(bytes); break;
    case 1: LanguageFile(bytes); break;
    case 2: JobFile(bytes); break;
    default: RegistrationFiles(bytes); break;
    }
    return 0;
}
