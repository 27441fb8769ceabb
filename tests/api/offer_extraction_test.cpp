#include "api/offer_extraction.hpp"

#include <gtest/gtest.h>

#include <string>

#include "output/package_layout.hpp"
#include "support/encoding.hpp"
#include "support/text.hpp"

using namespace vq;

namespace {

// An offer.get answer around the given toReturn content (UTF-8 here, GBK once loaded).
XmlDocument answer(const std::string& to_return) {
    XmlDocument doc;
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><rsp><Responses><Response>"
        "<Result><result><toReturn>" +
        to_return + "</toReturn></result></Result></Response></Responses></rsp>";
    EXPECT_TRUE(doc.load_bytes(xml));
    return doc;
}

// Expected texts are written with Q for each double quote, as GBK.
std::string q(std::string_view utf8) {
    return replace_all(utf8_to_gbk(utf8), "Q", "\"");
}

// A column's text as it stands inside its quoted field (quotes doubled).
std::string cell(const OfferRecord& r, ColumnSource source,
                 PackageFormat format = PackageFormat::Alibaba) {
    const PackageLayout& layout = package_layout(format);
    return double_quotes(column_value(layout.columns[static_cast<std::size_t>(layout.column_of(source))], r));
}

// The price-range field with its quotes.
std::string ranges_field(const OfferRecord& r) {
    return "\"" + cell(r, ColumnSource::PriceRanges) + "\"";
}

OfferRecord extract(const std::string& to_return, PackageFormat format) {
    XmlDocument doc = answer(to_return);
    OfferRecord record;
    extract_offer_fields(doc, format, record);
    return record;
}

const std::string kFullOffer =
    "<subject>杯子</subject><amount>300</amount><productUnitWeight>0.5</productUnitWeight>"
    "<unit>件</unit><retailPrice><amount>6.00</amount></retailPrice>"
    "<productFeatureList><fid>1</fid><value>红</value></productFeatureList>"
    "<productFeatureList><fid>2</fid><value>大</value></productFeatureList>"
    "<priceRanges><range>1-9</range><price>5.00</price></priceRanges>"
    "<priceRanges><range>≥10</range><price>4.50</price></priceRanges>"
    // Two-level: colour, then size with its own prices; the second size has no price.
    "<skuArray><fid>3216</fid><value>红</value>"
    "<children><fid>450</fid><value>S</value><specId>a1</specId><price>5.00</price>"
    "<retailPrice>6.00</retailPrice><canBookCount>10</canBookCount><saleCount>2</saleCount>"
    "</children>"
    "<children><fid>450</fid><value>M</value><specId>a2</specId><price></price>"
    "<canBookCount></canBookCount><saleCount>0</saleCount></children></skuArray>"
    // One-level.
    "<skuArray><fid>3216</fid><value>蓝</value><specId>b1</specId><price>4.00</price>"
    "<retailPrice></retailPrice><canBookCount>7</canBookCount><saleCount>1</saleCount>"
    "</skuArray>"
    "<skuPics><3216><红>http://p/1.jpg</红></3216><3216><蓝>http://p/2.jpg</蓝></3216></skuPics>"
    "<amountOnSale>250</amountOnSale><postCategryId>1031</postCategryId>"
    "<sendGoodsId>88</sendGoodsId><freightTemplateId>77</freightTemplateId>"
    "<termOfferProcess>30</termOfferProcess>";

TEST(OfferExtraction, Format4AssemblesAllTexts) {
    const OfferRecord r = extract(kFullOffer, PackageFormat::Alibaba);
    EXPECT_EQ(r.title, q("杯子"));
    EXPECT_EQ(r.amount, "300");
    EXPECT_EQ(r.productUnitWeight, "0.5");
    EXPECT_EQ(r.retailPrice, "6.00");
    EXPECT_EQ(cell(r, ColumnSource::Features),
              q("{QQ1QQ:QQ红QQ,QQ2QQ:QQ大QQ,QQ4341QQ:QQ1,,5.00;10,,4.50;QQ,QQ1459QQ:QQ件QQ,"
                "QQ8021QQ:QQ6.00QQ}"));
    EXPECT_EQ(ranges_field(r), q("Q1:5.00`10:4.50`Q"));
    EXPECT_EQ(cell(r, ColumnSource::Skus),
              q("[{QQspecAttributesQQ:{QQ3216QQ:QQ红QQ,QQ450QQ:QQSQQ},QQspecIdQQ:QQa1QQ,"
                "QQpriceQQ:5.00,QQretailPriceQQ:6.00,QQamountOnSaleQQ:10,QQsaleCountQQ:2},"
                "{QQspecAttributesQQ:{QQ3216QQ:QQ红QQ,QQ450QQ:QQMQQ},QQspecIdQQ:QQa2QQ,"
                "QQpriceQQ:0.0000,QQretailPriceQQ:0.0000,QQamountOnSaleQQ:,QQsaleCountQQ:0},"
                "{QQspecAttributesQQ:{QQ3216QQ:QQ蓝QQ},QQspecIdQQ:QQb1QQ,"
                "QQpriceQQ:4.00,QQretailPriceQQ:0.0000,QQamountOnSaleQQ:7,QQsaleCountQQ:1},]"));
    EXPECT_EQ(cell(r, ColumnSource::SkuPictures),
              q("{QQ3216QQ:[{QQ红QQ:QQhttp://p/1.jpgQQ},{QQ蓝QQ:QQhttp://p/2.jpgQQ},]}"));
    EXPECT_EQ(r.amountOnSale, "250");
    EXPECT_EQ(r.postCategryId, "1031");
    EXPECT_EQ(r.sendGoodsId, "88");
    EXPECT_EQ(r.freightTemplateId, "77");
    EXPECT_EQ(r.termOfferProcess, "30");
}

TEST(OfferExtraction, EmptyListsGiveEmptyContainers) {
    const OfferRecord r = extract("<subject>x</subject>", PackageFormat::Alibaba);
    EXPECT_EQ(cell(r, ColumnSource::Features), q("{QQ4341QQ:QQQQ,QQ1459QQ:QQQQ,QQ8021QQ:QQQQ}"));
    EXPECT_EQ(ranges_field(r), "\"\"");
    EXPECT_EQ(cell(r, ColumnSource::Skus), "[]");
    EXPECT_EQ(cell(r, ColumnSource::SkuPictures), q("{QQ3216QQ:[]}"));
}

TEST(OfferExtraction, PriceRangeStarts) {
    const OfferRecord r = extract(
        "<priceRanges><range>≥100</range><price>1.00</price></priceRanges>"
        "<priceRanges><range>100-199</range><price>2.00</price></priceRanges>"
        "<priceRanges><range>100</range><price>3.00</price></priceRanges>",
        PackageFormat::Alibaba);
    EXPECT_EQ(ranges_field(r), q("Q100:1.00`100:2.00`:3.00`Q"));
}

TEST(OfferExtraction, TitleCleanUps) {
    const struct {
        const char* subject;
        const char* title;
    } cases[] = {
        {"A&amp;B", "A B"},
        {"a&amp;amp;b", "a b"},  // the leftover "amp;" goes too
        {"it&apos;s", "it's"},
        {"<![CDATA[a*b|c<d>e?f]]>", "a b c d e f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subject);
        for (const PackageFormat format : {PackageFormat::Alibaba, PackageFormat::Taobao}) {
            EXPECT_EQ(extract(std::string("<subject>") + c.subject + "</subject>", format).title,
                      q(c.title));
        }
    }
}

TEST(OfferExtraction, Format5ReadsItemSkusOnly) {
    // An offer.get answer holds no item SKUs; the values of an earlier product all go.
    XmlDocument offer = answer(kFullOffer);
    OfferRecord r;
    r.amountOnSale = r.postCategryId = r.sendGoodsId = r.freightTemplateId = "old";
    r.itemSkus.push_back({"1", "2", "3", "4"});
    extract_offer_fields(offer, PackageFormat::Taobao, r);
    EXPECT_EQ(cell(r, ColumnSource::ItemSkus, PackageFormat::Taobao), ";");
    EXPECT_EQ(r.retailPrice, "6.00");
    EXPECT_EQ(r.title, q("杯子"));
    EXPECT_EQ(r.amountOnSale, "250");
    EXPECT_EQ(r.sendGoodsId, "88");

    XmlDocument item;
    ASSERT_TRUE(
        item.load_bytes("<?xml version=\"1.0\" encoding=\"utf-8\"?><item_get_response><item><skus>"
                        "<sku><price>  1.00</price><quantity>5</quantity><outer_id>A</outer_id>"
                        "<properties>1:2</properties></sku>"
                        "<sku><price>　2.00</price><quantity>6</quantity><outer_id></outer_id>"
                        "<properties>1:3 </properties></sku>"
                        "<sku><price></price><quantity>7</quantity><outer_id>C</outer_id>"
                        "<properties>1:4</properties></sku>"
                        "</skus></item></item_get_response>"));
    OfferRecord t;
    extract_offer_fields(item, PackageFormat::Taobao, t);
    EXPECT_EQ(cell(t, ColumnSource::ItemSkus, PackageFormat::Taobao), "1.00:5:A:1:2;2.00:6::1:3 ;:7:C:1:4;;");

    // Item SKUs land in a quoted field too.
    ASSERT_TRUE(item.load_bytes("<item_get_response><item><skus><sku><price>1</price>"
                                "<outer_id>a\"b</outer_id></sku></skus></item></item_get_response>"));
    extract_offer_fields(item, PackageFormat::Taobao, t);
    EXPECT_EQ(cell(t, ColumnSource::ItemSkus, PackageFormat::Taobao), "1::a\"\"b:;;");
}

// Seller-typed values inside the JSON texts: escaped for JSON, then quotes doubled for the
// quoted field, so neither the field nor the JSON string ends early. Q is one quote here.
TEST(OfferExtraction, ValuesWithQuotesAndBackslashesStayInsideTheirStrings) {
    const OfferRecord r = extract(
        "<productFeatureList><fid>1</fid><value>5\" \\ 英寸|*|\t,x</value>"
        "</productFeatureList>"
        "<priceRanges><range>1\"-9</range><price>5.00</price></priceRanges>"
        "<skuArray><fid>3216</fid><value>红\"色</value><specId>s\"1</specId>"
        "<price>1\"0</price><canBookCount>1,000</canBookCount><saleCount>2</saleCount>"
        "</skuArray>"
        "<skuPics><3216><红>http://p/a\"b\\.jpg</红></3216></skuPics>"
        "<unit>件</unit>",
        PackageFormat::Alibaba);
    EXPECT_EQ(cell(r, ColumnSource::Features),
              q("{QQ1QQ:QQ5\\QQ \\\\ 英寸|*|\\u0009,xQQ,QQ4341QQ:QQ1\\QQ,,5.00;QQ,"
                "QQ1459QQ:QQ件QQ,QQ8021QQ:QQQQ}"));
    EXPECT_EQ(ranges_field(r), q("Q1QQ:5.00`Q"));
    EXPECT_EQ(cell(r, ColumnSource::Skus),
              q("[{QQspecAttributesQQ:{QQ3216QQ:QQ红\\QQ色QQ},QQspecIdQQ:QQs\\QQ1QQ,"
                "QQpriceQQ:1QQ0,QQretailPriceQQ:0.0000,QQamountOnSaleQQ:1,000,"
                "QQsaleCountQQ:2},]"));
    EXPECT_EQ(cell(r, ColumnSource::SkuPictures), q("{QQ3216QQ:[{QQ红QQ:QQhttp://p/a\\QQb\\\\.jpgQQ},]}"));
}

// A seller's "&" and "<" in an attribute, a SKU value or the unit reach the package as the
// seller typed them, not with the answer's escaping ("A&amp;B").
TEST(OfferExtraction, TheAnswersEscapingIsUndoneInTheValuesShown) {
    XmlDocument doc = answer(
        "<subject>杯&amp;碟</subject>"
        "<productFeatureList><fid>1</fid><value>A&amp;B &lt;1&gt; &amp;amp;</value></productFeatureList>"
        "<skuArray><fid>3216</fid><value>红&amp;蓝</value>"
        "<children><fid>450</fid><value>&lt;S&gt;</value><specId>a</specId><price>1.00</price>"
        "<canBookCount>1</canBookCount><saleCount>0</saleCount></children></skuArray>"
        "<unit>&lt;件&gt;</unit>");
    OfferRecord r;
    read_offer_fields(doc, r);
    ASSERT_EQ(r.features.size(), 1u);
    EXPECT_EQ(r.features[0].value, "A&B <1> &amp;");
    ASSERT_EQ(r.skus.size(), 1u);
    ASSERT_EQ(r.skus[0].attributes.size(), 2u);
    EXPECT_EQ(r.skus[0].attributes[0].value, utf8_to_gbk("红&蓝"));
    EXPECT_EQ(r.skus[0].attributes[1].value, "<S>");
    EXPECT_EQ(r.unit, utf8_to_gbk("<件>"));
    // The title keeps the answer's form: its cleaning step reads "&amp;".
    EXPECT_EQ(r.title, utf8_to_gbk("杯&amp;碟"));
}

TEST(OfferExtraction, SecondProductKeepsOnlyItsOwnValues) {
    OfferRecord r;
    XmlDocument first = answer(kFullOffer);
    extract_offer_fields(first, PackageFormat::Alibaba, r);
    XmlDocument second = answer(
        "<subject>y</subject>"
        "<priceRanges><range>2-5</range><price>9.00</price></priceRanges>"
        "<skuPics><3216><黑>http://p/9.jpg</黑></3216></skuPics>");
    extract_offer_fields(second, PackageFormat::Alibaba, r);
    EXPECT_EQ(r.title, "y");
    EXPECT_EQ(ranges_field(r), q("Q2:9.00`Q"));
    EXPECT_EQ(cell(r, ColumnSource::SkuPictures), q("{QQ3216QQ:[{QQ黑QQ:QQhttp://p/9.jpgQQ},]}"));
    EXPECT_EQ(cell(r, ColumnSource::Features), q("{QQ4341QQ:QQ2,,9.00;QQ,QQ1459QQ:QQQQ,QQ8021QQ:QQQQ}"));
    EXPECT_EQ(cell(r, ColumnSource::Skus), "[]");
    EXPECT_EQ(r.amountOnSale, "");
}

}  // namespace

namespace {

ListingRules markup_rules() {
    ListingRules rules;
    rules.priceFactor = {15, 1};  // 1.5
    rules.priceAdd = {1, 0};
    rules.priceEnding = PriceEnding::Nine;
    rules.titlePrefix = utf8_to_gbk("【现货】");
    rules.titleReplacements.push_back({utf8_to_gbk("杯子"), utf8_to_gbk("保温杯")});
    return rules;
}

}  // namespace

// x 1.5 + 1, ending .90: every price of the row changes, the SKUs without a price of their
// own keep "0.0000", and the title gets its replacement and prefix.
TEST(OfferExtraction, Format4RowUnderRules) {
    XmlDocument doc = answer(kFullOffer);
    OfferRecord r;
    extract_offer_fields(doc, PackageFormat::Alibaba, r, markup_rules());
    EXPECT_EQ(r.title, q("【现货】保温杯"));
    EXPECT_EQ(cell(r, ColumnSource::Features),
              q("{QQ1QQ:QQ红QQ,QQ2QQ:QQ大QQ,QQ4341QQ:QQ1,,8.90;10,,7.90;QQ,QQ1459QQ:QQ件QQ,"
                "QQ8021QQ:QQ10.90QQ}"));
    EXPECT_EQ(ranges_field(r), q("Q1:8.90`10:7.90`Q"));
    EXPECT_EQ(cell(r, ColumnSource::Skus),
              q("[{QQspecAttributesQQ:{QQ3216QQ:QQ红QQ,QQ450QQ:QQSQQ},QQspecIdQQ:QQa1QQ,"
                "QQpriceQQ:8.90,QQretailPriceQQ:10.90,QQamountOnSaleQQ:10,QQsaleCountQQ:2},"
                "{QQspecAttributesQQ:{QQ3216QQ:QQ红QQ,QQ450QQ:QQMQQ},QQspecIdQQ:QQa2QQ,"
                "QQpriceQQ:0.0000,QQretailPriceQQ:0.0000,QQamountOnSaleQQ:,QQsaleCountQQ:0},"
                "{QQspecAttributesQQ:{QQ3216QQ:QQ蓝QQ},QQspecIdQQ:QQb1QQ,"
                "QQpriceQQ:7.90,QQretailPriceQQ:0.0000,QQamountOnSaleQQ:7,QQsaleCountQQ:1},]"));
    EXPECT_TRUE(r.ruleNotes.empty());

    XmlDocument five = answer(kFullOffer);
    extract_offer_fields(five, PackageFormat::Taobao, r, markup_rules());
    EXPECT_EQ(r.retailPrice, "10.90");
    EXPECT_EQ(r.title, q("【现货】保温杯"));
}

// What a rule cannot do is noted once per kind and leaves the text as it was; an answer
// without a title stays without one, so it still gives no row.
TEST(OfferExtraction, RulesLeaveWhatTheyCannotUse) {
    ListingRules rules = markup_rules();
    XmlDocument doc = answer(
        "<subject>杯子*</subject><retailPrice><amount>面议</amount></retailPrice>"
        "<priceRanges><range>1-9</range><price>约5元</price></priceRanges>");
    OfferRecord r;
    extract_offer_fields(doc, PackageFormat::Alibaba, r, rules);
    EXPECT_EQ(r.title, q("【现货】保温杯"));  // cleaned first, then the trailing blank trimmed
    EXPECT_EQ(ranges_field(r), q("Q1:约5元`Q"));
    ASSERT_EQ(r.ruleNotes.size(), 1u);
    EXPECT_NE(r.ruleNotes[0].find(utf8_to_gbk("面议")), std::string::npos);

    rules = ListingRules{};
    rules.titleReplacements.push_back({utf8_to_gbk("杯子"), ""});
    XmlDocument emptied = answer("<subject>杯子</subject>");
    extract_offer_fields(emptied, PackageFormat::Taobao, r, rules);
    EXPECT_EQ(r.title, q("杯子"));
    EXPECT_EQ(r.ruleNotes.size(), 1u);

    rules.titlePrefix = "x";
    XmlDocument failed = answer("");
    extract_offer_fields(failed, PackageFormat::Taobao, r, rules);
    EXPECT_EQ(r.title, "");
    EXPECT_TRUE(r.ruleNotes.empty());
}
