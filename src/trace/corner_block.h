#pragma once
// Corner blocks of the outline walk: the corners of one chain in one block
// that grows at both ends, taken from and given back to a pool of freed
// blocks by size class. Only the walk's thread makes, grows and frees them;
// other threads may read a block the walk no longer changes.
#include <algorithm>
#include <bit>
#include <climits>
#include <new>
#include <utility>
#include <vector>

#include "platform/win_types.h"

// A corner in whole numbers: (X, Y) is the point (X - 0.5, Y - 0.5), so pixel
// (x, y) has the corners (x, y), (x + 1, y), (x, y + 1), (x + 1, y + 1).
struct Corner {
    int x;
    int y;
    bool operator==(const Corner&) const = default;
};

// The first block of a chain: room for the two first corners and the turns
// that soon follow at both ends.
constexpr UINT kFirstBlock = 8;
// Blocks come in sizes kFirstBlock << k; freed ones up to this class are
// kept for the next chains, larger ones go back to the heap.
constexpr int kPooledClasses = 14;

// Freed corner blocks by size class. Chains are made and dropped by the
// hundred thousand and their blocks double as they grow, so reusing blocks
// spares the heap most of that traffic. The walk's thread only.
class CCornerPool {
public:
    CCornerPool() = default;
    CCornerPool(const CCornerPool&) = delete;
    CCornerPool& operator=(const CCornerPool&) = delete;
    ~CCornerPool()
    {
        for (auto& blocks : m_free)
            for (Corner* block : blocks)
                delete[] block;
    }

    // A block of at least `count` corners; throws std::bad_alloc.
    Corner* Take(UINT count, UINT& capacity)
    {
        int k = 0;
        while ((kFirstBlock << k) < count) {
            if (k == 31 - std::bit_width(kFirstBlock))
                throw std::bad_alloc();
            ++k;
        }
        capacity = kFirstBlock << k;
        if (k < kPooledClasses && !m_free[k].empty()) {
            Corner* block = m_free[k].back();
            m_free[k].pop_back();
            return block;
        }
        return new Corner[capacity];
    }
    void Give(Corner* block, UINT capacity)
    {
        const int k = std::bit_width(capacity / kFirstBlock) - 1;
        if (k < kPooledClasses) {
            try {
                m_free[k].push_back(block);
                return;
            } catch (const std::bad_alloc&) {
            }
        }
        delete[] block;
    }

private:
    std::vector<Corner*> m_free[kPooledClasses];
};

// Corners of one chain in one block from the pool, with room at both ends.
// Throws std::bad_alloc.
class CCornerBlock {
public:
    explicit CCornerBlock(CCornerPool* pool = nullptr) : m_pool(pool) {}
    CCornerBlock(const CCornerBlock&) = delete;
    CCornerBlock& operator=(const CCornerBlock&) = delete;
    CCornerBlock(CCornerBlock&& other) noexcept { *this = std::move(other); }
    CCornerBlock& operator=(CCornerBlock&& other) noexcept
    {
        if (this != &other) {
            Release();
            m_pool = other.m_pool;
            m_data = std::exchange(other.m_data, nullptr);
            m_first = std::exchange(other.m_first, 0);
            m_count = std::exchange(other.m_count, 0);
            m_capacity = std::exchange(other.m_capacity, 0);
        }
        return *this;
    }
    ~CCornerBlock() { Release(); }

    void SetPool(CCornerPool* pool) { m_pool = pool; }
    UINT Count() const { return m_count; }
    const Corner* begin() const { return m_data + m_first; }
    const Corner* end() const { return begin() + m_count; }

    void PushFront(Corner c, UINT more = 1)
    {
        if (m_first < more)
            Regrow(more, true);
        m_data[--m_first] = c;
        ++m_count;
    }
    void PushBack(Corner c, UINT more = 1)
    {
        if (m_capacity - m_first - m_count < more)
            Regrow(more, false);
        m_data[m_first + m_count++] = c;
    }
    // count > 0.
    Corner PopFront()
    {
        --m_count;
        return m_data[m_first++];
    }
    Corner PopBack() { return m_data[m_first + --m_count]; }
    void Release()
    {
        if (m_data)
            m_pool->Give(m_data, m_capacity);
        m_data = nullptr;
        m_first = m_count = m_capacity = 0;
    }

private:
    // Room for `more` corners at one end; the other end keeps a share of the
    // new room too, since chains grow at both.
    void Regrow(UINT more, bool atFront)
    {
        if (m_count > UINT_MAX / 4 || more > UINT_MAX / 4)
            throw std::bad_alloc();
        UINT capacity = 0;
        Corner* block = m_pool->Take(std::max(m_capacity * 2, m_count + more + m_count / 2), capacity);
        const UINT room = capacity - m_count;
        const UINT first = atFront ? std::max(more, room - room / 2) : std::min(room / 2, room - more);
        std::copy(begin(), end(), block + first);
        const UINT count = m_count;
        Release();
        m_data = block;
        m_first = first;
        m_count = count;
        m_capacity = capacity;
    }

    CCornerPool* m_pool = nullptr;
    Corner* m_data = nullptr;
    UINT m_first = 0;
    UINT m_count = 0;
    UINT m_capacity = 0;
};
