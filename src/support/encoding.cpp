#include "support/encoding.hpp"

#include <iconv.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>

namespace vq {
namespace {

constexpr char32_t kQuestion = U'?';

std::string_view up_to_nul(std::string_view text) {
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// GBK <-> Unicode tables, filled once from iconv. Converting through tables (with an
// ASCII fast path) is many times faster than calling iconv over whole answers, and gives
// the same characters, including "?" for what GBK cannot hold.
class GbkTables {
public:
    static const GbkTables* get() {
        static const std::unique_ptr<GbkTables> tables = build();
        return tables.get();
    }

    // Code point of a double-byte character, 0 when the pair is not a GBK character.
    char16_t decode_pair(unsigned char lead, unsigned char trail) const {
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return 0;
        return pairs_[(lead - 0x81) * 191 + (trail - 0x40)];
    }
    char16_t decode_single(unsigned char b) const { return b < 0x80 ? b : high_single_[b - 0x80]; }

    // GBK code for a BMP code point: < 0x100 one byte, otherwise lead << 8 | trail;
    // 0 when GBK cannot hold it (U+0000 is handled by callers).
    std::uint16_t encode(char32_t cp) const { return cp < 0x10000 ? to_gbk_[cp] : 0; }

private:
    static std::unique_ptr<GbkTables> build() {
        iconv_t dec = iconv_open("UTF-16LE", "GBK");
        iconv_t enc = iconv_open("GBK", "UTF-16LE");
        if (dec == reinterpret_cast<iconv_t>(-1) || enc == reinterpret_cast<iconv_t>(-1)) {
            if (dec != reinterpret_cast<iconv_t>(-1)) iconv_close(dec);
            if (enc != reinterpret_cast<iconv_t>(-1)) iconv_close(enc);
            return nullptr;
        }
        auto t = std::make_unique<GbkTables>();
        auto convert = [](iconv_t cd, const char* in, std::size_t in_len, char* out,
                          std::size_t out_cap) -> std::size_t {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            char* ip = const_cast<char*>(in);
            char* op = out;
            std::size_t il = in_len, ol = out_cap;
            if (iconv(cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0) return 0;
            return out_cap - ol;
        };
        char out[8];
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char in[1] = {static_cast<char>(b)};
            t->high_single_[b - 0x80] =
                convert(dec, in, 1, out, sizeof out) == 2
                    ? static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                            static_cast<unsigned char>(out[1]) << 8)
                    : 0;
        }
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                char16_t cu = 0;
                if (trail != 0x7F && convert(dec, in, 2, out, sizeof out) == 2) {
                    cu = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                               static_cast<unsigned char>(out[1]) << 8);
                }
                t->pairs_[(lead - 0x81) * 191 + (trail - 0x40)] = cu;
            }
        }
        for (char32_t cp = 0x80; cp < 0x10000; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF) continue;
            const char in[2] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8)};
            const std::size_t n = convert(enc, in, 2, out, sizeof out);
            if (n == 1) {
                t->to_gbk_[cp] = static_cast<unsigned char>(out[0]);
            } else if (n == 2) {
                t->to_gbk_[cp] = static_cast<std::uint16_t>(
                    static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]));
            }
        }
        for (char32_t cp = 0; cp < 0x80; ++cp) t->to_gbk_[cp] = static_cast<std::uint16_t>(cp);
        iconv_close(dec);
        iconv_close(enc);
        return t;
    }

    std::array<char16_t, 126 * 191> pairs_{};
    std::array<char16_t, 128> high_single_{};
    std::array<std::uint16_t, 0x10000> to_gbk_{};
};

// Length of the run of ASCII bytes at the start of s.
std::size_t ascii_run(const unsigned char* s, std::size_t n) {
    std::size_t i = 0;
    while (i + 8 <= n) {
        std::uint64_t w;
        __builtin_memcpy(&w, s + i, 8);
        if (w & 0x8080808080808080ULL) break;
        i += 8;
    }
    while (i < n && s[i] < 0x80) ++i;
    return i;
}

void append_gbk(std::string& out, const GbkTables& t, char32_t cp) {
    const std::uint16_t code = cp == 0 ? 0 : t.encode(cp);
    if (code == 0 && cp != 0) {
        out.push_back('?');
    } else if (code < 0x100) {
        out.push_back(static_cast<char>(code));
    } else {
        out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
    }
}

// Decodes the GBK text character by character; calls emit(code point) for each.
template <typename Emit>
void decode_gbk(std::string_view gbk, const GbkTables& t, Emit&& emit) {
    const auto* s = reinterpret_cast<const unsigned char*>(gbk.data());
    const std::size_t n = gbk.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            emit(static_cast<char32_t>(b));
            ++i;
        } else if (b >= 0x81 && b <= 0xFE && i + 1 < n) {
            const char16_t cu = t.decode_pair(b, s[i + 1]);
            if (cu != 0) {
                emit(static_cast<char32_t>(cu));
                i += 2;
            } else {
                // Not a character: the lead byte alone becomes "?", the next byte is read anew.
                emit(kQuestion);
                ++i;
            }
        } else {
            const char16_t cu = t.decode_single(b);
            emit(cu != 0 ? static_cast<char32_t>(cu) : kQuestion);
            ++i;
        }
    }
}

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
    const GbkTables* t = GbkTables::get();
    if (t == nullptr) return {};
    utf8 = up_to_nul(utf8);
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::string out;
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        const std::size_t run = ascii_run(s + i, n - i);
        out.append(utf8.data() + i, run);
        i += run;
        if (i >= n) break;
        const unsigned char b = s[i];
        // Expected length and lowest valid second byte range of the sequence.
        std::size_t len = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        }
        if (len == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        // Consume the longest valid prefix; an incomplete one is one "?".
        std::size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            const unsigned char c = s[i + k];
            const unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
            if (c < min || c > max) break;
            cp = cp << 6 | (c & 0x3F);
        }
        if (k < len) {
            out.push_back('?');
            i += k;
            continue;
        }
        append_gbk(out, *t, cp);
        i += len;
    }
    return out;
}

std::string gbk_to_utf16le(std::string_view gbk) {
    const GbkTables* t = GbkTables::get();
    if (t == nullptr) return std::string(2, '\0');
    gbk = up_to_nul(gbk);
    std::string out;
    out.reserve(gbk.size() * 2 + 2);
    decode_gbk(gbk, *t, [&out](char32_t cp) {
        out.push_back(static_cast<char>(cp & 0xFF));
        out.push_back(static_cast<char>((cp >> 8) & 0xFF));
    });
    out.append(2, '\0');
    return out;
}

std::string gbk_to_utf8(std::string_view gbk) {
    const GbkTables* t = GbkTables::get();
    if (t == nullptr) return {};
    gbk = up_to_nul(gbk);
    std::string out;
    out.reserve(gbk.size() + gbk.size() / 2);
    decode_gbk(gbk, *t, [&out](char32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | cp >> 6));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | cp >> 12));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    });
    return out;
}

std::u32string gbk_to_utf32(std::string_view gbk) {
    const GbkTables* t = GbkTables::get();
    if (t == nullptr) return {};
    gbk = up_to_nul(gbk);
    std::u32string out;
    out.reserve(gbk.size());
    decode_gbk(gbk, *t, [&out](char32_t cp) { out.push_back(cp); });
    return out;
}

std::string utf32_to_gbk(std::u32string_view text) {
    const GbkTables* t = GbkTables::get();
    if (t == nullptr) return {};
    std::string out;
    out.reserve(text.size() * 2);
    for (char32_t cp : text) {
        if (cp == 0) break;
        append_gbk(out, *t, cp);
    }
    return out;
}

std::string utf16le_to_gbk(std::string_view utf16) {
    const auto unit = [utf16](std::size_t i) -> char32_t {
        return static_cast<unsigned char>(utf16[i]) |
               static_cast<char32_t>(static_cast<unsigned char>(utf16[i + 1])) << 8;
    };
    std::u32string points;
    points.reserve(utf16.size() / 2);
    std::size_t i = 0;
    for (; i + 1 < utf16.size(); i += 2) {
        char32_t c = unit(i);
        if (c == 0) return utf32_to_gbk(points);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < utf16.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kQuestion;
        }
        points.push_back(c);
    }
    if (i < utf16.size()) points.push_back(kQuestion);
    return utf32_to_gbk(points);
}

std::size_t first_invalid_gbk(std::string_view gbk) {
    const GbkTables* t = GbkTables::get();
    const auto* s = reinterpret_cast<const unsigned char*>(gbk.data());
    const std::size_t n = gbk.size();
    for (std::size_t i = 0; i < n;) {
        i += ascii_run(s + i, n - i);
        if (i >= n) break;
        const unsigned char b = s[i];
        if (t && t->decode_single(b) != 0) {
            ++i;
        } else if (t && b >= 0x81 && b <= 0xFE && i + 1 < n && t->decode_pair(b, s[i + 1]) != 0) {
            i += 2;
        } else {
            return i;
        }
    }
    return std::string_view::npos;
}

bool is_valid_utf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t c = 0, least = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2, c = b & 0x1F, least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, c = b & 0x0F, least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, c = b & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (i + length > n) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

std::size_t first_invalid_utf16le(std::string_view utf16) {
    const auto unit = [utf16](std::size_t i) -> char32_t {
        return static_cast<unsigned char>(utf16[i]) |
               static_cast<char32_t>(static_cast<unsigned char>(utf16[i + 1])) << 8;
    };
    std::size_t i = 0;
    for (; i + 1 < utf16.size(); i += 2) {
        const char32_t c = unit(i);
        if (c < 0xD800 || c > 0xDFFF) continue;
        if (c <= 0xDBFF && i + 3 < utf16.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            i += 2;
            continue;
        }
        return i;
    }
    return i < utf16.size() ? i : std::string_view::npos;
}

std::string md5_text(std::string_view text, bool short_form) {
    text = up_to_nul(text);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr) != 1 || len != 16) {
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex(32, '0');
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = kHex[digest[i] >> 4];
        hex[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    return short_form ? hex.substr(8, 16) : hex;
}

}  // namespace vq
