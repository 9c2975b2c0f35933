// Numbers as users type them, in flags, UCI options and the page (one
// reading for each kind, with the limits said as people write them), and
// counts as the texts say them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace ai_players::app {

// A whole number within [lo, hi]; UserError "Move Overhead must be a whole
// number between 0 and 5000, not 'x'" otherwise.
long long read_whole(const std::string& text, const std::string& what, long long lo, long long hi);

// Seconds (a decimal, "2.5") within [0, max_seconds]; 0 means no limit
// (none). NaN, infinities and times under a millisecond are refused.
std::optional<std::chrono::milliseconds> read_seconds(const std::string& text, const std::string& what,
                                                       double max_seconds);

// A seed: a whole number from 0 to 2^64-1.
std::uint64_t read_seed(const std::string& text, const std::string& what);

// "1 move", "3 moves"; `many` when the plural is not the word and an "s".
std::string counted(long long n, const std::string& one, const std::string& many = "");

// The seed given, or one drawn from the system.
std::uint64_t seed_or_random(const std::optional<std::uint64_t>& seed);

}  // namespace ai_players::app
