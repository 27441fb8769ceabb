#include "support/xml_document.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "support/encoding.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";

// Spans are 32-bit and the buffer can grow to a few times the input while loading.
constexpr std::size_t kMaxInput = std::size_t{1} << 30;

constexpr bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool all_blank(const char* first, const char* last) {
    for (; first != last; ++first) {
        if (!is_blank(*first)) return false;
    }
    return true;
}

// Digits only, at least one; huge values saturate (they are out of range anyway).
// -1 when s is not a number.
long long parse_count(std::string_view s) {
    if (s.empty()) return -1;
    long long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        if (n < 1'000'000'000'000LL) n = n * 10 + (c - '0');
    }
    return n;
}

// The number N of an "@N" segment or attribute name, -1 when it is not of that form.
long long position_of(std::string_view s) {
    if (s.size() < 2 || s[0] != '@') return -1;
    return parse_count(s.substr(1));
}

// Placeholders must not be confused with text the document already holds.
std::string make_marker(std::string_view document) {
    std::minstd_rand generator(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> letter(0, 25);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string marker = "@";
        for (int i = 0; i < 5; ++i) marker += static_cast<char>('A' + letter(generator));
        if (document.find(marker) == npos) return marker;
    }
    return {};
}

bool needs_normalising(const char* tag, std::size_t size) {
    for (const char* eq = static_cast<const char*>(std::memchr(tag, '=', size)); eq != nullptr;) {
        const std::size_t i = static_cast<std::size_t>(eq - tag);
        if ((i > 0 && is_blank(tag[i - 1])) || (i + 1 < size && is_blank(tag[i + 1]))) return true;
        eq = static_cast<const char*>(std::memchr(eq + 1, '=', size - i - 1));
    }
    return false;
}

}  // namespace

bool xml_declares_utf8(std::string_view text) {
    const int at = find_text(text, "encoding", 1, true);
    if (at < 1) return false;
    const std::size_t from = static_cast<std::size_t>(at - 1) + 8;
    if (from > text.size()) return false;
    const std::size_t close = text.find("?>", from);
    if (close == npos) return false;
    std::string declared;
    for (char c : text.substr(from, close - from)) {
        if (c != '=' && c != '"') declared += c;
    }
    return to_lower_ascii(trim_blanks(declared)) == "utf-8";
}

bool XmlDocument::load_bytes(std::string_view bytes) {
    clear();
    const std::size_t nul = bytes.find('\0');
    const std::string_view text = bytes.substr(0, nul);
    if (text.size() > kMaxInput) return false;

    if (xml_declares_utf8(text)) {
        buffer_ = utf8_to_gbk(text);
    } else {
        buffer_.assign(text);
    }

    // CDATA sections are cut out first so that the "<" inside them do not split pieces.
    // The document keeps "marker,N." in their place; the contents follow it in buffer_.
    std::vector<Span> sections;
    std::string marker;
    std::size_t end = buffer_.size();
    std::size_t open = buffer_.find(kCdataOpen);
    if (open != npos) {
        marker = make_marker(buffer_);
        std::string document;
        document.reserve(buffer_.size() + 64);
        std::string contents;
        std::size_t copied = 0;
        while (open != npos) {
            const std::size_t first = open + kCdataOpen.size();
            const std::size_t close = buffer_.find(kCdataClose, first);
            if (close == npos) break;  // unterminated: the rest stays as it is
            document.append(buffer_, copied, open - copied);
            sections.push_back({static_cast<std::uint32_t>(contents.size()),
                                static_cast<std::uint32_t>(close - first)});
            contents.append(buffer_, first, close - first);
            document += marker;
            document += ',';
            document += std::to_string(sections.size());
            document += '.';
            copied = close + kCdataClose.size();
            open = buffer_.find(kCdataOpen, copied);
        }
        if (!sections.empty()) {
            document.append(buffer_, copied, npos);
            end = document.size();
            for (Span& s : sections) s.offset += static_cast<std::uint32_t>(end);
            document += contents;
            buffer_ = std::move(document);
        }
    }

    if (!cut(end, sections, marker)) {
        clear();
        return false;
    }
    return true;
}

bool XmlDocument::cut(std::size_t end, const std::vector<Span>& sections, std::string_view marker) {
    struct Open {
        Node node;
        std::uint32_t pendingStart;  // where its children begin in pending
    };
    std::vector<Open> stack;
    // Completed elements whose parent is still open, grouped by parent: each open element's
    // children form the tail starting at its pendingStart.
    std::vector<int> pending;
    nodes_.emplace_back();  // index 0 stays unused
    int lastCompleted = 0;

    std::string markerComma;
    if (!sections.empty()) {
        markerComma.assign(marker);
        markerComma += ',';
    }

    auto complete = [&](Node node, std::uint32_t pendingStart) {
        const int index = static_cast<int>(nodes_.size());
        node.firstChild = static_cast<std::uint32_t>(children_.size());
        node.childCount = static_cast<std::uint32_t>(pending.size() - pendingStart);
        for (std::size_t i = pendingStart; i < pending.size(); ++i) {
            children_.push_back(pending[i]);
            nodes_[pending[i]].parent = index;
        }
        pending.resize(pendingStart);
        const char* value = buffer_.data() + node.value.offset;
        if (all_blank(value, value + node.value.length)) node.value.length = 0;
        nodes_.push_back(node);
        pending.push_back(index);
        lastCompleted = index;
    };

    std::size_t begin = 0;  // start of the current piece; the first one precedes any "<"
    for (;;) {
        const char* d = buffer_.data();
        const void* lt = std::memchr(d + begin, '<', end - begin);
        const std::size_t pieceEnd =
            lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - d) : end;

        if (!all_blank(d + begin, d + pieceEnd) && d[begin] != '?' && d[begin] != '!') {
            std::size_t gt = pieceEnd;
            while (gt > begin && d[gt - 1] != '>') --gt;
            if (gt == begin) return false;  // no ">" in the piece
            --gt;

            if (d[begin] == '/') {
                if (d[gt - 1] == '/') return false;
                if (stack.empty()) return false;
                // The name is the whole piece without blanks, "/" and ">", so text after
                // the end tag joins it; compare in place.
                const std::string_view expected = view(stack.back().node.name);
                std::size_t matched = 0;
                for (std::size_t i = begin; i < pieceEnd; ++i) {
                    const char c = d[i];
                    if (is_blank(c) || c == '/' || c == '>') continue;
                    if (matched == expected.size() || expected[matched] != c) return false;
                    ++matched;
                }
                if (matched != expected.size()) return false;
                const Open top = stack.back();
                stack.pop_back();
                complete(top.node, top.pendingStart);
            } else if (gt > begin && d[gt - 1] == '/') {
                Node node;
                read_tag(begin, gt - 1, node);
                node.value = {static_cast<std::uint32_t>(begin), 0};
                complete(node, static_cast<std::uint32_t>(pending.size()));
            } else {
                Node node;
                read_tag(begin, gt, node);
                node.value = {static_cast<std::uint32_t>(gt + 1),
                              static_cast<std::uint32_t>(pieceEnd - gt - 1)};
                if (!sections.empty()) {
                    // A placeholder in the text stands for the whole value.
                    const std::string_view value = view(node.value);
                    const std::size_t at = value.find(markerComma);
                    if (at != npos) {
                        const std::size_t from = at + markerComma.size();
                        const std::size_t dot = value.find('.', from);
                        if (dot != npos) {
                            const long long n = parse_count(value.substr(from, dot - from));
                            if (n >= 1 && n <= static_cast<long long>(sections.size())) {
                                node.value = sections[static_cast<std::size_t>(n - 1)];
                            }
                        }
                    }
                }
                stack.push_back({node, static_cast<std::uint32_t>(pending.size())});
            }
        }

        if (!lt) break;
        begin = pieceEnd + 1;
    }

    // Elements still open are dropped; the last completed one is the root.
    root_ = lastCompleted;
    return true;
}

void XmlDocument::read_tag(std::size_t begin, std::size_t end, Node& node) {
    if (needs_normalising(buffer_.data() + begin, end - begin)) {
        // Blanks around "=" go; the normalised copy lives at the end of the buffer.
        buffer_.reserve(buffer_.size() + (end - begin));
        const char* d = buffer_.data();
        const std::size_t base = buffer_.size();
        for (std::size_t i = begin; i < end;) {
            if (!is_blank(d[i])) {
                buffer_.push_back(d[i++]);
                continue;
            }
            std::size_t j = i;
            while (j < end && is_blank(d[j])) ++j;
            const bool nextToEquals = (i > begin && d[i - 1] == '=') || (j < end && d[j] == '=');
            if (!nextToEquals) buffer_.append(d + i, j - i);
            i = j;
        }
        begin = base;
        end = buffer_.size();
    }

    const char* d = buffer_.data();
    node.firstAttribute = static_cast<std::uint32_t>(attributes_.size());
    bool first = true;
    for (std::size_t i = begin; i < end;) {
        while (i < end && is_blank(d[i])) ++i;
        if (i == end) break;
        const std::size_t start = i;
        bool quoted = false;
        for (; i < end && (quoted || !is_blank(d[i])); ++i) {
            if (d[i] == '"') quoted = !quoted;
        }
        const auto span = [](std::size_t from, std::size_t to) {
            return Span{static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to - from)};
        };
        if (first) {
            node.name = span(start, i);
            first = false;
            continue;
        }
        const void* eq = std::memchr(d + start, '=', i - start);
        if (!eq) {
            attributes_.push_back({span(start, i), span(i, i)});
            continue;
        }
        const std::size_t equals = static_cast<std::size_t>(static_cast<const char*>(eq) - d);
        std::size_t valueBegin = equals + 1;
        std::size_t valueEnd = i;
        if (valueEnd - valueBegin >= 2 && (d[valueBegin] == '"' || d[valueBegin] == '\'') &&
            d[valueEnd - 1] == d[valueBegin]) {
            ++valueBegin;
            --valueEnd;
        }
        attributes_.push_back({span(start, equals), span(valueBegin, valueEnd)});
    }
    node.attributeCount = static_cast<std::uint32_t>(attributes_.size()) - node.firstAttribute;
}

int XmlDocument::resolve(std::string_view path) const {
    if (root_ == 0 || path.empty()) return 0;
    int current = 0;
    std::size_t i = 0;
    while (i < path.size()) {  // a trailing slash leaves i at the end: no extra segment
        const std::size_t slash = path.find('/', i);
        const std::string_view segment = path.substr(i, slash == npos ? npos : slash - i);
        i = slash == npos ? path.size() : slash + 1;
        if (segment.empty()) return 0;

        if (current == 0) {
            if (segment != view(nodes_[root_].name) && position_of(segment) != 1) return 0;
            current = root_;
            continue;
        }
        const Node& node = nodes_[current];
        const int* children = children_.data() + node.firstChild;
        if (const long long n = position_of(segment); n >= 0 || segment == "@") {
            if (n < 1 || n > static_cast<long long>(node.childCount)) return 0;
            current = children[n - 1];
            continue;
        }
        int found = 0;
        for (std::uint32_t k = 0; k < node.childCount; ++k) {
            if (view(nodes_[children[k]].name) == segment) {
                found = children[k];
                break;
            }
        }
        if (found == 0) return 0;
        current = found;
    }
    return current;
}

std::string XmlDocument::node_text(std::string_view path) const {
    const int index = resolve(path);
    return index == 0 ? std::string() : std::string(view(nodes_[index].value));
}

int XmlDocument::child_count(std::string_view path, bool* found) const {
    const int index = resolve(path);
    if (found) *found = index != 0;
    return index == 0 ? 0 : static_cast<int>(nodes_[index].childCount);
}

bool XmlDocument::child_names(std::string_view path, std::vector<std::string>& names) const {
    names.clear();
    const int index = resolve(path);
    if (index == 0) return false;
    const Node& node = nodes_[index];
    names.reserve(node.childCount);
    for (std::uint32_t k = 0; k < node.childCount; ++k) {
        names.emplace_back(view(nodes_[children_[node.firstChild + k]].name));
    }
    return true;
}

bool XmlDocument::remove_node(std::string_view path) {
    const int index = resolve(path);
    if (index == 0) return false;
    if (index == root_) return true;
    // Detaching from the parent is enough: nothing else reaches the subtree.
    Node& parent = nodes_[nodes_[index].parent];
    const auto first = children_.begin() + parent.firstChild;
    const auto last = first + parent.childCount;
    const auto at = std::find(first, last, index);
    std::move(at + 1, last, at);
    --parent.childCount;
    nodes_[index].parent = 0;
    return true;
}

std::string XmlDocument::attribute_text(std::string_view path, std::string_view name) const {
    const int index = resolve(path);
    if (index == 0) return {};
    const Node& node = nodes_[index];
    const Attribute* attributes = attributes_.data() + node.firstAttribute;
    const Attribute* chosen = nullptr;
    if (const long long n = position_of(name); n >= 1) {
        if (n <= static_cast<long long>(node.attributeCount)) chosen = &attributes[n - 1];
    } else {
        for (std::uint32_t k = 0; k < node.attributeCount; ++k) {
            if (view(attributes[k].name) == name) {
                chosen = &attributes[k];
                break;
            }
        }
    }
    if (!chosen) return {};

    return decode_xml_entities(view(chosen->value));
}

std::string decode_xml_entities(std::string_view value) {
    static constexpr struct {
        std::string_view entity;
        char character;
    } kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
    if (value.find('&') == std::string_view::npos) return std::string(value);
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        if (value[i] == '&') {
            bool replaced = false;
            for (const auto& e : kEntities) {
                if (value.substr(i, e.entity.size()) == e.entity) {
                    decoded += e.character;
                    i += e.entity.size();
                    replaced = true;
                    break;
                }
            }
            if (replaced) continue;
        }
        decoded += value[i++];
    }
    return decoded;
}

void XmlDocument::clear() {
    buffer_.clear();
    nodes_.clear();
    attributes_.clear();
    children_.clear();
    root_ = 0;
}

}  // namespace vq
