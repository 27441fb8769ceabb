#include "output/package_writer.hpp"


#include "output/package_check.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::string_view Q = kQuotePlaceholder;

const std::string& format5_header() {
    return "version 1.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
           "title,cid,seller_cids,stuff_status,location_state,location_city,item_type,price,"
           "auction_increment,num,valid_thru,freight_payer,post_fee,ems_fee,express_fee,"
           "has_invoice,has_warranty,approve_status,has_showcase,list_time,description,"
           "cateProps,postage_id,has_discount,modified,upload_fail_msg,picture_status,"
           "auction_point,picture,video,skuProps,inputPids,inputValues,outer_id,propAlias,"
           "auto_fill,num_id,local_cid,navigation_type,user_name,syncStatus,"
           "is_lighting_consigment,is_xinpin,foodparame,features,item_size,item_weight,"
           "wireless_desc\r\n"
           "宝贝名称,宝贝类目,店铺类目,新旧程度,省,城市,出售方式,宝贝价格,加价幅度,宝贝数量,"
           "有效期,运费承担,平邮,EMS,快递,发票,保修,放入仓库,橱窗推荐,开始时间,宝贝描述,"
           "宝贝属性,邮费模版ID,会员打折,修改时间,上传状态,图片状态,返点比例,新图片,视频,"
           "销售属性组合,用户输入ID串,用户输入名-值对,商家编码,销售属性别名,代充类型,数字ID,"
           "本地ID,宝贝分类,账户名称,宝贝状态,闪电发货,新品,食品专项,尺码库,物流体积,物流重量,"
           "无线详情\r\n"_gbk;
}

const std::string& format4_header() {
    return "appname:alizhuli;version:6.2.9.11627;loginid:velmora\n"
           "offerId\tsubject\tpostCategryId\timageList\tsendGoodsAddressId\t"
           "freightTemplateId\ttermOfferProcess\tdetails\tdetails(sub)\tproductFeatureList\t"
           "customizedFeatureList\tskuArray\tskuPics\tproductUnitWeight\tamount\t"
           "amountOnSale\tpriceRanges\tunitPrice\tisSupportOnlineTrade\tisSupportMix\t"
           "isSkuOffer\tisSkuTradeSupported\tisProcessingOffer\tisPicAuthOffer\t"
           "isPriceAuthOffer\n"
           "产品ID\t标题\t类目\t产品图片\t发货地址\t运费设置\t有效期\t产品详情\t产品详情（sub）\t"
           "产品属性\t自定义类目属性\tSKU属性\tSKU图片\t单位重量\t供货总量\t可售数量\t价格区间\t"
           "单价\t是否支持网上交易\t是否支持混批\t是否SKU信息\t是否规格报价\t是否加工定制\t"
           "是否图片授权\t是否价格授权\n"_gbk;
}

// Byte-order mark and UTF-16LE header, without a closing zero unit: the rows follow it.
const std::string& format4_header_bytes() {
    static const std::string bytes = [] {
        std::string utf16 = gbk_to_utf16le(format4_header());
        utf16.resize(utf16.size() - 2);
        return std::string("\xFF\xFE", 2) + utf16;
    }();
    return bytes;
}

// A value inside a row: its "*" doubled, so that no value can form the placeholder with
// its neighbours (the file writer turns "**" back into "*"; a "*" byte is never part of a
// double-byte character). Bytes that start no whole character become "?" (see
// whole_characters), and so does a NUL byte, which would end the format-4 text early.
void append_data(std::string& row, std::string_view value) {
    for (const char c : whole_characters(value)) {
        if (c == '*') row.push_back('*');
        row.push_back(c == '\0' ? '?' : c);
    }
}

// A value whose quotes are already doubled (description, JSON texts, picture list).
void append_quoted(std::string& row, std::string_view value) {
    row.append(Q);
    append_data(row, value);
    row.append(Q);
}

// A quote inside the title would otherwise close its quoted field early.
void append_title(std::string& row, std::string_view title) {
    append_quoted(row, double_quotes(title));
}

// A field written bare unless its value would break it (the separator, a quote or a line
// break, e.g. an amount of "1,000"); such a value is written quoted instead.
void append_bare(std::string& row, std::string_view value, char separator) {
    if (value.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string_view::npos) {
        append_data(row, value);
    } else {
        append_quoted(row, double_quotes(value));
    }
}

std::string format5_row(const OfferRecord& r) {
    const auto bare = [](std::string& row, std::string_view value) {
        append_bare(row, value, ',');
    };
    std::string row;
    row.reserve(r.title.size() + r.description.size() + r.pictureList.size() + r.skuText.size() +
                512);
    append_title(row, r.title);
    row.append(",");
    bare(row, r.postCategryId);
    row.append(",|*||*|,1,|*||*|,|*||*|,1,");
    bare(row, r.retailPrice);
    row.append(",0,");
    bare(row, r.amount);
    row.append(",");
    bare(row, r.termOfferProcess);
    row.append(",");
    bare(row, r.freightTemplateId);
    row.append(",,,,0,,1,0,|*||*|,");
    append_quoted(row, r.description);
    row.append(",|*||*|,0,0,|*||*|,,,0,");
    append_quoted(row, r.pictureList);
    row.append(",|*||*|,");
    append_quoted(row, r.skuText);
    row.append(",|*||*|,|*||*|,|*||*|,|*||*|,0,");
    bare(row, r.offerId);
    row.append(",0,2,,1,0,0,,|*||*|,,");
    bare(row, r.productUnitWeight);
    row.append(",|*||*|\r\n");
    return row;
}

std::string format4_row(const OfferRecord& r) {
    const auto bare = [](std::string& row, std::string_view value) {
        append_bare(row, value, '\t');
    };
    std::string row;
    row.reserve(r.title.size() + r.description.size() + r.pictureList.size() +
                r.featureText.size() + r.skuText.size() + r.skuPictures.size() +
                r.priceRanges.size() + 256);
    bare(row, r.offerId);
    row.append("\t");
    append_title(row, r.title);
    row.append("\t");
    bare(row, r.postCategryId);
    row.append("\t");
    append_quoted(row, r.pictureList);
    row.append("\t");
    bare(row, r.sendGoodsId);
    row.append("\t");
    bare(row, r.freightTemplateId);
    row.append("\t");
    bare(row, r.termOfferProcess);
    row.append("\t");
    append_quoted(row, r.description);
    row.append("\t|*||*|\t");
    append_quoted(row, r.featureText);
    row.append("\t0\t");
    append_quoted(row, r.skuText);
    row.append("\t");
    append_quoted(row, r.skuPictures);
    row.append("\t");
    bare(row, r.productUnitWeight);
    row.append("\t");
    bare(row, r.amount);
    row.append("\t");
    bare(row, r.amountOnSale);
    // The price ranges carry their own quotes, their inner quotes already doubled.
    row.append("\t");
    append_data(row, r.priceRanges);
    row.append("\t0\t1\t0\t1\t0\t0\t0\t0\r\n");
    return row;
}

// Rows as the file holds them: each placeholder a quote, each doubled "*" of a value one
// "*". Read left to right, the two never overlap: a value's "*" always come in pairs.
std::string file_text(std::string_view rows) {
    std::string out;
    out.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows.substr(i, 3) == Q) {
            out.push_back('"');
            i += 2;
        } else if (rows.substr(i, 2) == "**") {
            out.push_back('*');
            i += 1;
        } else {
            out.push_back(rows[i]);
        }
    }
    return out;
}

}  // namespace

const std::string& package_header_text(int format) {
    return format == 4 ? format4_header() : format5_header();
}

std::string build_package_row(const OfferRecord& record, int format) {
    return format == 4 ? format4_row(record) : format5_row(record);
}

std::string package_file_bytes(int format, std::string_view package_rows) {
    const std::string body = file_text(package_rows);
    std::string bytes;
    if (format == 4) {
        const std::string& header = format4_header_bytes();
        const std::string rows = gbk_to_utf16le(body);
        bytes.reserve(header.size() + rows.size());
        bytes.append(header).append(rows);
    } else {
        const std::string& header = format5_header();
        bytes.reserve(header.size() + body.size());
        bytes.append(header).append(body);
    }
    return bytes;
}

std::string append_refusal(int format, std::string_view bytes) {
    const PackageTable table = read_package_table(bytes);
    if (table.format == 0) return "不是数据包文件"_gbk;
    if (table.format != format) return "数据包格式不同"_gbk;
    if (!table.headerMatches) return "表头不是数据包的表头"_gbk;
    const std::string_view text = format == 4 && bytes.size() >= 2
                                      ? bytes.substr(0, bytes.size() - 2)
                                      : bytes;
    const bool endsWithBreak = format == 4 ? text.size() >= 2 && text.substr(text.size() - 2) ==
                                                                     std::string_view("\n\0", 2)
                                           : !text.empty() && text.back() == '\n';
    if (!table.terminated || !endsWithBreak) return "文件不完整"_gbk;
    if (table.badByte != std::string_view::npos) {
        return "第 "_gbk + std::to_string(table.badLine) + " 行有无法读取的字节"_gbk;
    }
    for (const PackageRecord& record : table.records) {
        if (!record.error.empty() ||
            static_cast<int>(record.fields.size()) != package_field_count(format)) {
            return "第 "_gbk + std::to_string(record.line) + " 行不完整"_gbk;
        }
    }
    return {};
}

std::string appended_package_bytes(int format, std::string_view existing,
                                   std::string_view package_rows) {
    const std::string body = file_text(package_rows);
    std::string bytes(existing);
    if (format == 4) {
        bytes.resize(bytes.size() >= 2 ? bytes.size() - 2 : 0);  // the old closing unit
        bytes.append(gbk_to_utf16le(body));
    } else {
        bytes.append(body);
    }
    return bytes;
}

PackageWriteResult write_package_file(int format, std::string_view output_path,
                                      std::string_view package_rows, LogSink& log,
                                      const Clock& clock, const std::function<bool()>& may_commit) {
    return write_package_bytes(output_path, package_file_bytes(format, package_rows), log, clock,
                               may_commit);
}

PackageWriteResult write_package_bytes(std::string_view output_path, std::string_view bytes,
                                       LogSink& log, const Clock& clock,
                                       const std::function<bool()>& may_commit) {
    const ReplaceResult replaced = replace_file(output_path, bytes, true, may_commit);
    const PackageWriteResult result = replaced == ReplaceResult::Written ? PackageWriteResult::Written
                                      : replaced == ReplaceResult::Abandoned
                                          ? PackageWriteResult::Abandoned
                                          : PackageWriteResult::Failed;
    if (result == PackageWriteResult::Abandoned) return result;
    const std::string& text = result == PackageWriteResult::Written
                                  ? " 文件写成功！\r\n"_gbk
                                  : " 文件写失败！请检查保存路径！\r\n"_gbk;
    log.append_log(log_time_stamp(clock) + text);
    return result;
}

}  // namespace vq
