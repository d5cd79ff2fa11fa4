#pragma once
// OArray: the system's own list, a doubly linked chain of nodes with a
// built-in cursor, a saved cursor and an optional ring entry.
//
// Ownership: a list owns its nodes and the values in them; freeing a node
// runs the value's destructor. For pointer values only the pointer is owned.
//
// Invariants, kept by every operation:
// - count is the number of nodes; head is null exactly when count is 0.
// - Outside the ring state head.prev and tail.next are null. The tail field
//   may be null while head is set (see SetTail); it is then found by walking.
// - In the ring state (ring entry set) the chain is closed: head is the ring
//   entry, tail is head.prev and tail.next is head. Adding and removing keep
//   the ring closed; OpenRing turns it back into a head-to-tail chain that
//   starts at the entry. Every clearing operation opens the ring first.
// - The cursor and the saved cursor are null or nodes of this list: a node
//   that is freed is never left in either.
//
// Walks run through the cursor:
//   for (T* v = list.MoveToHead(); v; v = list.MoveNext()) ...
// In the ring state such a walk never reaches null; bound it by the count.
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/win_types.h"

template <typename T>
struct ONode {
    ONode* prev;
    ONode* next;
    T value;
};

template <typename T>
class OArray {
public:
    using Node = ONode<T>;

    OArray() = default;
    // Lists are copied with Copy, which can report nothing but keeps the
    // source's cursor; a silent copy constructor would hide that.
    OArray(const OArray&) = delete;
    OArray& operator=(const OArray&) = delete;
    OArray(OArray&& other) noexcept { Steal(other); }
    OArray& operator=(OArray&& other) noexcept
    {
        if (this != &other) {
            RemoveAll();
            Steal(other);
        }
        return *this;
    }

    // Slot 0: replaces this list's values by copies of the other's, head to
    // tail; a null source leaves this list empty. Copying a list onto itself
    // leaves it as it is, and so does copying values that cannot be copied.
    virtual void Copy(OArray* other)
    {
        if (other == this || !std::is_copy_constructible_v<T>)
            return;
        RemoveAll();
        AppendFrom(other);
    }
    // Slot 1: appends copies of the other list's values, head to tail. Onto
    // itself it appends one copy of the values it held before the call.
    virtual void Append(OArray* other) { AppendFrom(other); }

    virtual ~OArray() { RemoveAll(); }

    // Appends a node holding a copy of the value. The first node of an empty
    // list also becomes the cursor; otherwise the cursor stays. Returns false,
    // adding nothing, when the allocation fails.
    bool AddTail(const T& value) { return Link(NewNode(value)); }
    bool AddTail(T&& value) { return Link(NewNode(std::move(value))); }

    // As AddTail with a default-constructed value; null when allocation fails.
    T* AddNew()
    {
        Node* node = NewNode();
        return Link(node) ? &node->value : nullptr;
    }

    // Frees the head node. A cursor on it moves to the following node.
    void RemoveHead()
    {
        Node* node = head_;
        if (!node)
            return;
        if (savedCursor_ == node)
            savedCursor_ = nullptr;
        Node* next = node->next;
        if (!next || next == node) {
            Clear();
        } else {
            if (cursor_ == node)
                cursor_ = next;
            if (ringEntry_) {
                tail_->next = next;
                next->prev = tail_;
                ringEntry_ = next;
            } else {
                next->prev = nullptr;
            }
            head_ = next;
        }
        delete node;
        --count_;
    }

    // Frees the node at the cursor; the cursor moves to the following node
    // (null after the tail outside the ring state).
    void RemoveCurrent()
    {
        Node* node = cursor_;
        if (!node)
            return;
        if (savedCursor_ == node)
            savedCursor_ = nullptr;
        Node* prev = node->prev;
        Node* next = node->next;
        if (ringEntry_) {
            if (next == node) {
                Clear();
            } else {
                prev->next = next;
                next->prev = prev;
                if (node == head_)
                    head_ = ringEntry_ = next;
                if (node == tail_)
                    tail_ = prev;
                cursor_ = next;
            }
        } else if (!prev && !next) {
            Clear();
        } else if (!prev) {
            head_ = next;
            next->prev = nullptr;
            cursor_ = next;
        } else if (next) {
            prev->next = next;
            next->prev = prev;
            cursor_ = next;
        } else {
            prev->next = nullptr;
            cursor_ = nullptr;
            tail_ = prev;
        }
        delete node;
        --count_;
    }

    // Frees every node once, in the ring state too, and empties every field.
    void RemoveAll()
    {
        OpenRing();
        for (Node* node = head_; node;) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        Clear();
        count_ = 0;
    }

    // Moves every node of the other list to this list's tail without copying;
    // a ring in the other list is opened at its entry first. The other list is
    // left empty. This cursor and saved cursor take the other's when unset.
    bool TakeAll(OArray* other)
    {
        if (!other || other == this)
            return true;
        other->OpenRing();
        Node* first = other->head_;
        if (!first)
            return true;
        Node* last = other->LastNode();
        if (!head_) {
            head_ = first;
        } else {
            Node* tail = LastNode();
            tail->next = first;
            first->prev = tail;
            if (ringEntry_) {
                last->next = head_;
                head_->prev = last;
            }
        }
        tail_ = last;
        if (!cursor_)
            cursor_ = other->cursor_;
        if (!savedCursor_)
            savedCursor_ = other->savedCursor_;
        count_ += other->count_;
        other->Clear();
        other->count_ = 0;
        return true;
    }

    // Moves the cursor to the node at the zero-based index, walking from the
    // head. Past the end the cursor becomes null and null is returned.
    Node* MoveToIndex(int index)
    {
        cursor_ = nullptr;
        if (index < 0 || static_cast<UINT>(index) >= count_)
            return nullptr;
        Node* node = head_;
        for (int i = 0; i < index; ++i)
            node = node->next;
        cursor_ = node;
        return node;
    }

    // Closes the chain into a ring entered at the given node of this list
    // (moves the entry when already closed); null opens the ring. An empty
    // list is left as it is.
    void SetRingEntry(Node* entry)
    {
        if (!entry) {
            OpenRing();
            return;
        }
        if (!head_)
            return;
        if (!ringEntry_) {
            Node* last = LastNode();
            last->next = head_;
            head_->prev = last;
        }
        ringEntry_ = head_ = entry;
        tail_ = entry->prev;
    }
    void CloseRing() { SetRingEntry(head_); }

    // Turns the ring back into a chain from the entry to the node before it.
    // Returns the head, or null when no ring is set.
    Node* OpenRing()
    {
        if (!ringEntry_)
            return nullptr;
        head_ = ringEntry_;
        tail_ = head_->prev;
        tail_->next = nullptr;
        head_->prev = nullptr;
        ringEntry_ = nullptr;
        return head_;
    }

    T* GetCurrent() { return cursor_ ? &cursor_->value : nullptr; }
    const T* GetCurrent() const { return cursor_ ? &cursor_->value : nullptr; }
    T* PeekPrev() { return cursor_ && cursor_->prev ? &cursor_->prev->value : nullptr; }
    const T* PeekPrev() const { return cursor_ && cursor_->prev ? &cursor_->prev->value : nullptr; }
    T* PeekNext() { return cursor_ && cursor_->next ? &cursor_->next->value : nullptr; }
    const T* PeekNext() const { return cursor_ && cursor_->next ? &cursor_->next->value : nullptr; }

    // Cursor steps; each returns the value at the new cursor, or null.
    T* MoveToHead() { return SetCursor(head_); }
    T* MoveToTail() { return SetCursor(LastNode()); }
    T* MoveNext() { return cursor_ ? SetCursor(cursor_->next) : nullptr; }
    T* MovePrev() { return cursor_ ? SetCursor(cursor_->prev) : nullptr; }

    Node* GetHead() const { return head_; }
    // The last node, found by walking when the tail field is unset.
    Node* GetTail() const { return LastNode(); }
    // The tail field: the last node, or null to have it found by walking from
    // the head when next needed. Ignored in the ring state, where it is kept.
    void SetTail(Node* node)
    {
        if (!ringEntry_)
            tail_ = node;
    }
    Node* GetCursor() const { return cursor_; }
    // The node must be null or a node of this list.
    T* SetCursor(Node* node)
    {
        cursor_ = node;
        return GetCurrent();
    }
    Node* GetSavedCursor() const { return savedCursor_; }
    void SetSavedCursor(Node* node) { savedCursor_ = node; }
    Node* GetRingEntry() const { return ringEntry_; }
    UINT GetCount() const { return count_; }
    bool IsEmpty() const { return head_ == nullptr; }

private:
    // Node allocation never throws: a failed allocation, also inside the
    // value's own constructor, yields null and the caller adds nothing.
    template <typename... Args>
    static Node* NewNode(Args&&... args)
    {
        try {
            if constexpr (sizeof...(Args) == 0)
                return new (std::nothrow) Node{nullptr, nullptr, T()};
            else
                return new (std::nothrow) Node{nullptr, nullptr, T(std::forward<Args>(args)...)};
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

    bool Link(Node* node)
    {
        if (!node)
            return false;
        if (!head_) {
            head_ = tail_ = cursor_ = node;
            count_ = 1;
            return true;
        }
        Node* last = LastNode();
        last->next = node;
        node->prev = last;
        if (ringEntry_) {
            node->next = head_;
            head_->prev = node;
        }
        tail_ = node;
        ++count_;
        return true;
    }

    Node* LastNode() const
    {
        if (tail_ || !head_)
            return tail_;
        Node* node = head_;
        while (node->next)
            node = node->next;
        return node;
    }

    // The source's cursor walks and its saved cursor holds the position, as
    // callers of Copy expect. Only the count present at the start is walked,
    // so appending a list to itself (or from a ring) ends.
    void AppendFrom(OArray* other)
    {
        if (!other)
            return;
        if constexpr (std::is_copy_constructible_v<T>) {
            const UINT count = other->count_;
            other->savedCursor_ = other->cursor_;
            other->cursor_ = other->head_;
            for (UINT i = 0; i < count && other->cursor_; ++i) {
                AddTail(other->cursor_->value);
                other->cursor_ = other->cursor_->next;
            }
            other->cursor_ = other->savedCursor_;
        }
    }

    // Empties every field but the count, which the callers settle.
    void Clear() { ringEntry_ = head_ = tail_ = cursor_ = savedCursor_ = nullptr; }

    void Steal(OArray& other)
    {
        ringEntry_ = std::exchange(other.ringEntry_, nullptr);
        head_ = std::exchange(other.head_, nullptr);
        tail_ = std::exchange(other.tail_, nullptr);
        cursor_ = std::exchange(other.cursor_, nullptr);
        count_ = std::exchange(other.count_, 0);
        savedCursor_ = std::exchange(other.savedCursor_, nullptr);
    }

    Node* ringEntry_ = nullptr;
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    Node* cursor_ = nullptr;
    UINT count_ = 0;
    Node* savedCursor_ = nullptr;
};
