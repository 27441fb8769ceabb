#include "support/xml_document.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/gbk_literal.hpp"

using namespace vq;

namespace {

using Lookups = std::vector<std::pair<std::string, std::string>>;  // path -> node_text

struct LoadCase {
    const char* label;
    std::string document;
    bool loads;
    Lookups lookups;
};

TEST(XmlDocumentLoad, DocumentsAndValues) {
    const LoadCase cases[] = {
        {"blank value emptied",
         "<a>\r\n  <b>x</b>\r\n</a>",
         true,
         {{"a/b", "x"}, {"a", ""}, {"@1/@1", "x"}, {"@1/@2", ""}}},
        {"value not trimmed", "<a> x </a>", true, {{"a", " x "}}},
        {"text before a child", "<a>1<b>x</b></a>", true, {{"a", "1"}, {"a/b", "x"}}},
        {"text after a child is dropped", "<a>x<b/>y</a>", true, {{"a", "x"}}},
        {"text after end tag joins its name", "<a>1<b>x</b>3</a>", false, {}},
        {"entities kept in text", "<a>x &gt; y</a>", true, {{"a", "x &gt; y"}}},
        {"tag ends at the last >", "<a>x > y</a>", false, {}},
        {"digit-only names", "<k><3216><v>9</v></3216></k>", true, {{"k/3216/v", "9"}}},
        {"declaration, comment, doctype skipped",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE a>\n<!-- note -->\n<a>x</a>\n",
         true,
         {{"a", "x"}}},
        {"blanks and text around end tag name",
         "<a><b>x</ b \r\n>\t</a >\r\n",
         true,
         {{"a/b", "x"}}},
        {"empty element with a blank before /",
         "<r><i /><j/></r>",
         true,
         {{"r/i", ""}, {"r/@2", ""}}},
        {"unclosed elements dropped, last completed is root",
         "<a><b>1</b>",
         true,
         {{"b", "1"}, {"a", ""}, {"a/b", ""}}},
        {"several top-level elements", "<a>1</a><b>2</b>", true, {{"b", "2"}, {"a", ""}}},
        {"read up to the first NUL", std::string("<a>x</a>\0<b>", 12), true, {{"a", "x"}}},
        {"empty input", "", true, {{"a", ""}, {"@1", ""}}},
        {"no elements", " \r\n\t<?xml version=\"1.0\"?>", true, {{"@1", ""}}},
        {"piece without >", "<r><a</r>", false, {}},
        {"mismatched end tag", "<a>x</b>", false, {}},
        {"case matters in end tag", "<a>x</A>", false, {}},
        {"end tag with nothing open", "</a>", false, {}},
        {"end tag also marked empty", "<a>x</a/>", false, {}},
        {"end tag that is just a slash", "<a></>", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        XmlDocument doc;
        EXPECT_EQ(doc.load_bytes(c.document), c.loads);
        for (const auto& [path, text] : c.lookups) EXPECT_EQ(doc.node_text(path), text) << path;
        if (!c.loads) {
            bool found = true;
            EXPECT_EQ(doc.child_count("@1", &found), 0);
            EXPECT_FALSE(found);
        }
    }
}

TEST(XmlDocumentPath, Resolution) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load_bytes("<r><s><x>1</x></s><s><x>2</x><y>3</y><x>5</x></s><t>4</t></r>"));
    struct Case {
        const char* path;
        bool found;
        const char* text;
    } cases[] = {
        {"r/t", true, "4"},
        {"@1/@3", true, "4"},
        {"@01/@03", true, "4"},
        {"r/s/x", true, "1"},  // first element of that name at every step
        {"r/@2/x", true, "2"},
        {"r/@2/@3", true, "5"},
        {"r/t/", true, "4"},
        {"r/", true, ""},
        {"r/@", false, ""},
        {"r/@0", false, ""},
        {"r/@4", false, ""},
        {"r/@-1", false, ""},
        {"r/@99999999999999999999", false, ""},
        {"@2", false, ""},
        {"@", false, ""},
        {"t", false, ""},  // first segment must name the root even if a deeper t exists
        {"R/t", false, ""},
        {"/r/t", false, ""},
        {"r//t", false, ""},
        {"r/t//", false, ""},
        {"/", false, ""},
        {"", false, ""},
        {"r/s/y", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        bool found = !c.found;
        doc.child_count(c.path, &found);
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(doc.node_text(c.path), c.text);
    }
    EXPECT_EQ(doc.child_count("r"), 3);
    EXPECT_EQ(doc.child_count("r/@2"), 3);
    EXPECT_EQ(doc.child_count("r/t"), 0);

    std::vector<std::string> names{"stale"};
    EXPECT_TRUE(doc.child_names("r/@2", names));
    EXPECT_EQ(names, (std::vector<std::string>{"x", "y", "x"}));
    EXPECT_FALSE(doc.child_names("r/zz", names));
    EXPECT_TRUE(names.empty());
}

TEST(XmlDocumentAttributes, NamesPositionsAndEntities) {
    XmlDocument doc;
    ASSERT_TRUE(
        doc.load_bytes("<r><i a=\"1\" b=\"x &amp; y\"/>"
                       "<j  p = \"1\"\r\n q\t=\t\"2 = 3\" flag s='one' t=\"two words\" "
                       "u=\"&lt;&gt;&amp;&apos;&quot;"
                       "&amp;lt;&copy;&\">v</j></r>"));
    EXPECT_EQ(doc.child_count("@1"), 2);
    struct Case {
        const char* path;
        const char* name;
        const char* expected;
    } cases[] = {
        {"@1/@1", "b", "x & y"},
        {"@1/@1", "@1", "1"},
        {"@1/@1", "@2", "x & y"},
        {"@1/@1", "@3", ""},
        {"@1/@1", "@0", ""},
        {"@1/@1", "@", ""},
        {"@1/@1", "B", ""},
        {"@1/@9", "a", ""},
        // Blanks next to "=" go everywhere in the tag, inside quotes too.
        {"r/j", "p", "1"},
        {"r/j", "q", "2=3"},
        {"r/j", "@3", ""},  // a bare word is an attribute with an empty value
        {"r/j", "s", "one"},
        {"r/j", "t", "two words"},
        {"r/j", "@5", "two words"},
        // One left-to-right pass; unknown sequences and a lone "&" stay.
        {"r/j", "u", "<>&'\"&lt;&copy;&"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(doc.attribute_text(c.path, c.name), c.expected) << c.path << " " << c.name;
    }
    EXPECT_EQ(doc.node_text("r/j"), "v");
}

TEST(XmlDocumentCdata, SectionsReplaceTheValue) {
    const LoadCase cases[] = {
        {"markup inside untouched", "<a><![CDATA[<p>hi</p>]]></a>", true, {{"a", "<p>hi</p>"}}},
        {"text around the section dropped", "<a>pre<![CDATA[x]]>post</a>", true, {{"a", "x"}}},
        {"brackets inside",
         "<a><![CDATA[a]]b]>c<![CDATA[]]></a>",
         true,
         {{"a", "a]]b]>c<![CDATA["}}},
        {"placeholder-like text is kept",
         "<r><a>@QWERT,1.</a><b><![CDATA[y]]></b></r>",
         true,
         {{"r/a", "@QWERT,1."}, {"r/b", "y"}}},
        {"unterminated section left as is",
         "<r><a><![CDATA[1]]></a><b><![CDATA[2</b></r>",
         true,
         {{"r/a", "1"}, {"r/b", ""}}},
        {"section inside an attribute", "<a k=\"<![CDATA[v]]>\">t</a>", true, {{"a", "t"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        XmlDocument doc;
        EXPECT_EQ(doc.load_bytes(c.document), c.loads);
        for (const auto& [path, text] : c.lookups) EXPECT_EQ(doc.node_text(path), text) << path;
    }
}

TEST(XmlDocumentCdata, ManySectionsKeepTheirNumbers) {
    // Numbers 10 and up share their first digit with 1: each must find its own section.
    std::string xml = "<r>";
    for (int i = 1; i <= 12; ++i) xml += "<v><![CDATA[s" + std::to_string(i) + " <&>]]></v>";
    xml += "</r>";
    XmlDocument doc;
    ASSERT_TRUE(doc.load_bytes(xml));
    ASSERT_EQ(doc.child_count("r"), 12);
    for (int i = 1; i <= 12; ++i) {
        EXPECT_EQ(doc.node_text("r/@" + std::to_string(i)), "s" + std::to_string(i) + " <&>");
    }
}

TEST(XmlDocumentEncoding, Utf8DeclarationConvertsToGbk) {
    const std::string body = "<a t=\"标签\">中文</a>";  // UTF-8 source bytes
    struct Case {
        const char* declaration;
        bool converted;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?>", true},
        {"<?xml version=\"1.0\" ENCODING=\"UTF-8\"?>", true},
        {"<?xml version=\"1.0\" encoding = \" utf-8 \" ?>", true},
        {"", false},
        {"<?xml version=\"1.0\" encoding='utf-8'?>", false},
        {"<?xml version=\"1.0\" encoding=\"gb2312\"?>", false},
        {"<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>", false},
        {"<b encoding=\"utf-8\"/>", false},  // no "?>" after the word; a is still the root
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.declaration);
        XmlDocument doc;
        ASSERT_TRUE(doc.load_bytes(std::string(c.declaration) + body));
        EXPECT_EQ(doc.node_text("a"), c.converted ? "中文"_gbk : std::string("中文"));
        EXPECT_EQ(doc.attribute_text("a", "t"), c.converted ? "标签"_gbk : std::string("标签"));
    }
}

TEST(XmlDocumentEdit, RemoveNode) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load_bytes("<r><s><x>1</x></s><s><x>2</x><y>3</y></s></r>"));
    EXPECT_EQ(doc.child_count("r"), 2);
    EXPECT_TRUE(doc.remove_node("r/@1"));
    EXPECT_EQ(doc.node_text("r/s/x"), "2");
    EXPECT_EQ(doc.child_count("r"), 1);
    EXPECT_FALSE(doc.remove_node("r/@2"));

    // Deeper removal: later siblings move up.
    EXPECT_TRUE(doc.remove_node("r/s/x"));
    EXPECT_EQ(doc.node_text("r/s/@1"), "3");
    EXPECT_EQ(doc.child_count("r/s"), 1);

    EXPECT_TRUE(doc.remove_node("r"));
    EXPECT_TRUE(doc.remove_node("@1"));
    EXPECT_EQ(doc.child_count("r"), 1);
    EXPECT_FALSE(doc.remove_node("r/zz"));
    EXPECT_FALSE(doc.remove_node(""));
}

TEST(XmlDocumentLifecycle, ReloadClearAndNeverLoaded) {
    XmlDocument doc;
    bool found = true;
    EXPECT_EQ(doc.child_count("@1", &found), 0);
    EXPECT_FALSE(found);
    EXPECT_FALSE(doc.remove_node("@1"));

    ASSERT_TRUE(doc.load_bytes("<a k=\"v\"><b>1</b></a>"));
    ASSERT_TRUE(doc.load_bytes("<c><d>2</d></c>"));
    EXPECT_EQ(doc.node_text("a/b"), "");
    EXPECT_EQ(doc.attribute_text("@1", "k"), "");
    EXPECT_EQ(doc.node_text("@1/@1"), "2");
    EXPECT_EQ(doc.child_count("c"), 1);

    // A failed load leaves nothing of the previous document.
    EXPECT_FALSE(doc.load_bytes("<c><d>2</d></x>"));
    EXPECT_EQ(doc.node_text("c/d"), "");
    std::vector<std::string> names;
    EXPECT_FALSE(doc.child_names("c", names));

    ASSERT_TRUE(doc.load_bytes("<c><d>2</d></c>"));
    doc.clear();
    EXPECT_EQ(doc.node_text("c/d"), "");
    EXPECT_EQ(doc.child_count("c"), 0);
}

TEST(XmlDocumentLifecycle, DeepNestingNeedsNoStack) {
    constexpr int kDepth = 100000;
    std::string xml;
    for (int i = 0; i < kDepth; ++i) xml += "<e>";
    xml += "x";
    for (int i = 0; i < kDepth; ++i) xml += "</e>";

    std::string path = "e";
    for (int i = 1; i < kDepth; ++i) path += "/@1";

    XmlDocument doc;
    ASSERT_TRUE(doc.load_bytes(xml));
    EXPECT_EQ(doc.node_text(path), "x");
    EXPECT_TRUE(doc.remove_node(path));
    EXPECT_EQ(doc.node_text(path), "");

    // Never closed: all dropped, nothing to find.
    ASSERT_TRUE(doc.load_bytes(xml.substr(0, xml.find('x') + 1)));
    EXPECT_EQ(doc.child_count("e"), 0);
}

}  // namespace
