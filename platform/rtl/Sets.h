// Small sets of enumeration values, the class library's "set of" types (TComponentState,
// TShiftState, display options...). An element is one bit, so element values must lie in 0..63;
// anything outside that range is never a member and is ignored when included.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

template <class E>
class TSet {
  static_assert(std::is_enum_v<E>, "TSet holds enumeration values");

 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> Elements) {
    for (E e : Elements) Include(e);
  }

  static constexpr TSet FromBits(std::uint64_t Bits) {
    TSet s;
    s.FBits = Bits;
    return s;
  }
  constexpr std::uint64_t Bits() const { return FBits; }

  // The set's "in".
  constexpr bool Contains(E Element) const {
    const auto n = static_cast<std::uint64_t>(Element);
    return n < 64 && (FBits >> n & 1u) != 0;
  }
  constexpr bool Empty() const { return FBits == 0; }

  constexpr TSet& Include(E Element) {
    const auto n = static_cast<std::uint64_t>(Element);
    if (n < 64) FBits |= std::uint64_t{1} << n;
    return *this;
  }
  constexpr TSet& Exclude(E Element) {
    const auto n = static_cast<std::uint64_t>(Element);
    if (n < 64) FBits &= ~(std::uint64_t{1} << n);
    return *this;
  }

  // Union, difference and intersection, as the language's +, - and *.
  constexpr TSet operator+(TSet Other) const { return FromBits(FBits | Other.FBits); }
  constexpr TSet operator-(TSet Other) const { return FromBits(FBits & ~Other.FBits); }
  constexpr TSet operator*(TSet Other) const { return FromBits(FBits & Other.FBits); }
  constexpr TSet& operator+=(TSet Other) { return *this = *this + Other; }
  constexpr TSet& operator-=(TSet Other) { return *this = *this - Other; }
  constexpr TSet& operator*=(TSet Other) { return *this = *this * Other; }
  // True when every member of this set is in Other.
  constexpr bool SubsetOf(TSet Other) const { return (FBits & ~Other.FBits) == 0; }

  friend constexpr bool operator==(TSet a, TSet b) { return a.FBits == b.FBits; }

 private:
  std::uint64_t FBits = 0;
};
