// The container the editing lists share: a contiguous block of plain
// records with a count and a capacity, growing by 4, 8 and then 16 records,
// at most 134217727 of them. Add, Insert, Delete, Put and Clear raise
// OnChanging before and OnChange after their change; BeginUpdate and
// EndUpdate fold a batch into one OnChanging as it opens and one OnChange
// as it closes. Every index or size it refuses raises the list error with
// the text "List index out of bounds (%d)", placeholder and all.
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <type_traits>
#include <vector>

#include "core/lumobj.h"
#include "platform/base/exception.h"

namespace lum {

// The most records an editing list holds.
constexpr int MaxEditListSize = 134217727;

template <class T>
class TLumRecordList : public TLumObject {
    static_assert(std::is_trivially_copyable_v<T>, "records are copied as bytes");

public:
    TLumRecordList() = default;
    // The events go first, so that the final Clear notifies nobody.
    ~TLumRecordList() override {
        OnChange = nullptr;
        OnChanging = nullptr;
        Clear();
    }

    int GetCount() const { return count_; }
    int GetCapacity() const { return static_cast<int>(items_.size()); }

    // Appends Item; its index.
    int Add(const T& item) {
        Insert(count_, item);
        return count_ - 1;
    }
    // Index from 0 to Count.
    void Insert(int index, const T& item) {
        if (index < 0 || index > count_) Error();
        if (count_ == MaxEditListSize) Error();
        T copy = item; // Item may live in the block that Expand moves
        Changing();
        Expand();
        std::move_backward(items_.begin() + index, items_.begin() + count_,
                           items_.begin() + count_ + 1);
        items_[static_cast<std::size_t>(index)] = copy;
        ++count_;
        Changed();
    }
    void Delete(int index) {
        CheckIndex(index);
        Changing();
        std::move(items_.begin() + index + 1, items_.begin() + count_, items_.begin() + index);
        --count_;
        Changed();
    }
    // Empties the list and frees its block; the events fire even when it
    // was empty.
    void Clear() {
        Changing();
        count_ = 0;
        items_.clear();
        items_.shrink_to_fit();
        Changed();
    }

    T Get(int index) const {
        CheckIndex(index);
        return items_[static_cast<std::size_t>(index)];
    }
    void Put(int index, const T& item) {
        CheckIndex(index);
        Changing();
        items_[static_cast<std::size_t>(index)] = item;
        Changed();
    }
    T First() const { return Get(0); }
    T Last() const { return Get(count_ - 1); }

    // Refuses a capacity below the count or above the limit.
    void SetCapacity(int capacity) {
        if (capacity < count_ || capacity > MaxEditListSize) Error();
        bool shrink = capacity < GetCapacity();
        try {
            items_.resize(static_cast<std::size_t>(capacity));
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory();
        }
        if (shrink) items_.shrink_to_fit();
    }
    // Records that come into use are zero-filled.
    void SetCount(int count) {
        if (count < 0 || count > MaxEditListSize) Error();
        if (count > GetCapacity()) SetCapacity(count);
        if (count > count_) std::fill(items_.begin() + count_, items_.begin() + count, T{});
        count_ = count;
    }
    // Grows when full.
    void Expand() {
        if (count_ == GetCapacity()) Grow();
    }

    TNotifyEvent OnChanging;

protected:
    virtual void Changing() {
        if (UpdateCount == 0 && OnChanging) OnChanging(this);
    }
    // Raises the list error; must not return.
    [[noreturn]] virtual void Error() const { throw EListError("List index out of bounds (%d)"); }
    virtual void Grow() {
        int capacity = GetCapacity();
        int delta = capacity > 8 ? 16 : capacity > 4 ? 8 : 4;
        int grown = capacity > MaxEditListSize - delta ? MaxEditListSize : capacity + delta;
        if (grown == capacity) Error();
        SetCapacity(grown);
    }
    void SetUpdateState(bool updating) override {
        if (updating)
            Changing();
        else
            Changed();
    }

    void CheckIndex(int index) const {
        if (index < 0 || index >= count_) Error();
    }
    T& At(int index) { return items_[static_cast<std::size_t>(index)]; }
    const T& At(int index) const { return items_[static_cast<std::size_t>(index)]; }

    // The insertion index for Position among records sorted by Key: -1 for
    // an empty list, Count when the last key is at or below Position, else
    // the first index whose key is above Position.
    template <class KeyFn>
    int Locate(std::int64_t position, KeyFn key) const {
        if (count_ == 0) return -1;
        if (key(At(count_ - 1)) <= position) return count_;
        int low = 0;
        int high = count_ - 1;
        while (low < high) {
            int middle = (low + high) >> 1;
            if (position >= key(At(middle)))
                low = middle + 1;
            else
                high = middle;
        }
        return low;
    }

private:
    std::vector<T> items_; // sized to the capacity
    int count_ = 0;
};

} // namespace lum
