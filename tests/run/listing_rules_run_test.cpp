// Packages made against the stand-in with and without listing rules.

#include "run/offer_pipeline.hpp"
#include "content/description.hpp"
#include "output/package_writer.hpp"
#include "run_fixture.hpp"

namespace {

using runtest::RunFixture;

class FixedClock final : public vq::Clock {
public:
    vq::LocalDateTime now() const override { return {2014, 3, 18, 9, 5, 7, 123}; }
};

class ListingRulesRunTest : public RunFixture {
protected:
    // The package bytes of the first `count` products processed one after another by one
    // worker, with a fixed clock (so picture names repeat from run to run) and the
    // stand-in's port written as PORT.
    std::string package_of(int format, int count, const vq::RunSettings& settings) {
        list.replace_all({});
        fill_list(count);
        state.reset_run(list.row_count());
        vq::make_directory(package_folder());
        FixedClock clock;
        vq::MillisSequence millis;
        vq::RunEnvironment environment;
        environment.list = &list;
        environment.state = &state;
        environment.options = &options;
        environment.log = &log;
        environment.clock = &clock;
        environment.millis = &millis;
        environment.settings = settings;
        environment.settings.packageFolder = package_folder();
        environment.settings.outputFormat = *vq::format_from_number(format);
        vq::ProductPipeline pipeline(1, environment);
        std::string rows;
        for (int n = 1; n <= count; ++n) {
            if (const auto row = pipeline.process_product(n)) rows += *row;
        }
        rows = vq::replace_all(rows, "localhost:" + std::to_string(sim.port()), "localhost:PORT");
        return vq::package_file_bytes(*vq::format_from_number(format), rows);
    }
};

// With no rule set, the package is byte for byte the one made before rules existed
// (tests/data/run/*.reference, written by the program as it was then). Values as sellers
// type them, so the quoting, SKU and price-range texts are all in play.
TEST_F(ListingRulesRunTest, NoRulesGiveThePackageOfBefore) {
    vq::sim::SimOptions sim_options;
    sim_options.hostile = true;
    start_sim(sim_options);
    for (const int format : {5, 4}) {
        SCOPED_TRACE(format);
        const std::string bytes = package_of(format, 12, vq::RunSettings{});
        const std::string reference = std::string(VQ_TEST_DATA_DIR) + "/run/no_rules_format" +
                                      std::to_string(format) + ".reference";
        // Only for a changed stand-in catalogue: VQ_WRITE_REFERENCE=1 writes the files anew.
        if (std::getenv("VQ_WRITE_REFERENCE")) {
            ASSERT_TRUE(vq::write_file_atomic(reference, bytes));
        }
        const auto expected = vq::read_file_bytes(reference);
        ASSERT_TRUE(expected) << reference;
        ASSERT_EQ(bytes.size(), expected->size());
        const auto differ = std::mismatch(bytes.begin(), bytes.end(), expected->begin());
        EXPECT_EQ(differ.first, bytes.end()) << "first difference at byte "
                                             << (differ.first - bytes.begin());
    }
}

// The rules in force are the ones of START: saving others during the run changes nothing
// of it. Titles, prices and pictures of the package follow them, pictures past the kept
// number are never asked for, and the description folder is named from the final title.
TEST_F(ListingRulesRunTest, ARunUsesTheRulesOfItsStart) {
    start_sim();
    fill_list(8);
    make_controller(5, true);
    vq::ListingRules rules;
    rules.priceFactor = *vq::parse_price_factor("2");
    rules.priceEnding = vq::PriceEnding::NinetyNine;
    rules.titlePrefix = vq::utf8_to_gbk("【现货】");
    rules.keepPictures = 2;
    state.set_rules(rules);
    ASSERT_TRUE(controller->start_run().started);
    state.set_rules({});
    ASSERT_TRUE(observer.wait_completed(120));
    ASSERT_EQ(observer.totals.succeeded, 8);

    const auto rows = runtest::read_package_strictly(package_path(), folder.path);
    ASSERT_EQ(rows.size(), 8u);
    for (const auto& row : rows) {
        const vq::sim::Product* p = sim.catalogue().find_offer(row[36]);
        ASSERT_NE(p, nullptr);
        std::string title = "【现货】" + p->title;
        for (char& c : title) {
            if (c == '&' || c == '*' || c == '|' || c == '?') c = ' ';  // the title clean-up
        }
        EXPECT_EQ(row[0], title);
        EXPECT_EQ(row[7], vq::apply_price_rule(p->retailPrice, rules).text);
        EXPECT_NE(row[7], p->retailPrice);
        const std::size_t kept = vq::split_text(row[28], ":|;").size();
        EXPECT_EQ(kept, std::min<std::size_t>(2, p->mainPictures.size()));
        if (p->description_picture_count() > 0) {
            const std::string subfolder =
                vq::gbk_to_utf8(vq::product_folder_name(vq::utf8_to_gbk(title)));
            EXPECT_TRUE(std::filesystem::is_directory(package_folder() + "/" + subfolder))
                << subfolder;
        }
    }
    int main_pictures_asked = 0;
    for (const std::string& line : vq::split_text(sim.stats_text(), "\n")) {
        main_pictures_asked += line.find(" /main/") != std::string::npos;
    }
    EXPECT_LE(main_pictures_asked, 16);
    EXPECT_GT(main_pictures_asked, 0);
}

}  // namespace
