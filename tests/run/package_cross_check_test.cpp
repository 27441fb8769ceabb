// The package reader against Python's strict csv reader (tests/tools/read_package.py) on
// packages with random byte changes: a file one of them refuses, the other refuses too,
// and vq check never passes a file the strict reader refuses.

#include <gtest/gtest.h>

#include <random>

#include "output/package_check.hpp"
#include "output/package_writer.hpp"
#include "run_fixture.hpp"
#include "support/gbk_literal.hpp"

namespace {

using vq::operator""_gbk;

const std::string kJpg("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01 picture", 20);

// Runs the strict reader once over many files: one line per file, "ok" or "refused".
constexpr const char* kDriver = R"(
import contextlib, importlib.util, io, sys
spec = importlib.util.spec_from_file_location("read_package", sys.argv[1])
reader = importlib.util.module_from_spec(spec)
spec.loader.exec_module(reader)
for path in sys.argv[2:]:
    try:
        with contextlib.redirect_stdout(io.StringIO()):
            reader.main(path)
        print("ok")
    except SystemExit:
        print("refused")
)";

// Rows with what sellers type: quotes, separators and line breaks inside fields.
std::string package_rows(vq::PackageFormat format) {
    std::string rows;
    for (int p = 1; p <= 3; ++p) {
        vq::OfferRecord r;
        r.offerId = std::to_string(p);
        r.title = "宝贝\"特价\",包邮 "_gbk + std::to_string(p);
        r.amount = "5";
        r.retailPrice = "12.50";
        r.description = "<p>第一行\r\n第二行\t,</p>"_gbk;
        r.mainPictures = {"p" + std::to_string(p)};
        rows += vq::build_package_row(r, format);
    }
    return rows;
}

// What our reader refuses the table for; empty when it reads. A quote inside a bare field
// is refused by design (the seller assistant does) while Python's csv takes it: that
// reason is told apart.
struct OurVerdict {
    bool refused = false;
    bool onlyBareQuotes = true;
};

OurVerdict our_verdict(std::string_view bytes) {
    const vq::PackageTable table = vq::read_package_table(bytes);
    OurVerdict v;
    const auto refuse = [&v](bool bare_quote) {
        v.refused = true;
        if (!bare_quote) v.onlyBareQuotes = false;
    };
    if (table.format == 0 || !table.terminated || table.badByte != std::string_view::npos) refuse(false);
    if (!table.headerError.empty()) refuse(table.headerError == "未加引号的字段里有引号"_gbk);
    for (const vq::PackageRecord& record : table.records) {
        if (static_cast<int>(record.fields.size()) != vq::package_field_count(*vq::format_from_number(table.format))) refuse(false);
        if (!record.error.empty()) refuse(record.error == "未加引号的字段里有引号"_gbk);
    }
    return v;
}

TEST(PackageCrossCheck, OurReaderAndTheStrictReaderRefuseTheSameFiles) {
    runtest::TempFolder folder;
    const std::string pictures = folder.path + "/pkg";
    std::filesystem::create_directories(pictures);
    for (int p = 1; p <= 3; ++p) {
        for (const char* extension : {".tbi", ".ali"}) {
            ASSERT_TRUE(vq::write_file_atomic(pictures + "/p" + std::to_string(p) + extension, kJpg));
        }
    }
    // Bytes a change most often turns into a fault: separators, quotes, line ends, NUL,
    // lead bytes, 0x80, 0xFF and surrogate halves.
    const std::string interesting("\",\t\r\n\0\x80\x81\xA1\xFF\xD8\xDC\x40\x7F", 14);
    std::mt19937 random(24);
    const auto pick = [&random](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };

    struct Mutant {
        std::string path, bytes;
    };
    std::vector<Mutant> mutants;
    for (const vq::PackageFormat format :
         {vq::PackageFormat::Taobao, vq::PackageFormat::Alibaba, vq::PackageFormat::TaobaoToday}) {
        const std::string base = vq::package_file_bytes(format, package_rows(format));
        ASSERT_FALSE(our_verdict(base).refused);
        // The first bytes say the format; both readers would read another format's file
        // differently on purpose, so they stay.
        const std::size_t keep = format == vq::PackageFormat::Taobao        ? 8
                                 : format == vq::PackageFormat::TaobaoToday ? 28
                                                                            : 2;
        for (int n = 0; n < 300; ++n) {
            std::string bytes = base;
            const int changes = 1 + static_cast<int>(pick(3));
            for (int k = 0; k < changes; ++k) {
                const std::size_t at = keep + pick(bytes.size() - keep);
                const char b = pick(2) ? interesting[pick(interesting.size())]
                                       : static_cast<char>(pick(256));
                switch (pick(3)) {
                    case 0: bytes[at] = b; break;
                    case 1: bytes.insert(at, 1, b); break;
                    default: bytes.erase(at, 1); break;
                }
            }
            mutants.push_back({folder.path + "/m" + std::to_string(vq::format_number(format)) + "-" +
                                   std::to_string(n) + ".csv",
                               bytes});
        }
    }
    std::vector<std::string> args = {"/usr/bin/python3", "-c", kDriver, VQ_PACKAGE_READER};
    for (const Mutant& m : mutants) {
        ASSERT_TRUE(vq::write_file_atomic(m.path, m.bytes));
        args.push_back(m.path);
    }
    std::string out, err;
    ASSERT_EQ(runtest::wait_process(runtest::spawn_process(args, folder.path), folder.path, out, err), 0)
        << err;
    const std::vector<std::string> verdicts = vq::split_text(out, "\n");
    ASSERT_EQ(verdicts.size(), mutants.size());

    int refusedByPython = 0;
    for (std::size_t i = 0; i < mutants.size(); ++i) {
        SCOPED_TRACE(mutants[i].path);
        const bool python_refuses = verdicts[i] == "refused";
        refusedByPython += python_refuses;
        const OurVerdict ours = our_verdict(mutants[i].bytes);
        if (python_refuses) {
            EXPECT_TRUE(ours.refused);
            // The check of that file, with its pictures beside it, never passes it.
            std::filesystem::rename(mutants[i].path, folder.path + "/pkg.csv");
            EXPECT_FALSE(vq::check_package(folder.path + "/pkg.csv", pictures).clean());
        } else {
            EXPECT_TRUE(!ours.refused || ours.onlyBareQuotes);
        }
    }
    // The corpus holds both kinds, or it shows nothing.
    EXPECT_GT(refusedByPython, 100);
    EXPECT_LT(refusedByPython, static_cast<int>(mutants.size()) - 50);
}

}  // namespace
