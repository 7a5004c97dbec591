#include "platform/vfw/sampleindex.h"

#include <algorithm>
#include <limits>

namespace lum::platform::vfw {

namespace {
constexpr std::int64_t kMaxLength = std::numeric_limits<LONG>::max();
}

bool SampleIndex::Append(std::int64_t offset, std::uint32_t size, bool key) {
    std::int64_t samples = Fixed() ? size / sample_size_ : 1;
    if (samples == 0) return true;
    if (length_ + samples > kMaxLength) return false;
    if (Fixed()) {
        first_.push_back(length_);
    } else if (key) {
        keys_.push_back(length_);
    }
    entries_.push_back({offset, size, key});
    length_ += static_cast<LONG>(samples);
    max_chunk_ = std::max(max_chunk_, size);
    total_bytes_ += size;
    return true;
}

std::size_t SampleIndex::ChunkOf(LONG s) const {
    if (s < 0 || s >= length_) return npos;
    if (!Fixed()) return static_cast<std::size_t>(s);
    auto it = std::upper_bound(first_.begin(), first_.end(), s);
    return static_cast<std::size_t>(it - first_.begin()) - 1;
}

LONG SampleIndex::PrevKey(LONG s) const {
    if (length_ == 0 || s < 0) return -1;
    if (s >= length_) s = length_ - 1;
    if (Fixed()) return s;
    auto it = std::upper_bound(keys_.begin(), keys_.end(), s);
    return it == keys_.begin() ? -1 : *(it - 1);
}

LONG SampleIndex::NextKey(LONG s) const {
    if (s >= length_) return -1;
    if (s < 0) s = 0;
    if (Fixed()) return s;
    auto it = std::lower_bound(keys_.begin(), keys_.end(), s);
    return it == keys_.end() ? -1 : *it;
}

LONG SampleIndex::PrevNonEmpty(LONG s) const {
    if (length_ == 0 || s < 0) return -1;
    if (s >= length_) s = length_ - 1;
    if (Fixed()) return s;
    for (; s >= 0; --s)
        if (entries_[static_cast<std::size_t>(s)].size != 0) return s;
    return -1;
}

LONG SampleIndex::NextNonEmpty(LONG s) const {
    if (s < 0) s = 0;
    if (Fixed()) return s < length_ ? s : -1;
    for (; s < length_; ++s)
        if (entries_[static_cast<std::size_t>(s)].size != 0) return s;
    return -1;
}

bool SampleIndex::IsKey(LONG s) const {
    if (s < 0 || s >= length_) return false;
    if (Fixed()) return true;
    return entries_[static_cast<std::size_t>(s)].key;
}

std::uint32_t SampleIndex::SampleBytes(LONG s) const {
    if (Fixed()) return sample_size_;
    std::size_t c = ChunkOf(s);
    return c == npos ? 0 : entries_[c].size;
}

void SampleIndex::MarkKey(LONG s) {
    if (Fixed() || s < 0 || s >= length_) return;
    auto& e = entries_[static_cast<std::size_t>(s)];
    if (e.key) return;
    e.key = true;
    keys_.insert(std::lower_bound(keys_.begin(), keys_.end(), s), s);
}

void SampleIndex::Erase(std::size_t first, std::size_t count) {
    if (first >= entries_.size()) return;
    count = std::min(count, entries_.size() - first);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(first),
                   entries_.begin() + static_cast<std::ptrdiff_t>(first + count));
    Rebuild();
}

void SampleIndex::Shift(std::int64_t delta) {
    for (auto& e : entries_)
        e.offset += delta;
}

void SampleIndex::Rebuild() {
    std::vector<Entry> old;
    old.swap(entries_);
    first_.clear();
    keys_.clear();
    length_ = 0;
    max_chunk_ = 0;
    total_bytes_ = 0;
    for (const auto& e : old)
        Append(e.offset, e.size, e.key);
}

} // namespace lum::platform::vfw
