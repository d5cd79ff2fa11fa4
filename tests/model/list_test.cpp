// OArray is checked against a plain reference model (values in order from the
// head, cursors as indices) over long random operation sequences, on int and
// on a heap-owning string so that leaks and double frees show under ASan.
#include "model/list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

static_assert(std::is_nothrow_move_constructible_v<OArray<std::string>>);

namespace {

template <typename T>
struct Model {
    std::vector<T> values;  // in order from the head (the ring entry when ringed)
    int cursor = -1;
    int saved = -1;
    bool ring = false;
};

template <typename T>
T MakeValue(int n)
{
    if constexpr (std::is_same_v<T, int>)
        return n;
    else
        return "a value long enough to live on the heap #" + std::to_string(n);
}

// Links both ways, ring or chain shape, count, tail, cursors and values agree.
template <typename T>
void ExpectMatches(OArray<T>& list, const Model<T>& m)
{
    const int n = static_cast<int>(m.values.size());
    ASSERT_EQ(list.GetCount(), static_cast<UINT>(n));
    std::vector<typename OArray<T>::Node*> nodes{nullptr};  // nodes[i + 1] holds value i
    auto* node = list.GetHead();
    for (int i = 0; i < n; ++i, node = node->next) {
        ASSERT_NE(node, nullptr) << "chain shorter than the count at " << i;
        ASSERT_TRUE(!node->next || node->next->prev == node) << "at " << i;
        ASSERT_EQ(node->value, m.values[i]) << "at " << i;
        nodes.push_back(node);
    }
    // A ring closes after count nodes; a chain ends there.
    ASSERT_EQ(node, m.ring ? list.GetHead() : nullptr);
    ASSERT_EQ(list.GetRingEntry(), m.ring ? list.GetHead() : nullptr);
    if (n > 0) {
        ASSERT_EQ(list.GetHead()->prev, m.ring ? nodes.back() : nullptr);
    }
    ASSERT_EQ(list.GetTail(), nodes.back());
    ASSERT_EQ(list.GetCursor(), nodes[m.cursor + 1]);
    ASSERT_EQ(list.GetSavedCursor(), nodes[m.saved + 1]);
}

// Removes the value at index i: a cursor on it moves to the following node.
template <typename T>
void Erase(Model<T>& m, int i)
{
    const int n = static_cast<int>(m.values.size());
    m.values.erase(m.values.begin() + i);
    m.saved = m.saved == i ? -1 : m.saved - (m.saved > i);
    m.cursor = m.cursor != i ? m.cursor - (m.cursor > i) : i < n - 1 ? i : m.ring && n > 1 ? 0 : -1;
    m.ring = m.ring && n > 1;
}

template <typename T>
struct Subject {
    OArray<T> list;
    Model<T> model;
};

// Applies one random operation to `a` (with `b`, maybe `a` itself, as the other
// list) and to its model in the same way.
template <typename T>
void RandomStep(std::mt19937& rng, Subject<T>& a, Subject<T>& b)
{
    Model<T>& m = a.model;
    const int n = static_cast<int>(m.values.size());
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const bool mayGrow = n + static_cast<int>(b.model.values.size()) < 64;
    const int op = pick(0, 15);
    switch (op > 10 ? 0 : op) {  // adding weighs most, so the lists grow
    case 0:
    case 1:
        if (!mayGrow)
            break;
        m.values.push_back(MakeValue<T>(static_cast<int>(rng())));
        if (op == 1)
            *a.list.AddNew() = m.values.back();
        else
            ASSERT_TRUE(a.list.AddTail(m.values.back()));
        if (n == 0)
            m.cursor = 0;
        break;
    case 2:
    case 3: {  // the head, or the node at the cursor
        const int i = op == 2 ? (n > 0 ? 0 : -1) : m.cursor;
        op == 2 ? a.list.RemoveHead() : a.list.RemoveCurrent();
        if (i >= 0)
            Erase(m, i);
        break;
    }
    case 4: {  // a step either way; a ring wraps round
        const int to = m.cursor + (pick(0, 1) ? (a.list.MoveNext(), 1) : (a.list.MovePrev(), -1));
        if (m.cursor >= 0)
            m.cursor = to >= 0 && to < n ? to : m.ring ? (to + n) % n : -1;
        break;
    }
    case 5: {  // to an index (or past the end), sometimes saving the cursor there
        const int index = pick(-1, n + 1);
        auto* node = a.list.MoveToIndex(index);
        ASSERT_EQ(node, a.list.GetCursor());
        m.cursor = index >= 0 && index < n ? index : -1;
        if (pick(0, 1)) {
            a.list.SetSavedCursor(node);
            m.saved = m.cursor;
        }
        break;
    }
    case 6: {  // Copy or Append; the source's saved cursor ends on its cursor
        if (!mayGrow)
            break;
        const std::vector<T> added = b.model.values;
        const bool copy = &a != &b && pick(0, 1);
        copy ? a.list.Copy(&b.list) : a.list.Append(&b.list);
        b.model.saved = b.model.cursor;
        if (copy)
            m = Model<T>{};
        if (m.values.empty() && !added.empty())
            m.cursor = 0;
        m.values.insert(m.values.end(), added.begin(), added.end());
        break;
    }
    case 7:
        ASSERT_TRUE(a.list.TakeAll(&b.list));
        if (&a == &b)
            break;
        if (m.cursor < 0 && b.model.cursor >= 0)
            m.cursor = n + b.model.cursor;
        if (m.saved < 0 && b.model.saved >= 0)
            m.saved = n + b.model.saved;
        m.values.insert(m.values.end(), b.model.values.begin(), b.model.values.end());
        b.model = Model<T>{};
        break;
    case 8: {  // close the ring at a random node, or move its entry there
        const int k = n > 0 ? pick(0, n - 1) : 0;
        auto* entry = a.list.GetHead();
        for (int i = 0; i < k; ++i)
            entry = entry->next;
        a.list.SetRingEntry(entry);  // null on an empty list, which stays as it is
        if (n == 0)
            break;
        std::rotate(m.values.begin(), m.values.begin() + k, m.values.end());
        if (m.cursor >= 0)
            m.cursor = (m.cursor - k + n) % n;
        if (m.saved >= 0)
            m.saved = (m.saved - k + n) % n;
        m.ring = true;
        break;
    }
    case 9:
        ASSERT_EQ(a.list.OpenRing(), m.ring ? a.list.GetHead() : nullptr);
        m.ring = false;
        break;
    case 10:  // take over the other list by moving it, and forget the tail field
        if (&a != &b) {
            a.list = std::move(b.list);
            m = std::exchange(b.model, Model<T>{});
        }
        a.list.SetTail(nullptr);  // it is then found by walking
        break;
    }
}

template <typename T>
void RunRandomSequences(int seeds, int steps)
{
    for (int seed = 1; seed <= seeds; ++seed) {
        std::mt19937 rng(seed);
        Subject<T> lists[2];
        for (int step = 0; step < steps; ++step) {
            const int a = rng() % 2;
            const int b = rng() % 4 == 0 ? a : 1 - a;  // often the list itself
            RandomStep(rng, lists[a], lists[b]);
            for (Subject<T>& s : lists)
                ExpectMatches(s.list, s.model);
            if (::testing::Test::HasFatalFailure())
                FAIL() << "seed " << seed << ", step " << step;
        }
    }
}

TEST(OArrayRandomized, IntAndHeapOwningListsFollowTheReferenceModel)
{
    RunRandomSequences<int>(30, 2000);
    RunRandomSequences<std::string>(15, 2000);
}

TEST(OArrayFaults, AddTailAndTakeAllFindTheRealTailAndTakeAllEmptiesASourceRing)
{
    OArray<int> list, ring;
    ASSERT_TRUE(list.AddTail(1));
    list.SetTail(nullptr);
    ASSERT_TRUE(list.AddTail(2));
    for (int v : {3, 4, 5})
        ASSERT_TRUE(ring.AddTail(v));
    ring.SetRingEntry(ring.GetHead()->next);
    ring.SetSavedCursor(ring.GetHead());
    list.SetTail(nullptr);
    EXPECT_TRUE(list.TakeAll(&ring));
    ExpectMatches(list, Model<int>{{1, 2, 4, 5, 3}, 0, 2, false});
    ExpectMatches(ring, Model<int>{});
}

TEST(OArrayFaults, CopyOntoItselfKeepsAndAppendOntoItselfDoublesOnce)
{
    const std::string a = MakeValue<std::string>(1), b = MakeValue<std::string>(2);
    OArray<std::string> list;
    ASSERT_TRUE(list.AddTail(a) && list.AddTail(b));
    list.Copy(&list);
    list.Append(&list);
    ExpectMatches(list, Model<std::string>{{a, b, a, b}, 0, 0, false});
    list.CloseRing();
    list.Append(&list);
    ExpectMatches(list, Model<std::string>{{a, b, a, b, a, b, a, b}, 0, 0, true});
}

TEST(OArrayFaults, RemovingTheRingEntryKeepsTheRingValid)
{
    OArray<int> list;
    for (int v : {1, 2, 3})
        ASSERT_TRUE(list.AddTail(v));
    list.CloseRing();
    list.SetSavedCursor(list.GetHead());
    list.RemoveHead();
    ExpectMatches(list, Model<int>{{2, 3}, 0, -1, true});
    list.RemoveCurrent();
    ExpectMatches(list, Model<int>{{3}, 0, -1, true});
    list.RemoveCurrent();
    ExpectMatches(list, Model<int>{});
}

// A value whose construction fails on request, as an allocation inside it would.
struct Fragile {
    inline static bool failNext = false;
    Fragile() { Check(); }
    Fragile(const Fragile&) { Check(); }
    static void Check()
    {
        if (std::exchange(failNext, false))
            throw std::bad_alloc();
    }
};

TEST(OArrayFaults, AllocationFailureAddsNothing)
{
    OArray<Fragile> list;
    const Fragile value;
    ASSERT_TRUE(list.AddTail(value));
    Fragile::failNext = true;
    EXPECT_FALSE(list.AddTail(value));
    Fragile::failNext = true;
    EXPECT_EQ(list.AddNew(), nullptr);
    EXPECT_TRUE(list.GetCount() == 1 && list.GetTail() == list.GetHead() && !list.GetHead()->next);
}

}  // namespace
