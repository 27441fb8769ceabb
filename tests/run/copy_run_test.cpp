// Whole copy runs against the stand-in: the package on disk read back as a seller
// assistant would read it.

#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "output/package_check.hpp"
#include "output/package_layout.hpp"
#include "run_fixture.hpp"

namespace {

using runtest::RunFixture;
using runtest::picture_names;
using runtest::picture_url;

// Quote-aware split of a table into rows of fields ("" inside quotes is one quote).
std::vector<std::vector<std::string>> parse_table(std::string_view text, char separator) {
    std::vector<std::vector<std::string>> rows(1);
    rows.back().emplace_back();
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = rows.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == separator) {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            rows.emplace_back();
            rows.back().emplace_back();
        } else {
            field += c;
        }
    }
    if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
    return rows;
}

// UTF-16LE to UTF-8 (enough for what the package holds).
std::string utf16le_to_utf8(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = static_cast<unsigned char>(bytes[i]) |
                     static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            const char32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                                 static_cast<unsigned char>(bytes[i + 3]) << 8;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Picture names of a picture-list column ("name:1:pos:|;" each), checking positions.

// Every "file://" address in a description names a file that exists.
int check_local_pictures(const std::string& description, const std::string& utf8_folder) {
    int found = 0;
    for (std::size_t at = description.find("file://"); at != std::string::npos;
         at = description.find("file://", at + 1)) {
        const std::size_t end = description.find('"', at);
        const std::string path = description.substr(at + 7, end - at - 7);
        EXPECT_EQ(path.rfind(utf8_folder, 0), 0u) << path;
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
        ++found;
    }
    return found;
}

// The log lines of each thread, so that a product's lines can be told from the others'.
class ThreadLog final : public vq::LogSink {
public:
    void append_log(std::string_view text) override {
        std::lock_guard lock(mutex_);
        lines_[std::this_thread::get_id()].emplace_back(text);
    }
    // Each product's lines (from its start line on), and the other lines; time stamps and
    // worker numbers left out.
    std::pair<std::multiset<std::vector<std::string>>, std::multiset<std::string>> split() {
        std::lock_guard lock(mutex_);
        std::multiset<std::vector<std::string>> products;
        std::multiset<std::string> others;
        for (auto& [thread, lines] : lines_) {
            std::vector<std::string> product;
            for (const std::string& raw : lines) {
                std::string line = vq::gbk_to_utf8(raw.substr(raw.find(' ') + 1));
                line = std::regex_replace(line, std::regex("线程：\\d+"), "线程：*");
                if (line.find("开始下载 第：") != std::string::npos && line.find("个宝贝:") != std::string::npos) {
                    if (!product.empty()) products.insert(product);
                    product.clear();
                }
                // Rows stand in the order products finished, which is the timing's choice.
                if (line.find("提醒：") != std::string::npos)
                    line = std::regex_replace(line, std::regex("第 \\d+ 行"), "第 * 行");
                // Which worker ends the run, after which product, is the timing's choice.
                if (line.find("下载完成！成功") != std::string::npos)
                    line = std::regex_replace(line, std::regex("第：\\d+/"), "第：*/");
                if (line.find("下载完成！成功") != std::string::npos || line.find("文件写") != std::string::npos ||
                    line.find("检查：") != std::string::npos || line.find("图片失败：") != std::string::npos ||
                    line.find("去除空ID") != std::string::npos || line.find("提醒：") != std::string::npos) {
                    others.insert(line);
                } else {
                    product.push_back(line);
                }
            }
            if (!product.empty()) products.insert(product);
        }
        return {products, others};
    }

private:
    std::mutex mutex_;
    std::map<std::thread::id, std::vector<std::string>> lines_;
};

// What a run leaves, with what rightly differs between two runs taken out: the package
// folder's own path, main picture names (they carry the time; compared by position), the
// order of rows.
struct RunOutput {
    std::map<std::string, std::vector<std::string>> rows;         // by offer id
    std::map<std::string, std::vector<std::string>> mainPictures;  // bytes by position
    std::map<std::string, std::string> otherFiles;                // relative path: bytes
    std::multiset<std::vector<std::string>> productLines;
    std::multiset<std::string> otherLines;
    int pictureRequests = 0;
};

class CopyRunTest : public RunFixture {
protected:
    void run_to_completion(int format, int products) {
        fill_list(products);
        make_controller(format, true);
        ASSERT_TRUE(controller->start_run().started);
        ASSERT_TRUE(observer.wait_completed(120));
    }

    RunOutput copy_run(int format, int products, bool ahead, const std::string& name);

    std::set<std::string> list_ids() const {
        std::set<std::string> ids;
        for (const auto& row : list.rows()) ids.insert(row.offerId);
        return ids;
    }
};

TEST_F(CopyRunTest, TaobaoAssistantPackage) {
    start_sim();
    run_to_completion(5, 20);
    EXPECT_EQ(observer.totals.succeeded, 20);
    const auto bytes = vq::read_file_bytes(package_path());
    ASSERT_TRUE(bytes);
    const auto table = parse_table(vq::gbk_to_utf8(*bytes), ',');
    ASSERT_EQ(table.size(), 23u);
    EXPECT_EQ(table[0][0], "version 1.00");
    EXPECT_EQ(table[1][0], "title");
    std::set<std::string> ids;
    int local_pictures = 0;
    for (std::size_t r = 3; r < table.size(); ++r) {
        const auto& row = table[r];
        ASSERT_EQ(row.size(), 48u) << r;
        ids.insert(row[36]);
        EXPECT_FALSE(row[0].empty());
        EXPECT_EQ(row[30], ";");
        const auto names = picture_names(row[28]);
        EXPECT_FALSE(names.empty());
        for (const auto& name : names) {
            EXPECT_TRUE(std::filesystem::is_regular_file(package_folder() + "/" + name + ".tbi"))
                << name;
        }
        local_pictures += check_local_pictures(row[20], package_folder() + "/");
    }
    EXPECT_EQ(ids, list_ids());
    EXPECT_GT(local_pictures, 20);
}

TEST_F(CopyRunTest, AlibabaAssistantPackage) {
    start_sim();
    run_to_completion(4, 20);
    EXPECT_EQ(observer.totals.succeeded, 20);
    const auto bytes = vq::read_file_bytes(package_path());
    ASSERT_TRUE(bytes);
    ASSERT_GE(bytes->size(), 4u);
    EXPECT_EQ(bytes->substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes->substr(bytes->size() - 2), std::string("\0\0", 2));
    std::string text = utf16le_to_utf8(std::string_view(*bytes).substr(2, bytes->size() - 4));
    // Three header lines end in LF alone; the rows in CR LF.
    std::size_t body = 0;
    for (int i = 0; i < 3; ++i) body = text.find('\n', body) + 1;
    EXPECT_EQ(text.substr(0, 19), "appname:alizhuli;ve");
    const auto table = parse_table(std::string_view(text).substr(body), '\t');
    ASSERT_EQ(table.size(), 20u);
    std::set<std::string> ids;
    for (const auto& row : table) {
        ASSERT_EQ(row.size(), 25u);
        ids.insert(row[0]);
        EXPECT_EQ(row[9].front(), '{');
        EXPECT_EQ(row[11].front(), '[');
        for (const auto& name : picture_names(row[3])) {
            EXPECT_TRUE(std::filesystem::is_regular_file(package_folder() + "/" + name + ".ali"));
        }
        check_local_pictures(row[7], package_folder() + "/");
    }
    EXPECT_EQ(ids, list_ids());
}

// The title a product's subject becomes once cleaned (the stand-in writes "&" as "&amp;").
std::string cleaned_title(std::string title) {
    for (char& c : title) {
        if (c == '&' || c == '*' || c == '|' || c == '?') c = ' ';
    }
    return title;
}


// Values as sellers type them, at latency 0, in both formats: every row reads back under
// strict quoting into its column count and its original texts, every picture name is used
// once, and every picture file holds the bytes fetched for its position.
TEST_F(CopyRunTest, HostileValuesMakeAPackageThatReadsBackWhole) {
    vq::sim::SimOptions options;
    options.hostile = true;
    start_sim(options);
    for (const int format : {5, 4, 6}) {
        SCOPED_TRACE(format);
        observer.reset_completions();
        list.replace_all({});
        std::filesystem::remove_all(package_folder());
        run_to_completion(format, 16);
        ASSERT_EQ(observer.totals.succeeded, 16);
        EXPECT_TRUE(observer.totals.checkClean) << vq::gbk_to_utf8(observer.totals.checkSummary);
        // vq check reads it as the same format, clean.
        const vq::PackageCheck check = vq::check_package(package_path(), package_folder());
        EXPECT_EQ(check.format, format);
        EXPECT_TRUE(check.clean()) << vq::gbk_to_utf8(check.summary);

        const auto rows = runtest::read_package_strictly(package_path(), folder.path);
        ASSERT_EQ(rows.size(), 16u);
        const vq::PackageLayout& layout = vq::package_layout(*vq::format_from_number(format));
        const auto column = [&](vq::ColumnSource source) {
            return static_cast<std::size_t>(layout.column_of(source));
        };
        const std::size_t id_column = column(vq::ColumnSource::OfferId);
        const std::size_t title_column = column(vq::ColumnSource::Title);
        const std::size_t picture_column = column(vq::ColumnSource::MainPictures);
        const std::size_t description_column = column(vq::ColumnSource::Description);
        const std::string extension(vq::main_picture_extension(layout.format));
        std::set<std::string> names;
        int expected_failures = 0;
        for (const auto& row : rows) {
            const vq::sim::Product* p = sim.catalogue().find_offer(row[id_column]);
            ASSERT_NE(p, nullptr) << row[id_column];
            EXPECT_EQ(row[title_column], cleaned_title(p->title));
            ASSERT_EQ(row.size(), static_cast<std::size_t>(layout.field_count()));
            if (format != 4) {
                EXPECT_EQ(row[9], p->amount);  // "1,000" whole in its field
            }
            // The description shows what the seller wrote: one quote where the seller typed
            // one, the seller's entities as typed, the answer's own escaping undone once.
            const std::string& html = row[description_column];
            EXPECT_NE(html.find("欢迎新老客户\"批发\"选购"), std::string::npos) << html;
            EXPECT_NE(html.find("<p>“" + p->slogan + "”"), std::string::npos) << html;
            EXPECT_EQ(html.find("&amp;amp;amp;"), std::string::npos) << html;
            EXPECT_EQ(html.find("&amp;quot;"), std::string::npos) << html;
            if (p->title.find('"') != std::string::npos) {
                EXPECT_NE(html.find("&quot;"), std::string::npos) << html;  // the title's, escaped
            }

            std::vector<std::string> fetched;
            for (const auto& picture : p->mainPictures) {
                if (picture.exists && !picture.empty) {
                    fetched.push_back(vq::fetch_picture(picture_url(picture, sim.port())));
                } else {
                    ++expected_failures;
                }
            }
            expected_failures += p->missing_description_pictures();
            const auto listed = picture_names(row[picture_column]);
            ASSERT_EQ(listed.size(), fetched.size());
            for (std::size_t k = 0; k < listed.size(); ++k) {
                EXPECT_TRUE(names.insert(listed[k]).second) << "used twice: " << listed[k];
                EXPECT_EQ(vq::read_file_bytes(package_folder() + "/" + listed[k] + extension),
                          fetched[k])
                    << k;
            }

            // The address that starts another and its case twin each point at their own file.
            const std::string& description = row[description_column];
            for (const char* tail : {"_ov.jpg", "_ov.jpg_100x100.jpg", "_OV.jpg"}) {
                const std::string address =
                    "img.localhost:" + std::to_string(sim.port()) + "/desc/" + p->offerId + tail;
                const std::string bytes = vq::fetch_picture("http://" + address);
                ASSERT_FALSE(bytes.empty());
                const std::string file = vq::md5_text(address, true) + ".jpg";
                const auto at = description.find("/" + file + "\"");
                EXPECT_NE(at, std::string::npos) << file;
                const std::size_t from = description.rfind("file://", at) + 7;
                const std::string path = description.substr(from, at + 1 + file.size() - from);
                EXPECT_EQ(vq::read_file_bytes(vq::utf8_to_gbk(path)), bytes) << path;
                EXPECT_EQ(description.find("http://" + address + "\""), std::string::npos);
            }
        }
        // Nothing but the listed pictures lies in the package folder itself.
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(package_folder()))
            files += entry.is_regular_file();
        EXPECT_EQ(files, names.size());
        EXPECT_EQ(observer.totals.failedPictures, expected_failures);
        EXPECT_GT(expected_failures, 0);
        // The completion names each product that lost pictures, with how many.
        int named = 0;
        const std::string caption = vq::utf8_to_gbk("，图片失败 ");
        for (const std::string& line : observer.totals.pictureLosses) {
            const std::size_t at = line.rfind(caption);
            ASSERT_NE(at, std::string::npos) << vq::gbk_to_utf8(line);
            named += std::stoi(line.substr(at + caption.size()));
        }
        EXPECT_EQ(named, expected_failures);
    }
}

// Runs the first products of the catalogue with pictures ahead or one at a time into a
// folder of its own and reads back what it left.
RunOutput CopyRunTest::copy_run(int format, int products, bool ahead, const std::string& name) {
    RunOutput out;
    ThreadLog log;
    state.outputFormat = *vq::format_from_number(format);
    state.pictureFailurePolicy = vq::FailurePolicy::RetryThenRemove;
    options.downloadDescriptionPictures = true;
    const std::string folder = this->folder.path + "/" + name;
    std::filesystem::create_directories(folder);
    state.set_output(folder + "/", "pkg");
    outputPath.set(folder + "/pkg.csv");
    list.replace_all({});
    fill_list(products);
    observer.reset_completions();
    vq::RunPorts ports = run_ports(log);
    ports.picturesAhead = ahead;
    const std::string before = sim.stats_text();
    vq::BatchController controller(ports);
    EXPECT_TRUE(controller.start_run().started);
    EXPECT_TRUE(observer.wait_idle(120));
    const std::string stats = sim.stats_text();
    const auto pictures = [](const std::string& text) {
        const auto at = text.find("picture ");
        return at == std::string::npos ? 0 : std::stoi(text.substr(at + 8));
    };
    out.pictureRequests = pictures(stats) - pictures(before);

    const std::size_t id_column = format == 4 ? 0 : 36, picture_column = format == 4 ? 3 : 28;
    const std::string extension = format == 4 ? ".ali" : ".tbi";
    std::set<std::string> mainFiles;
    for (auto row : runtest::read_package_strictly(folder + "/pkg.csv", this->folder.path)) {
        const std::vector<std::string> names = picture_names(row[picture_column]);
        auto& bytes = out.mainPictures[row[id_column]];
        for (std::size_t k = 0; k < names.size(); ++k) {
            bytes.push_back(vq::read_file_bytes(folder + "/pkg/" + names[k] + extension).value_or("?"));
            mainFiles.insert(names[k] + extension);
            for (std::string& field : row) field = vq::replace_all(field, names[k], "#" + std::to_string(k));
        }
        for (std::string& field : row) field = vq::replace_all(field, folder, "<folder>");
        out.rows[row[id_column]] = row;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder + "/pkg")) {
        const std::string relative = std::filesystem::relative(entry.path(), folder + "/pkg").string();
        if (!entry.is_regular_file() || mainFiles.count(relative)) continue;
        out.otherFiles[relative] = vq::read_file_bytes(vq::utf8_to_gbk(entry.path().string())).value_or("?");
    }
    std::tie(out.productLines, out.otherLines) = log.split();
    return out;
}

// Pictures fetched ahead side by side and saved ones reused change nothing a user can see:
// the same package, the same files with the same bytes, the same log lines of each product
// in the same order; only fewer requests.
TEST_F(CopyRunTest, PicturesAheadAndReusedLeaveTheSameOutput) {
    const struct {
        const char* name;
        int format;
        bool hostile;
        int shared;  // description pictures drawn from the shop's pool
    } cases[] = {{"hostile", 5, true, 0}, {"shared", 4, false, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim.stop();
        vq::sim::SimOptions options;
        options.hostile = c.hostile;
        if (c.shared > 0) {
            options.mainPictures = 3;
            options.descriptionPictures = 4;
            options.sharedDescriptionPictures = c.shared;
        }
        start_sim(options);
        const RunOutput one = copy_run(c.format, 24, false, std::string(c.name) + "-one");
        const RunOutput ahead = copy_run(c.format, 24, true, std::string(c.name) + "-ahead");
        EXPECT_EQ(one.rows.size(), 24u);
        EXPECT_EQ(ahead.rows, one.rows);
        EXPECT_EQ(ahead.mainPictures, one.mainPictures);
        EXPECT_EQ(ahead.otherFiles, one.otherFiles);
        EXPECT_EQ(ahead.productLines, one.productLines);
        EXPECT_EQ(ahead.otherLines, one.otherLines) << [&] {
            std::string text;
            for (const auto& l : one.otherLines) text += "one: " + l;
            for (const auto& l : ahead.otherLines) text += "ahead: " + l;
            return text;
        }();
        EXPECT_EQ(ahead.productLines.size(), 24u);
        if (c.shared > 0) {
            EXPECT_LT(ahead.pictureRequests, one.pictureRequests);
        } else {
            EXPECT_LE(ahead.pictureRequests, one.pictureRequests);
        }
    }
}

// Picture requests the stand-in has seen whose target holds `part` (and not `but`).
int picture_requests(const vq::sim::MarketplaceSim& sim, const std::string& part,
                     const std::string& but = "\x01") {
    int n = 0;
    for (const std::string& line : vq::split_text(sim.stats_text(), "\n")) {
        if (line.rfind("picture ", 0) == 0 && line.find(part) != std::string::npos &&
            line.find(but) == std::string::npos) {
            n += std::stoi(line.substr(8));
        }
    }
    return n;
}

// Five workers that ask for one address at the same moment make one request for it, and all
// get its bytes.
TEST_F(CopyRunTest, APictureAskedForByEveryWorkerAtOnceIsFetchedOnce) {
    vq::sim::SimOptions options;
    options.shops = 1;
    options.productsPerShop = 8;
    options.mainPictures = 3;
    options.sharedMainPicture = true;
    start_sim(options);
    fill_list(8);
    make_controller(5, false);
    // The shared picture waits at the gate until each of the first five products has asked
    // for its other main pictures, so each has asked for the shared one too.
    sim.hold_requests("picture", "_shared.jpg");
    ASSERT_TRUE(controller->start_run().started);
    // Wait for the held request itself too: the other pictures may reach the stand-in first.
    ASSERT_TRUE(wait_for([&] { return picture_requests(sim, "/main/", "_shared") >= 10; }));
    ASSERT_TRUE(sim.wait_held(1, std::chrono::seconds(10)));
    EXPECT_EQ(sim.held_count(), 1);
    sim.release_requests();
    ASSERT_TRUE(observer.wait_completed());
    EXPECT_EQ(picture_requests(sim, "_shared.jpg"), 1);
    EXPECT_EQ(observer.totals.succeeded, 8);
    EXPECT_EQ(observer.totals.failedPictures, 0);
    EXPECT_TRUE(observer.totals.checkClean) << vq::gbk_to_utf8(observer.totals.checkSummary);
    // Read back strictly: every row's pictures are files of their own, each holding the bytes
    // the stand-in serves for its position (the shared one included).
    std::set<std::string> names;
    const auto rows = runtest::read_package_strictly(package_path(), folder.path);
    ASSERT_EQ(rows.size(), 8u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 48u);
        const vq::sim::Product* p = sim.catalogue().find_offer(row[36]);
        ASSERT_NE(p, nullptr) << row[36];
        const auto pictures = picture_names(row[28]);
        ASSERT_EQ(pictures.size(), p->mainPictures.size());
        for (std::size_t k = 0; k < pictures.size(); ++k) {
            EXPECT_TRUE(names.insert(pictures[k]).second) << "used twice: " << pictures[k];
            const std::string fetched = vq::fetch_picture(picture_url(p->mainPictures[k], sim.port()));
            ASSERT_FALSE(fetched.empty());
            EXPECT_EQ(vq::read_file_bytes(package_folder() + "/" + pictures[k] + ".tbi"), fetched)
                << row[36] << " " << k;
        }
    }
    // No second name of a shared picture is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(package_folder()))
        EXPECT_EQ(entry.path().filename().string().rfind(".vq-part-", 0), std::string::npos);
}

TEST_F(CopyRunTest, FaultsNeverLoseCountOrTheRun) {
    vq::sim::SimOptions options;
    options.faults.error = 0.4;
    options.faults.empty = 0.05;
    options.faults.malformed = 0.05;
    options.faults.reset = 0.05;
    options.faults.hang = 0.02;
    start_sim(options);
    vq::set_default_timeout_seconds(2);
    run_to_completion(5, 30);
    vq::set_default_timeout_seconds(0);
    EXPECT_EQ(observer.totals.productCount, 30);
    EXPECT_EQ(observer.totals.succeeded + observer.totals.failed, 30);
    EXPECT_TRUE(observer.totals.packageWritten);
    // Error answers were retried with the other key pair.
    EXPECT_GT(log.count_containing("正在重试"), 0);
    EXPECT_GT(gateway_requests(), 30);
    const auto bytes = vq::read_file_bytes(package_path());
    ASSERT_TRUE(bytes);
    const auto table = parse_table(vq::gbk_to_utf8(*bytes), ',');
    EXPECT_EQ(static_cast<int>(table.size()) - 3, observer.totals.succeeded);
}

TEST_F(CopyRunTest, AnUnwritablePackageIsReportedNotClaimed) {
    start_sim();
    fill_list(2);
    make_controller(5, false);
    // A folder where the table should go: the write itself fails.
    ASSERT_TRUE(std::filesystem::create_directory(folder.path + "/table.csv"));
    outputPath.set(folder.path + "/table.csv");
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_completed());
    EXPECT_FALSE(observer.totals.packageWritten);
    EXPECT_EQ(log.count_containing(" 文件写失败！"), 1);
    EXPECT_EQ(log.count_containing(" 文件写成功！"), 0);
}

}  // namespace
