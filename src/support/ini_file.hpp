#pragma once
// INI (profile) files read and written the way the Windows profile-string functions do it:
// section and key names compared ignoring ASCII case (GBK characters compared exactly),
// values trimmed of ASCII blanks and of one pair of matching surrounding quotes, lines
// starting with ";" are comments, the first matching section and key win. Writing changes
// one key and keeps every other byte of the file, line breaks included. GBK bytes are
// kept verbatim.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vq {

class IniFile {
public:
    // Replaces the content with the file's bytes. False when the file cannot be read; the
    // content is then empty, which reads like a missing file.
    bool load(std::string_view gbk_path);

    // Replaces the content with bytes as they would be read from a file.
    void set_bytes(std::string bytes) { bytes_ = std::move(bytes); }
    const std::string& bytes() const { return bytes_; }

    // The trimmed value of key in section; nothing when a name is blank or the section or
    // key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Sets key in section: rewrites the key's line after "=" and its blanks, else adds
    // "key=value" after the section's last non-blank line, else appends "[section]" and the
    // key at the end. New lines use the content's first line break (CR LF when it has none).
    // False, with nothing changed, when a name is blank, a name or the value holds a line
    // break, the key holds "=" or the key starts with ";" or "[".
    bool set_value(std::string_view section, std::string_view key, std::string_view value);

    // Removes the key's line, line break included; false when there is no such key.
    bool remove_value(std::string_view section, std::string_view key);

    bool has_section(std::string_view section) const;

    // Writes the content through a temporary file renamed into place. False when the file is
    // read-only or cannot be written; the old file (if any) is then untouched.
    bool save(std::string_view gbk_path) const;

private:
    std::string bytes_;
};

// The value of key in section of the file, or fallback when the file, section or key is
// missing.
std::string read_ini_value(std::string_view gbk_path, std::string_view section,
                           std::string_view key, std::string_view fallback = {});

// Sets one key in the file, creating the file (never its folder) when missing. False when
// the key cannot be written (see IniFile::set_value and IniFile::save); the file is then
// as it was. Calls are serialised within the process.
bool write_ini_value(std::string_view gbk_path, std::string_view section, std::string_view key,
                     std::string_view value);

// Several changes in one write: loads the file (a missing one is empty), lets change edit
// it and saves it when change returns true. False, with the file as it was, when the file
// cannot be read or written or change refuses.
bool update_ini_file(std::string_view gbk_path, const std::function<bool(IniFile&)>& change);

// The value as it has to be written so that reading gives it back whole: inside double
// quotes when it begins or ends with a blank or is itself inside a pair of quotes.
std::string quoted_ini_value(std::string_view value);

}  // namespace vq
