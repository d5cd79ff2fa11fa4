#include "model/byte_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>
#include <zlib.h>

namespace {

std::vector<std::uint8_t> Bytes(const CByteBuffer& b)
{
    return std::vector<std::uint8_t>(b.GetData(), b.GetData() + b.GetSize());
}

void Fill(CByteBuffer& b, const std::vector<std::uint8_t>& bytes)
{
    auto* block = static_cast<std::uint8_t*>(std::malloc(bytes.size() ? bytes.size() : 1));
    if (!bytes.empty())
        std::memcpy(block, bytes.data(), bytes.size());
    b.SetBlock(block, static_cast<std::uint32_t>(bytes.size()));
}

std::vector<std::uint8_t> Packed(const std::vector<std::uint8_t>& plain)
{
    CByteBuffer b;
    Fill(b, plain);
    EXPECT_TRUE(b.Compress(false));
    return Bytes(b);
}

}  // namespace

TEST(ByteBuffer, PackAndUnpackRoundTrip)
{
    std::mt19937 random(7);
    for (size_t n : {1u, 1000u, 65537u}) {
        std::vector<std::uint8_t> plain(n);
        for (auto& byte : plain)
            byte = static_cast<std::uint8_t>(random() % 4);  // some redundancy
        CByteBuffer b;
        Fill(b, plain);
        ASSERT_TRUE(b.Compress(false));
        EXPECT_EQ(b.GetUsed(), b.GetSize());
        std::uint32_t stated = b.GetData()[0] | b.GetData()[1] << 8 | b.GetData()[2] << 16 | b.GetData()[3] << 24;
        EXPECT_EQ(stated, n);
        EXPECT_EQ(b.GetUnpackedLength(), n);
        // The head alone unpacks to the first bytes; more than the block holds does not.
        std::vector<std::uint8_t> head(std::min<size_t>(n, 40));
        ASSERT_TRUE(b.UnpackHead(head.data(), static_cast<std::uint32_t>(head.size())));
        EXPECT_TRUE(std::equal(head.begin(), head.end(), plain.begin()));
        std::vector<std::uint8_t> beyond(n + 1);
        EXPECT_FALSE(b.UnpackHead(beyond.data(), static_cast<std::uint32_t>(beyond.size())));
        ASSERT_TRUE(b.Decompress(false));
        EXPECT_EQ(Bytes(b), plain);
        EXPECT_EQ(b.GetCursor(), b.GetData());
    }
}

TEST(ByteBuffer, EmptyBlockPacksToLengthZeroAndAnEmptyStream)
{
    CByteBuffer b;
    ASSERT_TRUE(b.Compress(false));
    ASSERT_GE(b.GetSize(), 4u + 8u);
    EXPECT_EQ(Bytes(b)[0] | Bytes(b)[1] | Bytes(b)[2] | Bytes(b)[3], 0);
    std::uint8_t out = 0;
    uLongf outLength = 1;
    EXPECT_EQ(uncompress(&out, &outLength, b.GetData() + 4, b.GetSize() - 4), Z_OK);
    EXPECT_EQ(outLength, 0u);
}

TEST(ByteBuffer, BorrowedBlockIsForgottenNotFreed)
{
    std::vector<std::uint8_t> owner(500, 42);
    CByteBuffer b;
    b.SetBlock(owner.data(), static_cast<std::uint32_t>(owner.size()));
    ASSERT_TRUE(b.Compress(true));  // would crash under ASan if it freed the vector's block
    EXPECT_NE(b.GetData(), owner.data());
    ASSERT_TRUE(b.Decompress(false));
    EXPECT_EQ(Bytes(b), owner);
}

TEST(ByteBuffer, CorruptBlocksFailAndLeaveTheBufferUntouched)
{
    std::vector<std::uint8_t> plain(2000);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<std::uint8_t>(i * 7);
    const std::vector<std::uint8_t> good = Packed(plain);

    std::vector<std::vector<std::uint8_t>> bad;
    bad.push_back({});            // nothing at all
    bad.push_back({1, 0, 0});     // shorter than the length
    bad.push_back({0, 0, 0, 0});  // length 0
    auto lie = good;
    lie[0] ^= 1;  // stated length one off
    bad.push_back(lie);
    auto huge = good;
    huge[3] = 0xFF;  // asks for ~4 GiB
    bad.push_back(huge);
    bad.push_back(std::vector<std::uint8_t>(good.begin(), good.begin() + good.size() / 2));  // cut short
    auto flipped = good;
    flipped[good.size() / 2] ^= 0x55;  // damaged stream
    bad.push_back(flipped);
    auto shorter = good;
    shorter[1] = static_cast<std::uint8_t>(shorter[1] + 1);  // states more than the stream holds
    bad.push_back(shorter);

    for (size_t i = 0; i < bad.size(); ++i) {
        CByteBuffer b;
        Fill(b, bad[i]);
        std::uint8_t* before = b.GetData();
        EXPECT_FALSE(b.Decompress(false)) << "case " << i;
        EXPECT_EQ(b.GetData(), before) << "case " << i;
        EXPECT_EQ(Bytes(b), bad[i]) << "case " << i;
    }
}

TEST(ByteBuffer, AttachTakesTheBlockAndEmptiesTheOther)
{
    CByteBuffer a, b;
    ASSERT_TRUE(a.Alloc(10));
    std::uint8_t* block = a.GetData();
    b.Attach(a);
    EXPECT_EQ(b.GetData(), block);
    EXPECT_EQ(b.GetSize(), 10u);
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_FALSE(a.Alloc(0));
}
