// Packages made against the stand-in with and without listing rules.

#include "run/offer_pipeline.hpp"
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
        environment.settings.outputFormat = format;
        vq::ProductPipeline pipeline(1, environment);
        std::string rows;
        for (int n = 1; n <= count; ++n) {
            if (const auto row = pipeline.process_product(n)) rows += *row;
        }
        rows = vq::replace_all(rows, "localhost:" + std::to_string(sim.port()), "localhost:PORT");
        return vq::package_file_bytes(format, rows);
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

}  // namespace
