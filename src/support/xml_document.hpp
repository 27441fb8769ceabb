#pragma once
// A small, forgiving XML reader for the marketplace's answers and the configuration
// document. Not validating: it cuts the text at every "<", keeps a table of elements and
// answers lookups by slash paths whose segments are element names or 1-based positions
// ("@N"). Values come back as raw GBK text; entities in element text are not decoded.
// One thread at a time; nothing here recurses on input depth.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vq {

// True when the text's XML declaration names encoding="utf-8" (any letter case): such a
// document is converted by load_bytes itself and must be handed over unconverted.
bool xml_declares_utf8(std::string_view text);

// The text with the XML entities &lt; &gt; &amp; &apos; &quot; decoded, in one pass, so
// "&amp;lt;" becomes "&lt;" and not "<".
std::string decode_xml_entities(std::string_view text);

class XmlDocument {
public:
    // Replaces whatever was loaded. Reads up to the first zero byte; a document that
    // declares encoding="utf-8" is converted to GBK first. True when the text was cut to
    // the end without a structural error (a piece without ">", a mismatched end tag, an
    // end tag also marked empty); on false the document is empty.
    bool load_bytes(std::string_view bytes);

    // The value of the element at the path; empty when the path does not resolve.
    std::string node_text(std::string_view path) const;

    // Number of child elements at the path; 0 (and found = false) when it does not resolve.
    int child_count(std::string_view path, bool* found = nullptr) const;

    // Names of the child elements at the path, in order; names is emptied first.
    // False when the path does not resolve.
    bool child_names(std::string_view path, std::vector<std::string>& names) const;

    // Detaches the element at the path (and its descendants) from its parent; later
    // siblings move up one position. The root is never removed. False when not found.
    bool remove_node(std::string_view path);

    // The attribute's value with &lt; &gt; &amp; &apos; &quot; decoded. The name "@N"
    // (N >= 1) selects the N-th attribute. Empty when the path or attribute is missing.
    std::string attribute_text(std::string_view path, std::string_view name) const;

    void clear();

private:
    // Pieces of text live in one buffer (the prepared document followed by anything made
    // while loading) and are addressed by offset, so loading allocates little per element.
    struct Span {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
    };
    struct Attribute {
        Span name;
        Span value;
    };
    struct Node {
        Span name;
        Span value;
        std::uint32_t firstAttribute = 0;
        std::uint32_t attributeCount = 0;
        std::uint32_t firstChild = 0;  // into children_
        std::uint32_t childCount = 0;
        int parent = 0;  // node index, 0 = none
    };

    std::string_view view(Span s) const {
        return std::string_view(buffer_).substr(s.offset, s.length);
    }
    int resolve(std::string_view path) const;  // node index, 0 = not found

    // Cuts buffer_[0, end) at every "<" and builds the node table; false on a structural
    // error. sections are the cut-out CDATA contents, reached through marker + ",N.".
    bool cut(std::size_t end, const std::vector<Span>& sections, std::string_view marker);
    // Reads a start tag (without its ">") into node's name and attributes.
    void read_tag(std::size_t begin, std::size_t end, Node& node);

    std::string buffer_;
    std::vector<Node> nodes_;  // nodes_[0] unused: indices are 1-based
    std::vector<Attribute> attributes_;
    std::vector<int> children_;
    int root_ = 0;
};

}  // namespace vq
