// Speed of the support layer on inputs shaped like the real ones: the XML reader against
// pugixml on the same offer answer, the two bulk conversions, and the listing patterns
// over whole shop pages.

#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <string>

#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"
#include "support/regex_matcher.hpp"
#include "support/xml_document.hpp"

using namespace vq;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// A UTF-8 offer answer of about 1 MiB: many small elements, Chinese values, one large
// CDATA description.
const std::string& offer_answer() {
    static const std::string doc = [] {
        std::string d =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rsp><Responses><Response><Result><result>"
            "<toReturn><subject>\xE5\xA5\xB3\xE8\xA3\x85\xE8\xBF\x9E\xE8\xA1\xA3\xE8\xA3\x99 2026"
            " &amp; "
            "spring</subject><amount>5000</amount><productUnitWeight>0.35</productUnitWeight>"
            "<retailPrice><amount>39.00</amount></retailPrice><amountOnSale>1200</amountOnSale>"
            "<unit>\xE4\xBB\xB6</unit><details><![CDATA[";
        for (int i = 0; d.size() < 200 * 1024; ++i) {
            d +=
                "<p style=\"text-align:center\"><img src=\"http://img.example.com/img/ibank/2026/" +
                std::to_string(i) + ".jpg\" /></p><p>\xE6\x8F\x8F\xE8\xBF\xB0 " +
                std::to_string(i) + "</p>";
        }
        d += "]]></details><productFeatureList>";
        int i = 0;
        while (d.size() < kMiB - 4096) {
            d += "<productFeature><fid>" + std::to_string(1000 + i) +
                 "</fid><name>\xE9\xA2\x9C\xE8\x89\xB2</name><value>\xE7\xBA\xA2\xE8\x89\xB2 " +
                 std::to_string(i) + "</value></productFeature>\n";
            d += "<skuArray><skuItem><attrValue>" + std::to_string(i) +
                 "</attrValue><price>12.5</price><amountOnSale>9</amountOnSale>"
                 "<specAttrs key=\"k" +
                 std::to_string(i) + "\" value=\"x &amp; y\"/></skuItem></skuArray>\n";
            ++i;
        }
        d += "</productFeatureList></toReturn></result></Result></Response></Responses></rsp>\n";
        return d;
    }();
    return doc;
}

void BM_XmlDocumentLoad(benchmark::State& state) {
    const std::string& doc = offer_answer();
    XmlDocument x;
    for (auto _ : state) {
        const bool ok = x.load_bytes(doc);
        benchmark::DoNotOptimize(ok);
        if (!ok) state.SkipWithError("load failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_XmlDocumentLoad)->Unit(benchmark::kMillisecond);

void BM_PugixmlLoad(benchmark::State& state) {
    const std::string& doc = offer_answer();
    for (auto _ : state) {
        pugi::xml_document x;
        const auto result = x.load_buffer(doc.data(), doc.size());
        benchmark::DoNotOptimize(result.status);
        if (!result) state.SkipWithError("pugixml load failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_PugixmlLoad)->Unit(benchmark::kMillisecond);

// 1 MiB of mixed text: runs of Chinese and of ASCII markup.
const std::string& mixed_utf8() {
    static const std::string text = [] {
        std::string t;
        const std::string zh =
            "\xE5\xAE\x9D\xE8\xB4\x9D\xE6\x89\xB9\xE5\x8F\x91\xE5\x8E\x82\xE5\xAE"
            "\xB6\xE7\x9B\xB4\xE9\x94\x80";  // 宝贝批发厂家直销
        while (t.size() < kMiB) t += zh + " <span class=\"price\">12.50</span> " + zh + "\n";
        return t;
    }();
    return text;
}

void BM_Utf8ToGbk(benchmark::State& state) {
    const std::string& text = mixed_utf8();
    for (auto _ : state) benchmark::DoNotOptimize(utf8_to_gbk(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8ToGbk)->Unit(benchmark::kMillisecond);

void BM_GbkToUtf16le(benchmark::State& state) {
    const std::string text = utf8_to_gbk(mixed_utf8());
    for (auto _ : state) benchmark::DoNotOptimize(gbk_to_utf16le(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_GbkToUtf16le)->Unit(benchmark::kMillisecond);

struct Template {
    const char* name;
    std::string item_pattern;
    std::string (*item)(int i);  // one product's markup
};

std::string title(int i) {
    return "2026\xBF\xEE\xC5\xAE\xD7\xB0 " + std::to_string(i);
}

const Template kTemplates[] = {
    {"plain",
     "<div class=\"image\">\n\t<a href=\"(.*?)\" title=\"(.*?)\" target=\"_blank\">\n\t\t<",
     [](int i) {
         return "<div class=\"image\">\n\t<a href=\"http://shop1.localhost/offer/" +
                std::to_string(5000 + i) + ".html\" title=\"" + title(i) +
                "\" target=\"_blank\">\n\t\t<img src=\"http://img.localhost/" + std::to_string(i) +
                ".jpg\"/></a></div>\n<span class=\"c\">&yen;</span>\n        \t<em>" +
                std::to_string(10 + i) + ".00</em>\n";
     }},
    {"wangpu", "<a class=\"item-name\" href=\".*?id=(.*?)\" target=\"_blank\">(.*?)</a>",
     [](int i) {
         return "<a class=\"item-name\" href=\"http://detail.localhost/offer?id=" +
                std::to_string(5000 + i) + "\" target=\"_blank\">" + title(i) +
                "</a>\n<span class=\"c-price\">" + std::to_string(10 + i) + ".00</span>\n";
     }},
    {"street", "<a title=\"(.*?)\"  href=\".*?id=(.*?)\" target=\"_blank\">",
     [](int i) {
         return "<a title=\"" + title(i) +
                "\"  href=\"http://detail.localhost/offer?id=" + std::to_string(5000 + i) +
                "\" target=\"_blank\"><img/></a>\n<strong>" + std::to_string(10 + i) +
                ".00 \xD4\xAA</strong>\n";
     }},
    {"tmall", "<a class=\"item-name\" .*? href=\".*?id=(.*?)\" target=\"_blank\">(.*?)</a>",
     [](int i) {
         return "<a class=\"item-name\" data-spm=\"d" + std::to_string(i) +
                "\" href=\"http://detail.localhost/offer?id=" + std::to_string(5000 + i) +
                "\" target=\"_blank\">" + title(i) + "</a>\n<span class=\"c-price\">" +
                std::to_string(10 + i) + ".00</span>\n";
     }},
};

// Shop-page filler: navigation, links and text, but none of the product markup.
std::string filler(std::size_t bytes) {
    std::string f;
    for (int i = 0; f.size() < bytes; ++i) {
        f +=
            "<li class=\"nav-item\"><a href=\"http://shop1.localhost/page/" + std::to_string(i) +
            ".htm\" class=\"link\">\xB7\xD6\xC0\xE0 " + std::to_string(i) +
            "</a></li><div class=\"desc\">\xC5\xFA\xB7\xA2\xB3\xA7\xBC\xD2\xD6\xB1\xCF\xFA</div>\n";
    }
    return f;
}

std::string listing_page(const Template& t, std::size_t bytes, int items) {
    std::string page = "<html><head><title>shop</title></head><body>\n";
    const std::size_t gap = (bytes - page.size()) / static_cast<std::size_t>(items + 1);
    for (int i = 0; i < items; ++i) page += filler(gap) + t.item(i);
    page += filler(bytes > page.size() ? bytes - page.size() : 0) + "</body></html>";
    return page;
}

// Item pattern of template state.range(0) over a page, compiled per page as the reader does.
void run_listing(benchmark::State& state, const std::string& page) {
    const Template& t = kTemplates[state.range(0)];
    RegexMatcher m(RegexMatcher::Dialect::Perl);
    int found = 0;
    for (auto _ : state) {
        m.compile(t.item_pattern);
        found = m.find_all(page);
    }
    state.SetLabel(t.name);
    state.counters["items"] = found;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_ListingItems(benchmark::State& state) {
    run_listing(state, listing_page(kTemplates[state.range(0)], kMiB, 60));
}
BENCHMARK(BM_ListingItems)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// No blow-up on a large page that holds none of the products' markup.
void BM_ListingNoMatch4MiB(benchmark::State& state) {
    run_listing(state, filler(4 * kMiB));
}
BENCHMARK(BM_ListingNoMatch4MiB)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// A hostile page: 4 MiB of product-link openings that never close. Each one sends the
// lazy groups to the end of the page; the search must give up in bounded time.
void BM_ListingNearMisses4MiB(benchmark::State& state) {
    std::string page;
    for (int i = 0; page.size() < 4 * kMiB; ++i) {
        page += "<div class=\"image\">\n\t<a href=\"http://x/" + std::to_string(i) +
                "\" class=\"y\">text</a></div>\n";
    }
    run_listing(state, page);
}
BENCHMARK(BM_ListingNearMisses4MiB)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
