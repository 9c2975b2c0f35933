// A number that remembers whether it was given as an integer or a real, so
// that logs print 100 for the one and 270.0 for the other.
#pragma once

#include <string>
#include <variant>

namespace ai_players {

class Number {
 public:
  constexpr Number(int v) : v_(static_cast<long long>(v)) {}
  constexpr Number(long long v) : v_(v) {}
  constexpr Number(double v) : v_(v) {}

  constexpr double value() const {
    return std::holds_alternative<long long>(v_) ? static_cast<double>(std::get<long long>(v_))
                                                 : std::get<double>(v_);
  }
  constexpr bool is_integer() const { return std::holds_alternative<long long>(v_); }
  std::string text() const;

  friend constexpr bool operator==(const Number& a, const Number& b) { return a.value() == b.value(); }
  friend constexpr auto operator<=>(const Number& a, const Number& b) { return a.value() <=> b.value(); }

 private:
  std::variant<long long, double> v_;
};

}  // namespace ai_players
