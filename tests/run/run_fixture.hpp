#pragma once
// A copy run against the stand-in marketplace, with every port of the run recorded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/site_settings.hpp"
#include "output/package_layout.hpp"
#include "run/batch_controller.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/text.hpp"

extern char** environ;

namespace runtest {

// Starts a program (args[0]) as a user would, stdout and stderr going to the files
// <folder>/stdout and <folder>/stderr; its pid, or -1.
inline pid_t spawn_process(std::vector<std::string> args, const std::string& folder) {
    const std::string out = folder + "/stdout", err = folder + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for a process of spawn_process and reads what it printed; its exit code, -1 when
// it did not exit by itself.
inline int wait_process(pid_t pid, const std::string& folder, std::string& out, std::string& err) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    out = vq::read_file_bytes(folder + "/stdout").value_or("");
    err = vq::read_file_bytes(folder + "/stderr").value_or("");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The rows of a package table as Python's csv module reads it with strict=True (UTF-8
// fields); fails the test when the reader refuses the file or a row's column count.
inline std::vector<std::vector<std::string>> read_package_strictly(const std::string& path,
                                                                    const std::string& folder) {
    std::string out, err;
    const int code = wait_process(
        spawn_process({"/usr/bin/python3", VQ_PACKAGE_READER, path}, folder), folder, out, err);
    EXPECT_EQ(code, 0) << err;
    std::vector<std::vector<std::string>> rows;
    const auto hex = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (const std::string& line : vq::split_text(out, "\n")) {
        std::vector<std::string>& row = rows.emplace_back();
        for (const std::string& field : vq::split_text(line + " ", " ")) {
            std::string& text = row.emplace_back();
            for (std::size_t i = 0; i + 1 < field.size(); i += 2)
                text += static_cast<char>(hex(field[i]) * 16 + hex(field[i + 1]));
        }
    }
    return rows;
}

// Where the stand-in serves a picture.
inline std::string picture_url(const vq::sim::PictureRef& picture, int port) {
    return "http://" + std::string(vq::sim::picture_host_name(picture.host)) + ".localhost:" +
           std::to_string(port) + picture.path;
}

// The names of a package's picture column, each checked to stand at its position.
inline std::vector<std::string> picture_names(const std::string& column) {
    std::vector<std::string> names;
    for (const std::string& entry : vq::split_text(column, ":|;")) {
        const auto colon = entry.find(':');
        EXPECT_EQ(entry.substr(colon), ":1:" + std::to_string(names.size())) << entry;
        names.push_back(entry.substr(0, colon));
    }
    return names;
}

// A package read back strictly: every row its format's column count, and each main picture
// a row names a file of its own in the picture folder holding the bytes the stand-in serves
// for that position (pictures that answer 404 or nothing are not kept). The rows, for more.
inline std::vector<std::vector<std::string>> expect_package_as_served(const std::string& table,
                                                                      const std::string& pictureFolder,
                                                                      vq::PackageFormat format,
                                                                      const vq::sim::MarketplaceSim& sim,
                                                                      const std::string& scratch) {
    const vq::PackageLayout& layout = vq::package_layout(format);
    const auto id = static_cast<std::size_t>(layout.column_of(vq::ColumnSource::OfferId));
    const auto pictures = static_cast<std::size_t>(layout.column_of(vq::ColumnSource::MainPictures));
    const std::string extension(vq::main_picture_extension(format));
    const auto rows = read_package_strictly(table, scratch);
    std::set<std::string> used;
    for (const auto& row : rows) {
        EXPECT_EQ(row.size(), static_cast<std::size_t>(layout.field_count()));
        if (row.size() != static_cast<std::size_t>(layout.field_count())) continue;
        const vq::sim::Product* p = sim.catalogue().find_offer(row[id]);
        EXPECT_NE(p, nullptr) << row[id];
        if (p == nullptr) continue;
        std::vector<std::string> served;
        for (const auto& picture : p->mainPictures) {
            if (picture.exists && !picture.empty) served.push_back(vq::fetch_picture(picture_url(picture, sim.port())));
        }
        const std::vector<std::string> names = picture_names(row[pictures]);
        EXPECT_EQ(names.size(), served.size()) << row[id];
        for (std::size_t k = 0; k < names.size() && k < served.size(); ++k) {
            EXPECT_TRUE(used.insert(names[k]).second) << "used twice: " << names[k];
            EXPECT_EQ(vq::read_file_bytes(pictureFolder + "/" + names[k] + extension), served[k])
                << row[id] << " " << k;
        }
    }
    return rows;
}

class RecordingLog : public vq::LogSink {
public:
    void append_log(std::string_view text) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(text);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    // Lines (GBK) holding the UTF-8 text given.
    int count_containing(std::string_view utf8) const {
        const std::string wanted = vq::utf8_to_gbk(utf8);
        int n = 0;
        for (const std::string& line : lines()) n += vq::contains_text(line, wanted);
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

class RecordingObserver : public vq::RunObserver {
public:
    void run_state_changed(vq::RunState state) override {
        std::lock_guard lock(mutex_);
        states.push_back(state);
        changed_.notify_all();
    }
    void run_progress(int done, int, int) override {
        std::lock_guard lock(mutex_);
        progress = std::max(progress, done);
        changed_.notify_all();
    }
    void run_completed(const vq::RunTotals& t) override {
        std::lock_guard lock(mutex_);
        totals = t;
        ++completions;
        changed_.notify_all();
    }
    bool wait_completed(int seconds = 60) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds),
                                 [this] { return completions > 0; });
    }
    // Completion comes first, then the state goes back to idle.
    bool wait_idle(int seconds = 60) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds), [this] {
            return completions > 0 && !states.empty() && states.back() == vq::RunState::Idle;
        });
    }
    bool wait_progress(int done, int seconds = 30) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds),
                                 [&] { return progress >= done; });
    }
    int completion_count() {
        std::lock_guard lock(mutex_);
        return completions;
    }
    void reset_completions() {
        std::lock_guard lock(mutex_);
        completions = 0;
        progress = 0;
    }
    // Until the observer has heard Idle after `completed` completions.
    bool wait_heard_idle(int completed, int seconds = 60) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] {
            return completions >= completed && !states.empty() &&
                   states.back() == vq::RunState::Idle;
        });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<vq::RunState> states;
    vq::RunTotals totals;
    int completions = 0;
    int progress = 0;
};

// A temporary folder removed with the fixture.
struct TempFolder {
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vq-run-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    std::string path;
};

class RunFixture : public ::testing::Test {
protected:
    // Starts the stand-in, points the site settings at it and takes its key pairs.
    void start_sim(vq::sim::SimOptions options = {}) {
        vq::init_http();
        ASSERT_GT(sim.start(options), 0);
        const std::string ini = folder.path + "/site.ini";
        ASSERT_TRUE(vq::write_file_atomic(ini, sim.site_ini()));
        vq::set_site_settings(vq::load_site_settings(ini));
        std::vector<vq::ApiCredential> pairs;
        for (const auto& key : sim.catalogue().keys()) pairs.push_back({key.appkey, key.appsecret});
        state.set_credentials(pairs);
    }

    void TearDown() override {
        controller.reset();
        sim.stop();
        vq::set_site_settings(vq::SiteSettings{});
    }

    // The first count products of the catalogue as list rows (titles converted to GBK).
    void fill_list(int count) {
        const auto& products = sim.catalogue().products();
        for (int i = 0; i < count && i < static_cast<int>(products.size()); ++i) {
            const auto& p = products[static_cast<std::size_t>(i)];
            list.append_row({vq::utf8_to_gbk(p.title), p.price, "http://example/" + p.offerId,
                             p.offerId});
        }
    }

    // Output at <folder>/pkg.csv, pictures in <folder>/pkg.
    void make_controller(int format = 5, bool descPictures = true) {
        state.outputFormat = *vq::format_from_number(format);
        state.pictureFailurePolicy = vq::FailurePolicy::RetryThenRemove;
        options.downloadDescriptionPictures = descPictures;
        state.set_output(folder.path + "/", "pkg");
        outputPath.set(package_path());
        controller = std::make_unique<vq::BatchController>(run_ports(log));
    }

    // The fixture's list, state, options, path and observer, logging to sink.
    vq::RunPorts run_ports(vq::LogSink& sink) {
        vq::RunPorts ports;
        ports.list = &list;
        ports.state = &state;
        ports.options = &options;
        ports.outputPath = &outputPath;
        ports.log = &sink;
        ports.observer = &observer;
        return ports;
    }

public:
    std::string package_path() const { return folder.path + "/pkg.csv"; }
    std::string package_folder() const { return folder.path + "/pkg"; }

    // Until condition() holds; false after the safety limit. For states no signal reports.
    template <class Condition>
    static bool wait_for(Condition condition, int seconds = 60) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // The gateway request count from the stand-in's statistics.
    int gateway_requests() const {
        const std::string stats = sim.stats_text();
        const auto at = stats.find("gateway ");
        return at == std::string::npos ? -1 : std::stoi(stats.substr(at + 8));
    }

    TempFolder folder;
    vq::sim::MarketplaceSim sim;
    vq::BatchState state;
    vq::ProductList list;
    vq::LiveOptions options;
    vq::SharedText outputPath;
    RecordingLog log;
    RecordingObserver observer;
    std::unique_ptr<vq::BatchController> controller;
};

}  // namespace runtest
