// The display bitmap: blank DIBs, the size helpers, BMP reading and writing.
#include "raster/dib.h"

#include "raster_test_support.h"

#include "platform/archive.h"
#include "platform/bitmap.h"
#include "platform/memory_file.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

BITMAPINFOHEADER Header(const CDib& dib)
{
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.GetHandle().Lock(), sizeof h);
    return h;
}

void PutDword(std::string& bytes, size_t at, DWORD v) { std::memcpy(bytes.data() + at, &v, sizeof v); }

// A written 8-bit 5 x 3 DIB whose bits count up from 0.
std::string WrittenDib()
{
    CDib dib;
    EXPECT_TRUE(dib.Create(5, 3, 8));
    BYTE* bits = FindDIBBits(dib.GetBlock());
    for (int i = 0; i < 24; ++i)
        bits[i] = static_cast<BYTE>(i);
    std::string bytes;
    EXPECT_TRUE(dib.WriteToMemory(bytes));
    return bytes;
}

bool Reads(const std::string& bytes)
{
    CDib dib;
    return dib.ReadFromMemory(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(Dib, BlankDibDepthsAreRoundedUp)
{
    struct Case {
        int asked, made;
    } cases[] = {{0, 1}, {1, 1}, {2, 4}, {4, 4}, {5, 8}, {8, 8}, {16, 24}, {24, 24}, {32, 4}};
    for (const Case& c : cases) {
        CDibHandle handle = CreateBlankDIB(7, 3, c.asked);
        ASSERT_FALSE(handle.IsNull()) << c.asked;
        const BYTE* dib = handle.Lock();
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        EXPECT_EQ(h.biBitCount, c.made) << c.asked;
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(handle.GetSize(), 40 + DIBPaletteSize(dib) + DIBBytesPerLine(dib) * 3u) << c.asked;
    }
    EXPECT_TRUE(CreateBlankDIB(0, 3, 8).IsNull());
    EXPECT_TRUE(CreateBlankDIB(3, -1, 8).IsNull());
}

TEST(Dib, SizeHelpersReadInfoAndCoreHeaders)
{
    CDibHandle handle = CreateBlankDIB(13, 4, 4);
    const BYTE* dib = handle.Lock();
    EXPECT_EQ(DIBWidth(dib), 13);
    EXPECT_EQ(DIBHeight(dib), 4);
    EXPECT_EQ(DIBNumColors(dib), 16u);
    EXPECT_EQ(DIBPaletteSize(dib), 64u);
    EXPECT_EQ(DIBBytesPerLine(dib), 8u);
    EXPECT_EQ(FindDIBBits(dib), dib + 40 + 64);

    BYTE core[12 + 6] = {};
    BITMAPCOREHEADER h{12, 9, 2, 1, 1};
    std::memcpy(core, &h, sizeof h);
    EXPECT_EQ(DIBWidth(core), 9);
    EXPECT_EQ(DIBHeight(core), 2);
    EXPECT_EQ(DIBNumColors(core), 2u);
    EXPECT_EQ(DIBPaletteSize(core), 6u);
    EXPECT_EQ(FindDIBBits(core), core + 18);

    CDibHandle colour = CreateBlankDIB(3, 3, 24);
    EXPECT_EQ(DIBNumColors(colour.Lock()), 0u);
}

TEST(Dib, WrittenFilesReadBackIdentically)
{
    TempFolder folder;
    CDib dib;
    ASSERT_TRUE(dib.Create(5, 3, 8));
    std::memset(FindDIBBits(dib.GetBlock()), 0x5A, 24);
    ASSERT_TRUE(dib.Write(folder / "d.bmp"));
    EXPECT_EQ(Header(dib).biSizeImage, 24u);

    CDib again;
    ASSERT_TRUE(again.Read(folder / "d.bmp"));
    EXPECT_EQ(again.Width(), 5);
    EXPECT_EQ(again.Height(), 3);
    ASSERT_EQ(again.GetHandle().GetSize(), dib.GetHandle().GetSize());
    // The colour table and bits are the same; the header now states its colours.
    EXPECT_EQ(Header(again).biClrUsed, 256u);
    EXPECT_EQ(std::memcmp(again.GetHandle().Lock() + 40, dib.GetHandle().Lock() + 40, dib.GetHandle().GetSize() - 40),
              0);

    // What the image library reads from it is the same picture.
    CRasterSrc image;
    ASSERT_TRUE(image.Load(folder / "d.bmp"));
    EXPECT_EQ(image.GetPixelIndex(4, 2), 0x5A);
    EXPECT_FALSE(again.Read(folder / "absent.bmp"));
    EXPECT_EQ(again.Width(), 5) << "a failed read keeps the DIB";
}

TEST(Dib, ReadDefaultsTheColourCountOnlyUpTo8Bits)
{
    CDib colour;
    ASSERT_TRUE(colour.Create(3, 2, 24));
    std::string bytes;
    ASSERT_TRUE(colour.WriteToMemory(bytes));
    CDib read;
    ASSERT_TRUE(read.ReadFromMemory(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
    EXPECT_EQ(Header(read).biClrUsed, 0u);
    EXPECT_EQ(DIBNumColors(read.GetHandle().Lock()), 0u);

    bytes = WrittenDib();
    ASSERT_TRUE(read.ReadFromMemory(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
    EXPECT_EQ(Header(read).biClrUsed, 256u);
    EXPECT_EQ(Header(read).biSizeImage, 24u);
}

TEST(Dib, ReadRefusesFilesWhoseSizesDoNotAddUp)
{
    const std::string good = WrittenDib();
    ASSERT_TRUE(Reads(good));

    std::string bytes = good;
    bytes[0] = 'X';
    EXPECT_FALSE(Reads(bytes)) << "signature";
    bytes = good;
    PutDword(bytes, 2, static_cast<DWORD>(good.size() + 1));
    EXPECT_FALSE(Reads(bytes)) << "file size beyond the file";
    PutDword(bytes, 2, 20);
    EXPECT_FALSE(Reads(bytes)) << "file size below the headers";
    PutDword(bytes, 2, 0xFFFFFFFF);
    EXPECT_FALSE(Reads(bytes));
    bytes = good;
    PutDword(bytes, 14, 12);
    EXPECT_FALSE(Reads(bytes)) << "core header";
    bytes = good;
    PutDword(bytes, 14 + 8, 4000);
    EXPECT_FALSE(Reads(bytes)) << "rows beyond the block";
    bytes = good;
    PutDword(bytes, 14 + 32, 257);
    EXPECT_FALSE(Reads(bytes)) << "more colours than 8 bits index";
    bytes = good;
    PutDword(bytes, 10, 14 + 40);
    EXPECT_FALSE(Reads(bytes)) << "bits offset inside the colour table";
    bytes = good;
    PutDword(bytes, 14 + 16, BI_BITFIELDS);
    EXPECT_FALSE(Reads(bytes));
    EXPECT_FALSE(Reads(good.substr(0, good.size() - 1))) << "truncated";
    EXPECT_FALSE(Reads(good.substr(0, 10)));
    EXPECT_FALSE(Reads(""));
}

TEST(Dib, RunLengthDibsUseTheirStatedImageSize)
{
    std::string bytes = WrittenDib();
    // The same block as RLE8 with a 4-byte image: end of line, end of bitmap.
    PutDword(bytes, 14 + 16, BI_RLE8);
    PutDword(bytes, 14 + 20, 4);
    EXPECT_TRUE(Reads(bytes));
    PutDword(bytes, 14 + 20, 400);
    EXPECT_FALSE(Reads(bytes));
}

TEST(Dib, OnlyInfoHeaderDibsAreWritten)
{
    CDibHandle handle = CDibHandle::Allocate(12 + 8 + 4);
    BITMAPCOREHEADER h{12, 1, 1, 1, 1};
    std::memcpy(handle.Lock(), &h, sizeof h);
    CDib dib;
    ASSERT_TRUE(dib.Attach(std::move(handle)));
    std::string bytes;
    EXPECT_FALSE(dib.WriteToMemory(bytes));
    EXPECT_FALSE(dib.Attach(CDibHandle{}));
    CDib empty;
    EXPECT_FALSE(empty.WriteToMemory(bytes));
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(empty.Width(), 0);
}

// ---- serialising through an archive ---------------------------------------

namespace {

// A DIB of the depth with distinct table colours and every byte of its rows
// set, its drawing objects up to date.
void MakePattern(CDib& dib, int bits)
{
    ASSERT_TRUE(dib.Create(7, 5, bits));
    BYTE* block = dib.GetBlock();
    auto* table = reinterpret_cast<RGBQUAD*>(block + 40);
    for (DWORD i = 0; i < DIBNumColors(block); ++i)
        table[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(3 * i), static_cast<BYTE>(255 - i), 0};
    BYTE* rows = FindDIBBits(block);
    for (DWORD i = 0; i < DIBBytesPerLine(block) * 5; ++i)
        rows[i] = static_cast<BYTE>(i * 37 + bits);
    ASSERT_TRUE(dib.UpdateGdiObjects());
}

std::string Stored(CDib& dib)
{
    MemoryFile out;
    CArchive archive(out.Get(), CArchive::store);
    EXPECT_TRUE(archive.IsStoring());
    EXPECT_TRUE(dib.Serialize(archive));
    EXPECT_TRUE(out.Finish());
    return std::string(out.Content());
}

using StreamPtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

StreamPtr ReadStream(std::string& bytes) { return StreamPtr(fmemopen(bytes.data(), bytes.size(), "rb"), &std::fclose); }

}  // namespace

TEST(DibArchive, EveryDepthRoundTripsAndTheStreamStopsBehindTheDib)
{
    for (int bits : {1, 4, 8, 24}) {
        CDib dib;
        MakePattern(dib, bits);
        std::string bytes = Stored(dib) + "next";
        StreamPtr in = ReadStream(bytes);
        ASSERT_NE(in, nullptr);
        CDib loaded;
        ASSERT_TRUE(loaded.Create(2, 2, 24));
        CArchive archive(in.get(), CArchive::load);
        ASSERT_TRUE(loaded.Serialize(archive)) << bits << " bits";
        char next[5] = {};
        EXPECT_EQ(std::fread(next, 1, 4, in.get()), 4u);
        EXPECT_STREQ(next, "next");

        EXPECT_EQ(loaded.Width(), 7);
        EXPECT_EQ(loaded.Height(), 5);
        EXPECT_EQ(Header(loaded).biBitCount, bits);
        ASSERT_EQ(loaded.GetHandle().GetSize(), dib.GetHandle().GetSize());
        EXPECT_EQ(
            std::memcmp(loaded.GetHandle().Lock() + 40, dib.GetHandle().Lock() + 40, dib.GetHandle().GetSize() - 40), 0)
            << bits << " bits";
        // The drawing objects are those of the loaded picture.
        ASSERT_NE(loaded.GetBitmap(), nullptr);
        EXPECT_EQ(loaded.GetBitmap()->GetBitCount(), bits);
        EXPECT_EQ(loaded.GetPalette() != nullptr, bits <= 8);
    }
}

TEST(DibArchive, ATruncatedDibFailsAndLeavesTheDibAsItWas)
{
    CDib source;
    MakePattern(source, 8);
    const std::string whole = Stored(source);
    for (std::size_t n : {std::size_t{1}, std::size_t{13}, std::size_t{14}, std::size_t{53}, std::size_t{54 + 1024},
                          whole.size() - 1}) {
        std::string bytes = whole.substr(0, n);
        StreamPtr in = ReadStream(bytes);
        ASSERT_NE(in, nullptr);
        CDib dib;
        MakePattern(dib, 4);
        const std::string before(reinterpret_cast<const char*>(dib.GetHandle().Lock()), dib.GetHandle().GetSize());
        const CBitmap* bitmap = dib.GetBitmap();
        CArchive archive(in.get(), CArchive::load);
        EXPECT_FALSE(dib.Serialize(archive)) << n;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(dib.GetHandle().Lock()), dib.GetHandle().GetSize()), before)
            << n;
        EXPECT_EQ(dib.GetBitmap(), bitmap) << n;
    }
    // Storing needs a DIB with a 40-byte header.
    CDib empty;
    MemoryFile out;
    CArchive archive(out.Get(), CArchive::store);
    EXPECT_FALSE(empty.Serialize(archive));
}
