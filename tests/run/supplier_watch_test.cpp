// Watching the supplier as a user does it: vq copy makes a package and its source file, the
// supplier changes some offers, vq watch finds each change once and nothing else.

#include <signal.h>

#include <map>
#include <set>

#include "model/list_file.hpp"
#include "output/package_layout.hpp"
#include "output/source_file.hpp"
#include "run_fixture.hpp"

namespace {

using runtest::RunFixture;
using vq::sim::OfferChange;

class SupplierWatchTest : public RunFixture {
protected:
    void SetUp() override {
        start_sim();
        home = folder.path + "/home";
        std::filesystem::create_directories(home + "/options");
        ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", sim.site_ini()));
        fill_list(12);
        list_file = folder.path + "/list.txt";
        ASSERT_TRUE(vq::write_list_file(list_file, list.rows()));
        std::filesystem::create_directories(folder.path + "/out");
        package = folder.path + "/out/shop.csv";
    }

    int run(std::vector<std::string> args) {
        args.insert(args.begin(), VQ_PATH);
        return runtest::wait_process(runtest::spawn_process(std::move(args), folder.path), folder.path,
                                     stdout_text, stderr_text);
    }

    const vq::sim::Product& product(int index) const {
        return sim.catalogue().products()[static_cast<std::size_t>(index)];
    }

    // The changes file's rows by offer id: the kinds column and the whole row.
    std::map<std::string, std::vector<std::string>> changes() const {
        std::map<std::string, std::vector<std::string>> rows;
        const std::string bytes = vq::read_file_bytes(folder.path + "/out/shop.changes.tsv").value_or("");
        EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
        const auto lines = vq::split_text(bytes, "\n");
        for (std::size_t i = 1; i < lines.size(); ++i) {
            if (lines[i].empty()) continue;
            // Every field, the empty last ones too.
            std::vector<std::string> fields(1);
            for (const char c : lines[i]) {
                if (c == '\t') {
                    fields.emplace_back();
                } else {
                    fields.back() += c;
                }
            }
            EXPECT_EQ(fields.size(), 10u) << lines[i];
            rows[fields[0]] = fields;
        }
        return rows;
    }

    std::string home, list_file, package, stdout_text, stderr_text;
};

TEST_F(SupplierWatchTest, EachChangeIsFoundOnceAndNothingElse) {
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", package, "--home", home, "--price-factor", "2"}), 0)
        << stderr_text;
    // The run remembered what the supplier gave, before the rules.
    const auto source = vq::read_source_file(vq::read_file_bytes(folder.path + "/out/shop.source.tsv").value_or(""));
    ASSERT_TRUE(source);
    ASSERT_EQ(source->entries.size(), 12u);
    for (const vq::SourceEntry& e : source->entries) {
        const vq::sim::Product* p = sim.catalogue().find_offer(e.offerId);
        ASSERT_NE(p, nullptr) << e.offerId;
        EXPECT_EQ(e.retailPrice, p->retailPrice);
        EXPECT_EQ(e.amountOnSale, p->amountOnSale);
        EXPECT_EQ(e.priceRule, "factor=2;add=0;ending=none");
    }

    // Nothing changed yet.
    EXPECT_EQ(run({"watch", package, "--home", home}), 0) << stderr_text;
    EXPECT_NE(stdout_text.find("检查 12 个宝贝：价格变化 0，库存变化 0，规格变化 0，下架 0，失败 0，未变 12"),
              std::string::npos)
        << stdout_text;
    EXPECT_TRUE(changes().empty());

    const struct {
        int index;
        OfferChange change;
        const char* kinds;
    } made[] = {
        {1, OfferChange::PriceUp, "价格"},    {2, OfferChange::PriceDown, "价格"},
        {3, OfferChange::Stock, "库存"},      {4, OfferChange::SkuAdded, "规格"},
        {6, OfferChange::SkuRemoved, "规格"}, {7, OfferChange::TakenDown, "下架"},
    };
    for (const auto& m : made) ASSERT_TRUE(sim.change_offer(product(m.index).offerId, m.change));
    EXPECT_EQ(run({"watch", package, "--home", home}), 1) << stderr_text;
    EXPECT_NE(stdout_text.find("检查 12 个宝贝：价格变化 2，库存变化 1，规格变化 2，下架 1，失败 0，未变 6"),
              std::string::npos)
        << stdout_text;
    const auto rows = changes();
    EXPECT_EQ(rows.size(), std::size(made));
    for (const auto& m : made) {
        SCOPED_TRACE(m.index);
        const auto row = rows.find(product(m.index).offerId);
        ASSERT_NE(row, rows.end());
        EXPECT_EQ(row->second[2], m.kinds);
    }
    // The new price and what it lists at under the package's rule.
    const auto& up = rows.at(product(1).offerId);
    const vq::sim::Product& raised = product(1);
    const std::string first = raised.priceRanges.empty() ? raised.retailPrice : raised.priceRanges.front().price;
    EXPECT_EQ(up[4], first);
    EXPECT_EQ(up[5], vq::apply_price_rule(first, vq::price_rule_of(source->entries[1])).text);
    EXPECT_EQ(rows.at(product(3).offerId)[7], product(3).amountOnSale);
    EXPECT_NE(rows.at(product(4).offerId)[8].find("新增 added" + product(4).offerId), std::string::npos);
    EXPECT_NE(rows.at(product(6).offerId)[8].find("取消 "), std::string::npos);
}

// An update that cannot write the gone list changes nothing and says so.
TEST_F(SupplierWatchTest, AnUpdateTheDiskRefusesLeavesThePackageAsItWas) {
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", package, "--home", home}), 0) << stderr_text;
    const std::string before = vq::read_file_bytes(package).value_or("");
    std::filesystem::create_directories(folder.path + "/out/shop.gone.txt");  // no file goes there
    ASSERT_TRUE(sim.change_offer(product(1).offerId, OfferChange::PriceUp));
    ASSERT_TRUE(sim.change_offer(product(2).offerId, OfferChange::TakenDown));
    EXPECT_EQ(run({"watch", package, "--home", home, "--update"}), 2);
    EXPECT_NE(stderr_text.find("下架宝贝列表无法写入"), std::string::npos) << stderr_text;
    EXPECT_NE(stderr_text.find("数据包没有改动"), std::string::npos) << stderr_text;
    EXPECT_EQ(vq::read_file_bytes(package).value_or(""), before);
}

// A supplier's server that answers with errors, nothing or cut documents: those products are
// failures with the reason, never changes (an empty answer is no news of prices).
TEST_F(SupplierWatchTest, ABrokenServerGivesFailuresNotChanges) {
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", package, "--home", home}), 0) << stderr_text;
    sim.stop();
    vq::sim::SimOptions faulty;
    faulty.faults.error = 0.3;
    faulty.faults.empty = 0.2;
    faulty.faults.malformed = 0.2;
    ASSERT_GT(sim.start(faulty), 0);  // the same catalogue, from the same seed
    ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", sim.site_ini()));
    const int code = run({"watch", package, "--home", home});
    EXPECT_TRUE(code == 0 || code == 1) << stderr_text;
    EXPECT_NE(stdout_text.find("检查 12 个宝贝：价格变化 0，库存变化 0，规格变化 0，下架 0，"), std::string::npos)
        << stdout_text;
    for (const auto& [id, row] : changes()) {
        EXPECT_EQ(row[2], "失败") << id;
        EXPECT_FALSE(row[9].empty()) << id;
    }
}

// --append adds the new products' rows to the source file and keeps the others.
TEST_F(SupplierWatchTest, AppendKeepsTheSourceFileWhole) {
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", package, "--home", home}), 0) << stderr_text;
    std::vector<vq::ProductEntry> more;
    for (int i = 12; i < 14; ++i) {
        const auto& p = product(i);
        more.push_back({vq::utf8_to_gbk(p.title), p.price, "http://example/" + p.offerId, p.offerId});
    }
    const std::string moreList = folder.path + "/more.txt";
    ASSERT_TRUE(vq::write_list_file(moreList, more));
    ASSERT_EQ(run({"copy", "--list", moreList, "--out", package, "--home", home, "--append"}), 0) << stderr_text;
    const auto source = vq::read_source_file(vq::read_file_bytes(folder.path + "/out/shop.source.tsv").value_or(""));
    ASSERT_TRUE(source);
    std::set<std::string> ids;
    for (const vq::SourceEntry& e : source->entries) ids.insert(e.offerId);
    EXPECT_EQ(source->entries.size(), 14u);
    EXPECT_EQ(ids.size(), 14u);
    for (int i = 0; i < 14; ++i) EXPECT_EQ(ids.count(product(i).offerId), 1u) << i;
    EXPECT_EQ(run({"watch", package, "--home", home}), 0) << stdout_text << stderr_text;
}

// --update in every format: the changed offers' rows take what a fresh run under the same
// rules gives them in the columns that follow the supplier and keep every other value; the
// other rows keep their bytes; an offer taken down moves to the gone list; the result checks
// clean.
TEST_F(SupplierWatchTest, AnUpdateBringsThePackageUpToDate) {
    const auto& layout_of = [](int format) -> const vq::PackageLayout& {
        return vq::package_layout(*vq::format_from_number(format));
    };
    int offset = 20;
    for (const int format : {5, 4, 6}) {
        SCOPED_TRACE(format);
        std::vector<vq::ProductEntry> rows;
        for (int i = offset; i < offset + 8; ++i) {
            const auto& p = product(i);
            rows.push_back({vq::utf8_to_gbk(p.title), p.price, "http://example/" + p.offerId, p.offerId});
        }
        const std::string listPath = folder.path + "/list" + std::to_string(format) + ".txt";
        ASSERT_TRUE(vq::write_list_file(listPath, rows));
        const std::string name = folder.path + "/out/f" + std::to_string(format);
        const std::vector<std::string> copy = {"copy", "--list", listPath, "--home", home, "--format",
                                               std::to_string(format), "--price-factor", "2"};
        auto with_out = [&](const std::string& out) {
            std::vector<std::string> a = copy;
            a.push_back("--out");
            a.push_back(out);
            return a;
        };
        ASSERT_EQ(run(with_out(name + ".csv")), 0) << stderr_text;
        const auto before = runtest::read_package_strictly(name + ".csv", folder.path);
        const std::string beforeBytes = vq::read_file_bytes(name + ".csv").value_or("");

        const std::string raised = product(offset + 1).offerId, stocked = product(offset + 3).offerId,
                          added = product(offset + 4).offerId, gone = product(offset + 6).offerId;
        ASSERT_TRUE(sim.change_offer(raised, OfferChange::PriceUp));
        ASSERT_TRUE(sim.change_offer(stocked, OfferChange::Stock));
        ASSERT_TRUE(sim.change_offer(added, OfferChange::SkuAdded));
        ASSERT_TRUE(sim.change_offer(gone, OfferChange::TakenDown));
        ASSERT_EQ(run({"watch", name + ".csv", "--home", home, "--update"}), 1) << stderr_text;
        EXPECT_NE(stdout_text.find("数据包已更新：3 个宝贝更新，1 个下架宝贝移到："), std::string::npos)
            << stdout_text;
        EXPECT_NE(stdout_text.find("问题 0 个"), std::string::npos) << stdout_text;
        // Read back strictly, the kept pictures still those the stand-in serves.
        const auto after = runtest::expect_package_as_served(name + ".csv", name, *vq::format_from_number(format),
                                                             sim, folder.path);

        // A fresh run of the list as the supplier has it now, under the same rule.
        ASSERT_EQ(run(with_out(name + "-fresh.csv")), 0) << stderr_text;
        const auto fresh = runtest::read_package_strictly(name + "-fresh.csv", folder.path);

        const vq::PackageLayout& layout = layout_of(format);
        const std::size_t id = static_cast<std::size_t>(layout.column_of(vq::ColumnSource::OfferId));
        const auto by_id = [&](const std::vector<std::vector<std::string>>& table, const std::string& offer) {
            for (const auto& row : table)
                if (row.size() > id && row[id] == offer) return row;
            return std::vector<std::string>{};
        };
        ASSERT_EQ(after.size(), before.size() - 1);
        EXPECT_TRUE(by_id(after, gone).empty());
        for (const auto& row : before) {
            if (row[id] == gone) continue;
            SCOPED_TRACE(row[id]);
            const auto now = by_id(after, row[id]);
            ASSERT_EQ(now.size(), row.size());
            const bool changed = row[id] == raised || row[id] == stocked || row[id] == added;
            const auto supplier = by_id(fresh, row[id]);
            for (std::size_t k = 0; k < row.size(); ++k) {
                if (changed && vq::follows_supplier(layout.columns[k].source)) {
                    EXPECT_EQ(now[k], supplier[k]) << layout.columns[k].english;
                } else {
                    EXPECT_EQ(now[k], row[k]) << layout.columns[k].english;
                }
            }
            // Formats 5 and 6 carry no SKUs and the supply total, not the amount on sale; a
            // price shows in every format.
            if (row[id] == raised) {
                EXPECT_NE(now, row);
            }
        }
        const auto goneList = vq::read_list_file(name + ".gone.txt");
        ASSERT_TRUE(goneList);
        ASSERT_EQ(goneList->size(), 1u);
        EXPECT_EQ(goneList->front().offerId, gone);
        // The next watch compares with what the package holds now.
        EXPECT_EQ(run({"watch", name + ".csv", "--home", home}), 0) << stdout_text << stderr_text;
        EXPECT_NE(beforeBytes, vq::read_file_bytes(name + ".csv").value_or(""));
        offset += 8;
    }
}

// Ctrl-C while offers are asked for ends the watch with 130 and writes no changes file; a
// package without its source file is watched against its own values.
TEST_F(SupplierWatchTest, AnInterruptWritesNothing) {
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", package, "--home", home}), 0) << stderr_text;
    sim.hold_requests("gateway");
    const pid_t pid = runtest::spawn_process({VQ_PATH, "watch", package, "--home", home}, folder.path);
    ASSERT_TRUE(sim.wait_held(1));
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    EXPECT_EQ(runtest::wait_process(pid, folder.path, stdout_text, stderr_text), 130) << stderr_text;
    sim.release_requests();
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/out/shop.changes.tsv"));

    // A package made before source files: its own rows name the offers and its own prices
    // are compared, which the summary says; it cannot be updated.
    std::filesystem::remove(folder.path + "/out/shop.source.tsv");
    ASSERT_TRUE(sim.change_offer(product(2).offerId, OfferChange::PriceUp));
    EXPECT_EQ(run({"watch", package, "--home", home}), 1) << stderr_text;
    EXPECT_NE(stdout_text.find("检查 12 个宝贝：价格变化 1，库存变化 0，规格变化 0，下架 0，失败 0，未变 11（数据包没有货源记录"),
              std::string::npos)
        << stdout_text;
    EXPECT_EQ(changes().count(product(2).offerId), 1u);
    EXPECT_EQ(run({"watch", package, "--home", home, "--update"}), 2);
    EXPECT_NE(stderr_text.find("不能更新"), std::string::npos) << stderr_text;
}

}  // namespace
