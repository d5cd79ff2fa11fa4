#pragma once
// CArchive: an open file through which a serialisable object stores itself
// or loads itself again. The archive uses the file; it neither opens nor
// closes it.
#include <cstdio>

class CArchive {
public:
    enum Mode { store, load };

    CArchive(std::FILE* file, Mode mode) : m_file(file), m_mode(mode) {}

    [[nodiscard]] bool IsStoring() const { return m_mode == store; }
    [[nodiscard]] bool IsLoading() const { return m_mode == load; }
    [[nodiscard]] std::FILE* GetFile() const { return m_file; }

private:
    std::FILE* m_file;
    Mode m_mode;
};
