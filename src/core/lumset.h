// A set of a small enumeration, one bit per value, stored in Storage as the
// components keep their option sets. Derived is the set type itself, so each
// option set stays its own type and can add conversions of its own.
#pragma once

#include <initializer_list>

namespace lum {

template <typename Derived, typename E, typename Storage>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> values) {
        for (E v : values)
            bits_ = static_cast<Storage>(bits_ | Bit(v));
    }
    static constexpr Derived FromBits(Storage bits) {
        Derived s;
        s.bits_ = bits;
        return s;
    }
    constexpr Storage Bits() const { return bits_; }
    constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
    constexpr Derived& Include(E v) {
        bits_ = static_cast<Storage>(bits_ | Bit(v));
        return static_cast<Derived&>(*this);
    }
    constexpr Derived& Exclude(E v) {
        bits_ = static_cast<Storage>(bits_ & ~Bit(v));
        return static_cast<Derived&>(*this);
    }
    friend constexpr bool operator==(const Derived& a, const Derived& b) {
        return a.bits_ == b.bits_;
    }

private:
    static constexpr Storage Bit(E v) { return static_cast<Storage>(Storage{1} << v); }
    Storage bits_ = 0;
};

} // namespace lum
