#pragma once
// Reading the input file from standard input ("-" as its name): the bytes are
// copied to a private temporary file whose extension tells the loaders the
// kind the content shows (project, DXF or one of the raster formats), so the
// commands load it as they load any file.
#include "platform/stop_cleanup.h"

#include <cstdint>
#include <string>

// More than any scan worth tracing (an A0 colour scan at 400 dpi is 0.7 GB).
inline constexpr std::uint64_t kMaxStdinBytes = 4ull << 30;

class CStdinInput {
public:
    CStdinInput() = default;
    ~CStdinInput();
    CStdinInput(const CStdinInput&) = delete;
    CStdinInput& operator=(const CStdinInput&) = delete;

    // When path is "-", copies standard input to the temporary file and
    // points path at it; any other path is left alone. False with the reason
    // in error (a terminal, nothing, or too much on standard input, or no
    // room for the copy). maxBytes is for tests.
    [[nodiscard]] bool Take(std::string& path, std::string& error, std::uint64_t maxBytes = kMaxStdinBytes);
    // Removes the copy now rather than on destruction.
    void Remove();

private:
    std::string m_dir;  // removed with everything in it
    // A stop while the copy is made or used removes it too.
    CStopEntry m_copyEntry;
    CStopEntry m_dirEntry;
};

// The extension (with its point) of what the bytes start with: ".lwt" for a
// project, ".dxf" for DXF text, "" when neither. Rasters are told by the
// image library from the whole file.
[[nodiscard]] std::string DrawingExtensionOfContent(const std::string& head);
