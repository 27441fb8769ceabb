#include "app/program_folder.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace vq {
namespace {

// Puts an environment variable back as it was when the scope ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Where an installed copy keeps its files: the user's data folder as the desktop names it.
TEST(ProgramFolder, UserFolderOfAnInstalledCopy) {
    const struct {
        const char* xdg;
        const char* home;
        std::string folder;
    } cases[] = {
        {"/data/u", "/home/u", "/data/u/velmoraquillet"},
        {"/data/u/", "/home/u", "/data/u/velmoraquillet"},
        {"relative", "/home/u", "/home/u/.local/share/velmoraquillet"},  // not a usable XDG path
        {nullptr, "/home/u", "/home/u/.local/share/velmoraquillet"},
        {nullptr, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(user_program_folder(), c.folder);
    }
    // A copy in a system folder never keeps its files there, even run by root.
    const std::pair<const char*, bool> folders[] = {
        {"/usr/bin", true},          {"/usr/local/bin", true}, {"/bin", true},
        {"/opt/vq/bin/", true},      {"/usr/../usr/bin", true}, {"/usrlocal/bin", false},
        {"/home/u/vq/build", false}, {"/work/usr/bin", false},
    };
    for (const auto& [folder, system] : folders) {
        EXPECT_EQ(is_system_program_folder(folder), system) << folder;
    }
    // An explicit home wins over everything.
    ScopedEnv vqHome("VQ_HOME", "/srv/vq/");
    EXPECT_EQ(program_folder(""), "/srv/vq");
    EXPECT_EQ(program_folder("/opt/x"), "/opt/x");
}

}  // namespace
}  // namespace vq
