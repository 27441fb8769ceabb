#include "support/ini_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "support/files.hpp"
#include "support/gbk_literal.hpp"

using namespace vq;
namespace fs = std::filesystem;

namespace {

// Second bytes that are ASCII: "丄" 81 41 ('A') and "乤" 81 61 ('a') are different
// characters; "竇" ends in 5D (']') and "禱" in 5C ('\').
const std::string kUpperTrail = "\x81\x41";
const std::string kLowerTrail = "\x81\x61";

TEST(IniFileRead, LikeTheProfileFunctions) {
    const std::string bracket = "竇"_gbk;
    const std::string path_value = "C:\\" + "禱"_gbk + "\\";
    ASSERT_EQ(bracket[1], ']');
    ASSERT_EQ("禱"_gbk[1], '\\');
    IniFile ini;
    ini.set_bytes(
        "; settings\r\n"
        "top=before any section\r\n"
        "[Alpha]\r\n"
        "  Name =  Value with  inner  blanks \t\r\n"
        "empty=\r\n"
        "quoted=\"  kept  \"\r\n"
        "half=\"open\r\n"
        ";hidden=1\r\n"
        "novalue\r\n"
        "dup=first\r\n"
        "dup=second\r\n"
        "\r\n"
        "[ beta ]\r\n"
        "KEY=b\r\n"
        "[alpha]\r\n"
        "late=x\r\n"
        "[" +
        bracket + "]\r\n" + kUpperTrail + "=upper\r\n" + "路径"_gbk + "=" + path_value +
        "\r\n"
        "last=no line break");
    struct Case {
        std::string section, key;
        std::optional<std::string> expected;
    } cases[] = {
        {"Alpha", "Name", "Value with  inner  blanks"},
        {"ALPHA", "name", "Value with  inner  blanks"},
        {" alpha ", " NAME ", "Value with  inner  blanks"},
        {"Alpha", "empty", ""},
        {"Alpha", "quoted", "  kept  "},
        {"Alpha", "half", "\"open"},
        {"Alpha", "hidden", std::nullopt},
        {"Alpha", ";hidden", std::nullopt},
        {"Alpha", "novalue", std::nullopt},
        {"Alpha", "dup", "first"},
        {"Alpha", "late", std::nullopt},  // only the first section of a name is searched
        {"Alpha", "top", std::nullopt},
        {"Alpha", "key", std::nullopt},
        {"", "top", std::nullopt},
        {"Alpha", "", std::nullopt},
        {"Beta", "key", "b"},
        {"gamma", "key", std::nullopt},
        {bracket, kUpperTrail, "upper"},
        {bracket, kLowerTrail, std::nullopt},
        {bracket, "路径"_gbk, path_value},
        {bracket, "last", "no line break"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ini.value(c.section, c.key), c.expected) << "[" << c.section << "] " << c.key;
    }
}

const std::string kSmall =
    "; keep me\r\n"
    "[DL_PIC]\r\n"
    ";download=comment\r\n"
    "download = " +
    "假"_gbk +
    "\r\n"
    "Extra=1\r\n"
    "\r\n"
    "[SAVE]\r\n"
    "type=5\r\n";

TEST(IniFileWrite, ChangesOneKeyAndKeepsEveryOtherByte) {
    struct Case {
        std::string before, section, key, value, after;
    } cases[] = {
        {kSmall, "dl_pic", "DOWNLOAD", "真"_gbk,
         "; keep me\r\n[DL_PIC]\r\n;download=comment\r\ndownload = " + "真"_gbk +
             "\r\nExtra=1\r\n\r\n[SAVE]\r\ntype=5\r\n"},
        {kSmall, "DL_PIC", "fall", "3",
         "; keep me\r\n[DL_PIC]\r\n;download=comment\r\ndownload = " + "假"_gbk +
             "\r\nExtra=1\r\nfall=3\r\n\r\n[SAVE]\r\ntype=5\r\n"},
        {kSmall, "SAVE", "type", "4", kSmall.substr(0, kSmall.size() - 3) + "4\r\n"},
        {kSmall, "SAVE", "x", "", kSmall + "x=\r\n"},
        {kSmall, "SITE", "gateway_host", "h:1", kSmall + "[SITE]\r\ngateway_host=h:1\r\n"},
        {"", "SAVE", "type", "5", "[SAVE]\r\ntype=5\r\n"},
        {"[A]\nk=1\n", "B", "x", "1", "[A]\nk=1\n[B]\nx=1\n"},
        {"[A]\nk=1\n\n[B]\n", "a", "j", "2", "[A]\nk=1\nj=2\n\n[B]\n"},
        {"[A]\r\nk=old", "A", "k", "new", "[A]\r\nk=new"},
        {"[A]\r\nk=1", "A", "j", "2", "[A]\r\nk=1\r\nj=2\r\n"},
        {"[A]", "A", "j", "2", "[A]\r\nj=2\r\n"},
    };
    for (const auto& c : cases) {
        IniFile ini;
        ini.set_bytes(c.before);
        ASSERT_TRUE(ini.set_value(c.section, c.key, c.value)) << c.before;
        EXPECT_EQ(ini.bytes(), c.after) << "[" << c.section << "] " << c.key;
        EXPECT_EQ(ini.value(c.section, c.key), c.value);
    }
}

// Removing takes the key's whole line; a quoted value reads back as it was given, blanks
// and quotes at its ends included.
TEST(IniFileWrite, RemovesKeysAndKeepsValuesWhole) {
    IniFile ini;
    ini.set_bytes(kSmall);
    EXPECT_TRUE(ini.has_section("save"));
    EXPECT_FALSE(ini.has_section("RULES"));
    EXPECT_TRUE(ini.remove_value("DL_PIC", "extra"));
    EXPECT_FALSE(ini.remove_value("DL_PIC", "extra"));
    EXPECT_EQ(ini.bytes(), "; keep me\r\n[DL_PIC]\r\n;download=comment\r\ndownload = " +
                               "假"_gbk + "\r\n\r\n[SAVE]\r\ntype=5\r\n");
    for (const std::string value : {" a", "b ", "\"q\"", "'x'", "\"y'", "plain", ""}) {
        ASSERT_TRUE(ini.set_value("RULES", "k", quoted_ini_value(value)));
        EXPECT_EQ(ini.value("RULES", "k"), value);
    }
    EXPECT_EQ(quoted_ini_value("plain"), "plain");
}

TEST(IniFileWrite, RefusesWhatWouldBreakTheFile) {
    struct Case {
        std::string section, key, value;
    } cases[] = {
        {"", "k", "v"},       {" ", "k", "v"},   {"S", "", "v"},     {"S", "a=b", "v"},
        {"S", ";k", "v"},     {"S", "[k", "v"},  {"S", "k", "a\nb"}, {"S", "k", "a\rb"},
        {"S\r\nT", "k", "v"}, {"S", "k\n", "v"},
        // A lead byte at the end of a section name would take the "]" as its second half.
        {"\x81", "k", "v"},    {"S\xB1", "k", "v"},
    };
    for (const auto& c : cases) {
        IniFile ini;
        ini.set_bytes(kSmall);
        EXPECT_FALSE(ini.set_value(c.section, c.key, c.value)) << c.section << "/" << c.key;
        EXPECT_EQ(ini.bytes(), kSmall);
    }
    // Whole characters, and a lead byte inside a name, are fine and read back.
    for (const char* section : {"\xB1\xA6", "\x81]x"}) {
        IniFile ini;
        ASSERT_TRUE(ini.set_value(section, "k\x81", "v"));
        EXPECT_EQ(ini.value(section, "k\x81"), "v");
    }
}

class IniFileDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-ini-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override {
        ::chmod(dir_.c_str(), 0755);
        fs::remove_all(dir_);
    }
    int entries() const {
        return static_cast<int>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    std::string dir_;
};

TEST_F(IniFileDisk, ReadsAndWritesKeysOfAFile) {
    const std::string path = dir_ + "/" + "选项.ini"_gbk;
    EXPECT_EQ(read_ini_value(path, "SAVE", "type", "none"), "none");

    ASSERT_TRUE(write_ini_value(path, "DL_PIC", "download", "真"_gbk));
    ASSERT_TRUE(write_ini_value(path, "SAVE", "type", "5"));
    EXPECT_EQ(read_file_bytes(path),
              "[DL_PIC]\r\ndownload=" + "真"_gbk + "\r\n[SAVE]\r\ntype=5\r\n");
    EXPECT_EQ(read_ini_value(path, "dl_pic", "DOWNLOAD"), "真"_gbk);
    EXPECT_EQ(read_ini_value(path, "SAVE", "missing", "d"), "d");
    EXPECT_EQ(entries(), 1);
}

TEST_F(IniFileDisk, UnwritableTargetsFailAndLeaveNothingBehind) {
    EXPECT_FALSE(write_ini_value(dir_ + "/missing/options.ini", "S", "k", "v"));
    EXPECT_EQ(entries(), 0);

    // A folder in the way: not readable as a file, so not replaced either.
    ASSERT_TRUE(make_directory(dir_ + "/taken.ini"));
    EXPECT_FALSE(write_ini_value(dir_ + "/taken.ini", "S", "k", "v"));
    EXPECT_TRUE(fs::is_directory(dir_ + "/taken.ini"));
    EXPECT_EQ(entries(), 1);

    // Permission checks do not apply to root.
    if (::geteuid() != 0) {
        const std::string path = dir_ + "/readonly.ini";
        ASSERT_TRUE(write_file_atomic(path, kSmall));
        ::chmod(path.c_str(), 0444);
        EXPECT_FALSE(write_ini_value(path, "SAVE", "type", "4"));
        EXPECT_EQ(read_file_bytes(path), kSmall);
        EXPECT_EQ(entries(), 2);
    }
}

}  // namespace
