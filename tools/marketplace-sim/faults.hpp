#pragma once
// Fault injection. Each request gets its own decision from the seed, the request (host and
// target) and how many times that request came before, so a run gives the same faults
// whatever the thread interleaving, and a retry of the same address draws afresh.

#include <cstdint>
#include <string_view>

namespace vq::sim {

enum class Fault { None, Error, Empty, Malformed, Reset, Hang, Huge };

// Chances from 0 to 1. When they add up to more than 1, the kinds tried first win.
struct FaultRates {
    double error = 0, empty = 0, malformed = 0, reset = 0, hang = 0, huge = 0;
};

// Kinds are tried in the order hang, reset, huge, malformed, empty, error.
Fault decide_fault(const FaultRates& rates, std::uint64_t seed, std::string_view request,
                   std::uint64_t occurrence);

// A second, independent draw for the same request, for choices within a fault.
std::uint64_t fault_detail(std::uint64_t seed, std::string_view request, std::uint64_t occurrence);

// "error", "empty", ... ("none" for None).
std::string_view fault_name(Fault f);

}  // namespace vq::sim
