#pragma once
// What the fuzz targets share: a check that stops the run with the input kept, and a
// cursor that splits one input into the pieces a target needs.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                       \
    do {                                                                            \
        if (!(condition)) {                                                         \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                           \
        }                                                                           \
    } while (false)

namespace fuzz {

// Takes pieces off the front of an input: single bytes for choices, and texts up to a
// separator byte.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    unsigned char byte() {
        if (rest_.empty()) return 0;
        const auto b = static_cast<unsigned char>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    // Up to the next 0x1F (taken away), or the rest.
    std::string_view text() {
        const std::size_t at = rest_.find('\x1F');
        const std::string_view piece = rest_.substr(0, at);
        rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
        return piece;
    }
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
};

}  // namespace fuzz
