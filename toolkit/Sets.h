// SetOf<E>: a small set of enumeration values (at most 64 distinct ordinals), the toolkit's
// "set of" type: TFontStyles, TComponentState, TBorderIcons, ...
//
//   TFontStyles s{fsBold};  s.Include(fsItalic);  if (s.Contains(fsBold)) ...
//   s.Mask() / SetOf<E>::FromMask(m): bit n stands for ordinal n (how streams store sets).
#pragma once

#include <cstdint>
#include <initializer_list>

template <class E>
class SetOf {
public:
    constexpr SetOf() = default;
    constexpr SetOf(std::initializer_list<E> items) {
        for (E e : items)
            bits_ |= bit(e);
    }

    constexpr bool Contains(E e) const { return (bits_ & bit(e)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr SetOf& Include(E e) {
        bits_ |= bit(e);
        return *this;
    }
    constexpr SetOf& Exclude(E e) {
        bits_ &= ~bit(e);
        return *this;
    }
    constexpr SetOf operator+(SetOf o) const { return FromMask(bits_ | o.bits_); }
    constexpr SetOf operator-(SetOf o) const { return FromMask(bits_ & ~o.bits_); }
    constexpr SetOf operator*(SetOf o) const { return FromMask(bits_ & o.bits_); }
    constexpr bool operator==(const SetOf&) const = default;

    constexpr std::uint64_t Mask() const { return bits_; }
    static constexpr SetOf FromMask(std::uint64_t m) {
        SetOf s;
        s.bits_ = m;
        return s;
    }

private:
    static constexpr std::uint64_t bit(E e) {
        return std::uint64_t{1} << (static_cast<unsigned>(e) & 63u);
    }
    std::uint64_t bits_ = 0;
};
