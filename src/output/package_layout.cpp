#include "output/package_layout.hpp"


#include "support/encoding.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

using S = ColumnSource;
constexpr Quoting B = Quoting::Bare;
constexpr Quoting Q = Quoting::Quoted;

// The Taobao assistant's columns title … features, which formats 5 and 6 share; the account
// column's Chinese name and the values of two columns differ between them.
std::vector<PackageColumn> taobao_columns(bool today) {
    const Quoting text = today ? Q : B;  // empty texts are "" today, nothing in 5.x
    return {
        {"title", "宝贝名称", S::Title, Q},
        // The 1688 category, term and freight ids mean nothing to Taobao: left empty.
        {"cid", "宝贝类目", S::Constant, B},
        {"seller_cids", "店铺类目", S::Constant, Q},
        {"stuff_status", "新旧程度", S::Constant, B, "1"},
        {"location_state", "省", S::Constant, Q},
        {"location_city", "城市", S::Constant, Q},
        {"item_type", "出售方式", S::Constant, B, "1"},
        {"price", "宝贝价格", S::RetailPrice, B},
        {"auction_increment", "加价幅度", S::Constant, B, "0"},
        {"num", "宝贝数量", S::Amount, B},
        {"valid_thru", "有效期", S::Constant, B},
        {"freight_payer", "运费承担", S::Constant, B},
        {"post_fee", "平邮", S::Constant, B},
        {"ems_fee", "EMS", S::Constant, B},
        {"express_fee", "快递", S::Constant, B},
        {"has_invoice", "发票", S::Constant, B, "0"},
        {"has_warranty", "保修", S::Constant, B},
        {"approve_status", "放入仓库", S::Constant, B, "1"},
        {"has_showcase", "橱窗推荐", S::Constant, B, "0"},
        {"list_time", "开始时间", S::Constant, Q},
        {"description", "宝贝描述", S::Description, Q},
        {"cateProps", "宝贝属性", S::Constant, Q},
        {"postage_id", "邮费模版ID", S::Constant, B, "0"},
        {"has_discount", "会员打折", S::Constant, B, "0"},
        {"modified", "修改时间", S::Constant, Q},
        {"upload_fail_msg", "上传状态", S::Constant, text},
        {"picture_status", "图片状态", S::Constant, text},
        {"auction_point", "返点比例", S::Constant, B, "0"},
        {"picture", "新图片", S::MainPictures, Q},
        {"video", "视频", S::Constant, Q},
        {"skuProps", "销售属性组合", S::ItemSkus, Q},
        {"inputPids", "用户输入ID串", S::Constant, Q},
        {"inputValues", "用户输入名-值对", S::Constant, Q},
        {"outer_id", "商家编码", S::Constant, Q},
        {"propAlias", "销售属性别名", S::Constant, Q},
        {"auto_fill", "代充类型", S::Constant, B, "0"},
        {"num_id", "数字ID", S::OfferId, B},
        {"local_cid", "本地ID", S::Constant, B, "0"},
        {"navigation_type", "宝贝分类", S::Constant, B, "2"},
        {"user_name", today ? "用户名称" : "账户名称", S::Constant, text},
        {"syncStatus", "宝贝状态", S::Constant, B, "1"},
        {"is_lighting_consigment", "闪电发货", S::Constant, B, "0"},
        {"is_xinpin", "新品", S::Constant, B, "0"},
        {"foodparame", "食品专项", S::Constant, text,
         today ? "product_date_end:;product_date_start:;stock_date_end:;stock_date_start:" : ""},
        {"features", "尺码库", S::Constant, Q, today ? "mysize_tp:0" : ""},
    };
}

PackageLayout taobao_layout() {
    PackageLayout layout{PackageFormat::Taobao, ',', "\r\n", "\r\n", false, false,
                         "version 1.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,", {}};
    layout.columns = taobao_columns(false);
    layout.columns.push_back({"item_size", "物流体积", S::Constant, B});
    layout.columns.push_back({"item_weight", "物流重量", S::UnitWeight, B});
    layout.columns.push_back({"wireless_desc", "无线详情", S::Constant, Q});
    return layout;
}

PackageLayout taobao_today_layout() {
    PackageLayout layout{PackageFormat::TaobaoToday, '\t', "\n", "\n", true, false,
                         "version 1.00", {}};
    layout.columns = taobao_columns(true);
    const std::vector<PackageColumn> added = {
        {"buyareatype", "采购地", S::Constant, B},
        {"global_stock_type", "库存类型", S::Constant, B},
        {"global_stock_country", "国家地区", S::Constant, Q},
        {"sub_stock_type", "库存计数", S::Constant, B},
        {"item_size", "物流体积", S::Constant, Q, "bulk:0.000000"},
        {"item_weight", "物流重量", S::UnitWeightOrZero, B},
        {"sell_promise", "退换货承诺", S::Constant, B},
        {"custom_design_flag", "定制工具", S::Constant, Q},
        {"wireless_desc", "无线详情", S::Constant, Q},
        {"barcode", "商品条形码", S::Constant, Q},
        {"sku_barcode", "sku 条形码", S::Constant, Q},
        {"newprepay", "7天退货", S::Constant, B},
        {"subtitle", "宝贝卖点", S::Constant, Q},
        {"cpv_memo", "属性值备注", S::Constant, Q},
        {"input_custom_cpv", "自定义属性值", S::Constant, Q},
        {"qualification", "商品资质", S::Constant, Q, "%7B%20%20%7D"},
        {"add_qualification", "增加商品资质", S::Constant, Q},
        {"o2o_bind_service", "关联线下服务", S::Constant, Q},
    };
    layout.columns.insert(layout.columns.end(), added.begin(), added.end());
    return layout;
}

PackageLayout alibaba_layout() {
    return {PackageFormat::Alibaba, '\t', "\r\n", "\n", true, true,
            "appname:alizhuli;version:6.2.9.11627;loginid:velmora",
            {
                {"offerId", "产品ID", S::OfferId, B},
                {"subject", "标题", S::Title, Q},
                {"postCategryId", "类目", S::CategoryId, B},
                {"imageList", "产品图片", S::MainPictures, Q},
                {"sendGoodsAddressId", "发货地址", S::SendGoodsId, B},
                {"freightTemplateId", "运费设置", S::FreightTemplateId, B},
                {"termOfferProcess", "有效期", S::TermOfferProcess, B},
                {"details", "产品详情", S::Description, Q},
                {"details(sub)", "产品详情（sub）", S::Constant, Q},
                {"productFeatureList", "产品属性", S::Features, Q},
                {"customizedFeatureList", "自定义类目属性", S::Constant, B, "0"},
                {"skuArray", "SKU属性", S::Skus, Q},
                {"skuPics", "SKU图片", S::SkuPictures, Q},
                {"productUnitWeight", "单位重量", S::UnitWeight, B},
                {"amount", "供货总量", S::Amount, B},
                {"amountOnSale", "可售数量", S::AmountOnSale, B},
                {"priceRanges", "价格区间", S::PriceRanges, Q},
                {"unitPrice", "单价", S::Constant, B, "0"},
                {"isSupportOnlineTrade", "是否支持网上交易", S::Constant, B, "1"},
                {"isSupportMix", "是否支持混批", S::Constant, B, "0"},
                {"isSkuOffer", "是否SKU信息", S::Constant, B, "1"},
                {"isSkuTradeSupported", "是否规格报价", S::Constant, B, "0"},
                {"isProcessingOffer", "是否加工定制", S::Constant, B, "0"},
                {"isPicAuthOffer", "是否图片授权", S::Constant, B, "0"},
                {"isPriceAuthOffer", "是否价格授权", S::Constant, B, "0"},
            }};
}

// A value inside a JSON string: a quote or a backslash of the seller's would end or bend
// the string. A backslash byte inside a double-byte character is left alone.
void append_json_value(std::string& out, std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t length = gbk_char_length(value, i);
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (length == 2) {
            out.append(value.substr(i, 2));
        } else if (c == '"') {
            out.append("\\\"");
        } else if (c == '\\') {
            out.append("\\\\");
        } else if (c < 0x20) {
            out.append("\\u00").append(1, kHex[c >> 4]).append(1, kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
        i += length;
    }
}

// "a":"b"
void append_pair(std::string& out, std::string_view a, std::string_view b) {
    out.push_back('"');
    append_json_value(out, a);
    out.append("\":\"");
    append_json_value(out, b);
    out.push_back('"');
}

// start,,price; per range, the form the attribute 4341 carries.
std::string range_text(const OfferRecord& r) {
    std::string out;
    for (const PriceRange& range : r.priceRanges) {
        out.append(range.startQuantity).append(",,").append(range.price).append(";");
    }
    return out;
}

std::string features_json(const OfferRecord& r) {
    std::string out = "{";
    for (const NamedValue& feature : r.features) {
        append_pair(out, feature.name, feature.value);
        out.append(",");
    }
    // The price ranges, unit and retail price travel as attributes 4341, 1459 and 8021.
    append_pair(out, "4341", range_text(r));
    out.append(",");
    append_pair(out, "1459", r.unit);
    out.append(",");
    append_pair(out, "8021", r.retailPrice);
    out.append("}");
    return out;
}

std::string or_zero_price(const std::string& value) {
    return value.empty() ? std::string("0.0000") : value;
}

std::string skus_json(const OfferRecord& r) {
    std::string out = "[";
    for (const OfferSku& sku : r.skus) {
        out.append("{\"specAttributes\":{");
        for (std::size_t k = 0; k < sku.attributes.size(); ++k) {
            if (k > 0) out.append(",");
            append_pair(out, sku.attributes[k].name, sku.attributes[k].value);
        }
        out.append("},\"specId\":\"");
        append_json_value(out, sku.specId);
        // The numbers go out as read.
        out.append("\",\"price\":").append(or_zero_price(sku.price));
        out.append(",\"retailPrice\":").append(or_zero_price(sku.retailPrice));
        out.append(",\"amountOnSale\":").append(sku.amountOnSale);
        out.append(",\"saleCount\":").append(sku.saleCount);
        out.append("},");
    }
    out.append("]");
    return out;
}

std::string sku_pictures_json(const OfferRecord& r) {
    std::string out = "{\"3216\":[";
    for (const SkuPicture& picture : r.skuPictures) {
        out.append("{");
        append_pair(out, picture.name, picture.address);
        out.append("},");
    }
    out.append("]}");
    return out;
}

std::string item_skus_text(const OfferRecord& r) {
    std::string out;
    for (const ItemSku& sku : r.itemSkus) {
        out.append(sku.price).append(":").append(sku.quantity).append(":");
        out.append(sku.outerId).append(":").append(sku.properties).append(";");
    }
    out.append(";");
    return out;
}

std::string main_pictures_text(const OfferRecord& r) {
    std::string out;
    for (std::size_t k = 0; k < r.mainPictures.size(); ++k) {
        out.append(r.mainPictures[k]).append(":1:").append(std::to_string(k)).append(":|;");
    }
    return out;
}

// A field's bytes: whole GBK characters only, and no NUL, which would end a UTF-16 text.
void append_clean(std::string& row, std::string_view value) {
    for (const char c : whole_characters(value)) row.push_back(c == '\0' ? '?' : c);
}

void append_field(std::string& row, const PackageColumn& column, std::string_view value,
                  char separator) {
    const bool breaks =
        value.find_first_of(std::string{separator, '"', '\r', '\n'}) != std::string_view::npos;
    if (column.quoting == Quoting::Bare && !breaks) {
        append_clean(row, value);
        return;
    }
    row.push_back('"');
    append_clean(row, double_quotes(value));
    row.push_back('"');
}

// The header's three lines: the first line, the English and the Chinese names.
PackageLayout with_header(PackageLayout layout) {
    std::string english, chinese;
    for (std::size_t k = 0; k < layout.columns.size(); ++k) {
        if (k > 0) {
            english.push_back(layout.separator);
            chinese.push_back(layout.separator);
        }
        english.append(layout.columns[k].english);
        chinese.append(utf8_to_gbk(layout.columns[k].chinese));
    }
    const std::string end(layout.headerLineEnd);
    layout.header = std::string(layout.firstLine) + end + english + end + chinese + end;
    return layout;
}

}  // namespace

int PackageLayout::column_of(ColumnSource source) const {
    for (std::size_t k = 0; k < columns.size(); ++k) {
        if (columns[k].source == source) return static_cast<int>(k);
    }
    return -1;
}

const PackageLayout& package_layout(PackageFormat format) {
    static const PackageLayout alibaba = with_header(alibaba_layout());
    static const PackageLayout taobao = with_header(taobao_layout());
    static const PackageLayout today = with_header(taobao_today_layout());
    switch (format) {
        case PackageFormat::Alibaba: return alibaba;
        case PackageFormat::TaobaoToday: return today;
        case PackageFormat::Taobao: break;
    }
    return taobao;
}

std::string column_value(const PackageColumn& column, const OfferRecord& r) {
    switch (column.source) {
        case S::Constant: return std::string(column.constant);
        case S::Title: return r.title;
        case S::CategoryId: return r.postCategryId;
        case S::RetailPrice: return r.retailPrice;
        case S::Amount: return r.amount;
        case S::AmountOnSale: return r.amountOnSale;
        case S::TermOfferProcess: return r.termOfferProcess;
        case S::FreightTemplateId: return r.freightTemplateId;
        case S::SendGoodsId: return r.sendGoodsId;
        case S::OfferId: return r.offerId;
        case S::UnitWeight: return r.productUnitWeight;
        case S::UnitWeightOrZero: return r.productUnitWeight.empty() ? "0.000" : r.productUnitWeight;
        case S::Description: return r.description;
        case S::MainPictures: return main_pictures_text(r);
        case S::ItemSkus: return item_skus_text(r);
        case S::Features: return features_json(r);
        case S::Skus: return skus_json(r);
        case S::SkuPictures: return sku_pictures_json(r);
        case S::PriceRanges:
            return replace_all(replace_all(range_text(r), ",,", ":"), ";", "`");
    }
    return {};
}

bool follows_supplier(ColumnSource source) {
    switch (source) {
        case ColumnSource::RetailPrice:
        case ColumnSource::Amount:
        case ColumnSource::AmountOnSale:
        case ColumnSource::ItemSkus:
        case ColumnSource::Features:
        case ColumnSource::Skus:
        case ColumnSource::SkuPictures:
        case ColumnSource::PriceRanges:
            return true;
        default:
            return false;
    }
}

std::string updated_package_row(const std::vector<std::string>& fields, const OfferRecord& fresh,
                                PackageFormat format) {
    const PackageLayout& layout = package_layout(format);
    std::string row;
    for (std::size_t k = 0; k < layout.columns.size(); ++k) {
        if (k > 0) row.push_back(layout.separator);
        const PackageColumn& column = layout.columns[k];
        const bool fromSupplier = follows_supplier(column.source) || k >= fields.size();
        append_field(row, column, fromSupplier ? column_value(column, fresh) : fields[k], layout.separator);
    }
    row.append(layout.rowEnd);
    return row;
}

std::string render_package_row(const OfferRecord& record, PackageFormat format) {
    const PackageLayout& layout = package_layout(format);
    std::string row;
    row.reserve(record.description.size() + 1024);
    for (std::size_t k = 0; k < layout.columns.size(); ++k) {
        if (k > 0) row.push_back(layout.separator);
        append_field(row, layout.columns[k], column_value(layout.columns[k], record), layout.separator);
    }
    row.append(layout.rowEnd);
    return row;
}

}  // namespace vq
