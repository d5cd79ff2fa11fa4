// OArray is checked against a plain reference model (values in order from the
// head, cursors as indices) over long random operation sequences, on int and
// on a heap-owning string so that leaks and double frees show under ASan.
#include "model/list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <new>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

static_assert(std::is_polymorphic_v<OArray<int>>);
static_assert(!std::is_copy_constructible_v<OArray<int>>);
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
T MakeValue(int n) {
    if constexpr (std::is_same_v<T, int>)
        return n;
    else
        return "a value long enough to live on the heap #" + std::to_string(n);
}

template <typename T>
using Node = typename OArray<T>::Node;

// Links both ways, ring or chain shape, count, cursors and values all agree.
template <typename T>
void ExpectMatches(OArray<T>& list, const Model<T>& model) {
    const int n = static_cast<int>(model.values.size());
    ASSERT_EQ(list.GetCount(), static_cast<UINT>(n));
    ASSERT_EQ(list.IsEmpty(), n == 0);
    std::vector<Node<T>*> nodes;
    Node<T>* node = list.GetHead();
    for (int i = 0; i < n; ++i, node = node->next) {
        ASSERT_NE(node, nullptr) << "chain shorter than the count at " << i;
        if (node->next) { ASSERT_EQ(node->next->prev, node); }
        ASSERT_EQ(node->value, model.values[i]) << "at " << i;
        nodes.push_back(node);
    }
    if (model.ring) {
        ASSERT_EQ(list.GetRingEntry(), list.GetHead());
        ASSERT_EQ(node, list.GetHead()) << "ring does not close after count nodes";
        ASSERT_EQ(list.GetHead()->prev, nodes.back());
        ASSERT_EQ(list.GetTail(), nodes.back());
    } else {
        ASSERT_EQ(list.GetRingEntry(), nullptr);
        ASSERT_EQ(node, nullptr) << "chain longer than the count";
        if (n > 0) { ASSERT_EQ(list.GetHead()->prev, nullptr); }
        ASSERT_EQ(list.GetTail(), n ? nodes.back() : nullptr);
    }
    ASSERT_EQ(list.GetCursor(), model.cursor < 0 ? nullptr : nodes[model.cursor]);
    ASSERT_EQ(list.GetSavedCursor(), model.saved < 0 ? nullptr : nodes[model.saved]);
    const T* prev = nullptr;
    const T* next = nullptr;
    if (model.cursor >= 0) {
        if (model.cursor > 0 || model.ring) prev = &model.values[(model.cursor + n - 1) % n];
        if (model.cursor < n - 1 || model.ring) next = &model.values[(model.cursor + 1) % n];
    }
    ASSERT_EQ(list.PeekPrev() == nullptr, prev == nullptr);
    ASSERT_EQ(list.PeekNext() == nullptr, next == nullptr);
    if (prev) { ASSERT_EQ(*list.PeekPrev(), *prev); }
    if (next) { ASSERT_EQ(*list.PeekNext(), *next); }
}

template <typename T>
struct Subject {
    OArray<T> list;
    Model<T> model;
};

// Applies one random operation to `a` (with `b` as the other list, which may
// be `a` itself) and to the model in the same way.
template <typename T>
void RandomStep(std::mt19937& rng, Subject<T>& a, Subject<T>& b, int& serial) {
    Model<T>& m = a.model;
    const int n = static_cast<int>(m.values.size());
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const bool mayGrow = n + static_cast<int>(b.model.values.size()) < 64;
    const int op = pick(0, 25);
    switch (op > 19 ? 0 : op) {  // adding weighs most, so the lists grow
    case 0:
    case 1:
    case 2: {
        if (!mayGrow) break;
        const T value = MakeValue<T>(++serial);
        if (op == 2) {
            *a.list.AddNew() = value;
        } else {
            ASSERT_TRUE(a.list.AddTail(value));
        }
        m.values.push_back(value);
        if (n == 0) m.cursor = 0;
        break;
    }
    case 3:
        a.list.RemoveHead();
        if (n == 0) break;
        m.saved = m.saved > 0 ? m.saved - 1 : -1;
        m.cursor = m.cursor > 0 ? m.cursor - 1 : (m.cursor == 0 && n > 1 ? 0 : -1);
        m.values.erase(m.values.begin());
        m.ring = m.ring && n > 1;
        break;
    case 4:
    case 5: {
        a.list.RemoveCurrent();
        const int c = m.cursor;
        if (c < 0) break;
        m.saved = m.saved == c ? -1 : (m.saved > c ? m.saved - 1 : m.saved);
        m.values.erase(m.values.begin() + c);
        m.cursor = c < n - 1 ? c : (m.ring && n > 1 ? 0 : -1);
        m.ring = m.ring && n > 1;
        break;
    }
    case 6:
        a.list.MoveToHead();
        m.cursor = n ? 0 : -1;
        break;
    case 7:
        a.list.MoveToTail();
        m.cursor = n - 1;
        break;
    case 8:
        a.list.MoveNext();
        if (m.cursor >= 0) m.cursor = m.cursor + 1 < n ? m.cursor + 1 : (m.ring ? 0 : -1);
        break;
    case 9:
        a.list.MovePrev();
        if (m.cursor >= 0) m.cursor = m.cursor > 0 ? m.cursor - 1 : (m.ring ? n - 1 : -1);
        break;
    case 10: {
        const int index = pick(-1, n + 1);
        Node<T>* node = a.list.MoveToIndex(index);
        m.cursor = index >= 0 && index < n ? index : -1;
        ASSERT_EQ(node, a.list.GetCursor());
        break;
    }
    case 11:
        if (pick(0, 1)) {
            a.list.SetSavedCursor(a.list.GetCursor());
            m.saved = m.cursor;
        } else {
            a.list.SetCursor(a.list.GetSavedCursor());
            m.cursor = m.saved;
        }
        break;
    case 12:
        if (!mayGrow) break;
        a.list.Copy(&b.list);
        if (&a == &b) break;
        b.model.saved = b.model.cursor;
        m = Model<T>{b.model.values, b.model.values.empty() ? -1 : 0, -1, false};
        break;
    case 13: {
        if (!mayGrow) break;
        a.list.Append(&b.list);
        b.model.saved = b.model.cursor;
        const std::vector<T> added = b.model.values;
        if (n == 0 && !added.empty()) m.cursor = 0;
        m.values.insert(m.values.end(), added.begin(), added.end());
        break;
    }
    case 14: {
        ASSERT_TRUE(a.list.TakeAll(&b.list));
        if (&a == &b || b.model.values.empty()) break;
        if (m.cursor < 0 && b.model.cursor >= 0) m.cursor = n + b.model.cursor;
        if (m.saved < 0 && b.model.saved >= 0) m.saved = n + b.model.saved;
        m.values.insert(m.values.end(), b.model.values.begin(), b.model.values.end());
        m.ring = m.ring && n > 0;
        b.model = Model<T>{};
        break;
    }
    case 15: {
        // Close (or rotate) the ring at a random node.
        if (n == 0) {
            a.list.CloseRing();
            break;
        }
        const int k = pick(0, n - 1);
        Node<T>* entry = a.list.GetHead();
        for (int i = 0; i < k; ++i) entry = entry->next;
        a.list.SetRingEntry(entry);
        std::rotate(m.values.begin(), m.values.begin() + k, m.values.end());
        if (m.cursor >= 0) m.cursor = (m.cursor - k + n) % n;
        if (m.saved >= 0) m.saved = (m.saved - k + n) % n;
        m.ring = true;
        break;
    }
    case 16:
        ASSERT_EQ(a.list.OpenRing(), m.ring ? a.list.GetHead() : nullptr);
        m.ring = false;
        break;
    case 17:
        if (pick(0, 7) == 0) {
            a.list.RemoveAll();
            m = Model<T>{};
        } else {
            a.list.SetTail(nullptr);
        }
        break;
    case 18:
        if (pick(0, 7) == 0) {
            a.list.Copy(nullptr);
            m = Model<T>{};
        } else {
            a.list.Append(nullptr);
        }
        break;
    case 19:
        if (&a == &b) break;
        a.list = std::move(b.list);
        m = std::move(b.model);
        b.model = Model<T>{};
        break;
    }
}

template <typename T>
void RunRandomSequences(int seeds, int steps) {
    for (int seed = 1; seed <= seeds; ++seed) {
        std::mt19937 rng(seed);
        Subject<T> lists[2];
        int serial = 0;
        for (int step = 0; step < steps; ++step) {
            const int a = rng() % 2;
            const int b = rng() % 4 == 0 ? a : 1 - a;  // often the list itself
            RandomStep(rng, lists[a], lists[b], serial);
            for (Subject<T>& s : lists) ExpectMatches(s.list, s.model);
            if (::testing::Test::HasFatalFailure()) FAIL() << "seed " << seed << ", step " << step;
        }
    }
}

TEST(OArrayRandomized, IntListsFollowTheReferenceModel) { RunRandomSequences<int>(30, 2000); }

TEST(OArrayRandomized, HeapOwningValuesFollowTheReferenceModel) { RunRandomSequences<std::string>(15, 2000); }

// Counts live values so that lost or doubly freed nodes show without ASan;
// a pending failure makes the next construction throw bad_alloc.
struct Tracked {
    inline static int live = 0;
    inline static bool failNext = false;
    int id = 0;
    Tracked() { Acquire(); }
    explicit Tracked(int i) : id(i) { Acquire(); }
    Tracked(const Tracked& other) : id(other.id) { Acquire(); }
    ~Tracked() { --live; }
    static void Acquire() {
        if (std::exchange(failNext, false)) throw std::bad_alloc();
        ++live;
    }
};

std::vector<int> Ids(OArray<Tracked>& list) {
    std::vector<int> ids;
    Node<Tracked>* node = list.GetHead();
    for (UINT i = 0; i < list.GetCount(); ++i, node = node->next) ids.push_back(node->value.id);
    return ids;
}

void Fill(OArray<Tracked>& list, std::initializer_list<int> ids) {
    for (int id : ids) ASSERT_TRUE(list.AddTail(Tracked(id)));
}

TEST(OArrayFaults, AddTailAndTakeAllFindTheRealTailWhenTheTailFieldIsUnset) {
    OArray<Tracked> list, other;
    Fill(list, {1, 2, 3});
    list.SetTail(nullptr);
    ASSERT_TRUE(list.AddTail(Tracked(4)));
    EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(list.GetTail()->value.id, 4);
    list.SetTail(nullptr);
    Fill(other, {5, 6});
    other.SetTail(nullptr);
    EXPECT_TRUE(list.TakeAll(&other));
    EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(list.GetTail()->value.id, 6);
    EXPECT_EQ(list.GetTail()->next, nullptr);
}

TEST(OArrayFaults, TakeAllFromARingLeavesTheSourceFullyEmpty) {
    {
        OArray<Tracked> list, ring;
        Fill(list, {1});
        Fill(ring, {2, 3, 4});
        ring.SetRingEntry(ring.GetHead()->next);
        ring.SetSavedCursor(ring.GetHead());
        EXPECT_TRUE(list.TakeAll(&ring));
        EXPECT_EQ(Ids(list), (std::vector<int>{1, 3, 4, 2}));
        EXPECT_EQ(list.GetSavedCursor()->value.id, 3);
        EXPECT_EQ(ring.GetRingEntry(), nullptr);
        EXPECT_EQ(ring.GetHead(), nullptr);
        EXPECT_EQ(ring.GetSavedCursor(), nullptr);
        ring.RemoveAll();
        // A ringed destination stays a ring with the new nodes before its entry.
        Fill(ring, {7, 8});
        list.CloseRing();
        EXPECT_TRUE(list.TakeAll(&ring));
        EXPECT_EQ(Ids(list), (std::vector<int>{1, 3, 4, 2, 7, 8}));
        EXPECT_EQ(list.GetHead()->prev->value.id, 8);
        EXPECT_EQ(list.GetTail()->next, list.GetHead());
        EXPECT_TRUE(list.TakeAll(&list));
        EXPECT_TRUE(list.TakeAll(nullptr));
        EXPECT_EQ(list.GetCount(), 6u);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(OArrayFaults, CopyOntoItselfKeepsAndAppendOntoItselfDoublesOnce) {
    OArray<std::string> list;
    list.AddTail("first of two strings that live on the heap");
    list.AddTail("second of two strings that live on the heap");
    list.MoveToTail();
    list.Copy(&list);
    EXPECT_EQ(list.GetCount(), 2u);
    list.Append(&list);
    ASSERT_EQ(list.GetCount(), 4u);
    EXPECT_EQ(list.MoveToIndex(2)->value, list.MoveToIndex(0)->value);
    EXPECT_EQ(list.MoveToIndex(3)->value, list.MoveToIndex(1)->value);
    list.CloseRing();
    list.Append(&list);
    EXPECT_EQ(list.GetCount(), 8u);
    EXPECT_EQ(list.GetTail()->next, list.GetHead());
}

TEST(OArrayFaults, RemovingTheRingEntryKeepsTheRingValid) {
    {
        OArray<Tracked> list;
        Fill(list, {1, 2, 3});
        list.CloseRing();
        list.RemoveHead();
        EXPECT_EQ(list.GetRingEntry()->value.id, 2);
        list.SetCursor(list.GetRingEntry());
        list.RemoveCurrent();
        EXPECT_EQ(list.GetRingEntry()->value.id, 3);
        EXPECT_EQ(list.GetCursor(), list.GetRingEntry());
        EXPECT_EQ(list.GetHead()->next, list.GetHead());
        list.RemoveCurrent();
        EXPECT_EQ(list.GetRingEntry(), nullptr);
        EXPECT_EQ(list.GetCount(), 0u);
        EXPECT_EQ(Tracked::live, 0);
        Fill(list, {4, 5, 6});
        list.CloseRing();
    }
    EXPECT_EQ(Tracked::live, 0);  // the ringed list's destructor freed each once
}

TEST(OArrayEdges, AllocationFailureAddsNothing) {
    {
        OArray<Tracked> list;
        Fill(list, {1});
        Tracked value(2);
        Tracked::failNext = true;
        EXPECT_FALSE(list.AddTail(value));
        Tracked::failNext = true;
        EXPECT_EQ(list.AddNew(), nullptr);
        EXPECT_EQ(Ids(list), (std::vector<int>{1}));
        EXPECT_EQ(list.GetTail(), list.GetHead());
    }
    EXPECT_EQ(Tracked::live, 0);
}

// A record that holds a list by value, as the tracing items do.
struct Chain {
    OArray<int> points;
};

TEST(OArrayEdges, ListsOfRecordsHoldingListsAddByMoveAndSkipCopies) {
    OArray<Chain> chains, other;
    chains.AddNew()->points.AddTail(1);
    Chain chain;
    chain.points.AddTail(2);
    chain.points.CloseRing();
    ASSERT_TRUE(chains.AddTail(std::move(chain)));
    EXPECT_EQ(chains.GetTail()->value.points.GetRingEntry()->value, 2);
    other.Copy(&chains);
    other.Append(&chains);
    EXPECT_TRUE(other.IsEmpty());
    OArray<Chain> moved(std::move(chains));
    EXPECT_EQ(moved.GetCount(), 2u);
    EXPECT_TRUE(chains.IsEmpty());
}

}  // namespace
