#include "marketplace-sim/faults.hpp"

#include <utility>

#include "marketplace-sim/prng.hpp"

namespace vq::sim {

Fault decide_fault(const FaultRates& rates, std::uint64_t seed, std::string_view request,
                   std::uint64_t occurrence) {
    const double u = unit_interval(mix64(hash_bytes(request, seed) ^ mix64(occurrence)));
    const std::pair<double, Fault> order[] = {
        {rates.hang, Fault::Hang},   {rates.reset, Fault::Reset},
        {rates.huge, Fault::Huge},   {rates.malformed, Fault::Malformed},
        {rates.empty, Fault::Empty}, {rates.error, Fault::Error},
    };
    double edge = 0;
    for (const auto& [rate, fault] : order) {
        edge += rate;
        if (rate > 0 && u < edge) return fault;
    }
    return Fault::None;
}

std::uint64_t fault_detail(std::uint64_t seed, std::string_view request, std::uint64_t occurrence) {
    return mix64(hash_bytes(request, ~seed) + occurrence);
}

std::string_view fault_name(Fault f) {
    switch (f) {
        case Fault::None:
            return "none";
        case Fault::Error:
            return "error";
        case Fault::Empty:
            return "empty";
        case Fault::Malformed:
            return "malformed";
        case Fault::Reset:
            return "reset";
        case Fault::Hang:
            return "hang";
        case Fault::Huge:
            return "huge";
    }
    return "none";
}

}  // namespace vq::sim
