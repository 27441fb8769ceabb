// vq auth: the user's own app authorized once for today's product methods; the token is kept
// in options/token.ini for every run after.

#include <cstdio>
#include <iostream>

#include "api/api_token.hpp"
#include "api/product_answer.hpp"
#include "api/site_settings.hpp"
#include "app/startup.hpp"
#include "cli/arguments.hpp"
#include "cli/cli_common.hpp"
#include "cli/commands.hpp"
#include "cli/console.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

constexpr const char* kExitCodes =
    "exit codes: 0 authorized (--status: a token that serves; --forget: none left)\n"
    "            1 the platform refused the code or the token, or there is no usable token\n"
    "            2 bad arguments, no key pair for the app, or files that cannot be read or\n"
    "              written\n";

struct AuthArguments {
    std::string home, site, code, token, appKey;
    bool status = false, forget = false;
};

void say(std::string_view gbk) {
    std::printf("%s\n", terminal_text(gbk).c_str());
    std::fflush(stdout);
}

// The state of the authorize address last printed, so a later `--code` can be checked.
std::string pending_state_path(const std::string& home) {
    return home + (home.empty() || home.back() == '/' ? "" : "/") + "options/auth_state";
}

int store(const std::string& path, const ApiToken& token) {
    make_directory(path.substr(0, path.rfind('/')));
    if (!save_api_token(path, token)) {
        print_error("授权无法保存："_gbk + path);
        return 2;
    }
    say(token_state_text(token, epoch_seconds_now()));
    say("授权已保存："_gbk + path);
    return 0;
}

}  // namespace

int auth_command(const std::vector<std::string>& args) {
    AuthArguments a;
    CommandLine line("auth", kExitCodes);
    CLI::App& app = line.app();
    CLI::Option* code = app.add_option(
        "--code", a.code,
        "the address the browser was sent to after authorizing, or the code in it (without "
        "it, the address is read from the terminal)");
    CLI::Option* token = app.add_option("--token", a.token,
                                        "stores a long-lived token shown by the developer console")
                             ->excludes(code);
    CLI::Option* status =
        app.add_flag("--status", a.status, "says whose token is kept and until when it serves")
            ->excludes(code)
            ->excludes(token);
    app.add_flag("--forget", a.forget, "removes the kept token")
        ->excludes(code)
        ->excludes(token)
        ->excludes(status);
    app.add_option("--app-key", a.appKey,
                   "the app to authorize, one of the key pairs (default: the first)")
        ->type_name("KEY");
    app.add_option("--home", a.home,
                   "the program folder (default: VQ_HOME, else the executable's folder)")
        ->type_name("DIR");
    app.add_option("--site", a.site, "the site settings (default: options/site.ini)")
        ->type_name("FILE");
    if (const std::optional<int> exit = line.parse(args)) return *exit;

    const std::string home = program_folder(a.home);
    const std::string tokenPath = api_token_path(home);
    if (a.status) {
        const std::optional<ApiToken> kept = load_api_token(tokenPath);
        say(token_state_text(kept, epoch_seconds_now()));
        const std::int64_t now = epoch_seconds_now();
        const bool serves = kept && (kept->accessExpires == 0 || kept->accessExpires > now ||
                                     (!kept->refreshToken.empty() &&
                                      (kept->refreshExpires == 0 || kept->refreshExpires > now)));
        return serves ? 0 : 1;
    }
    if (a.forget) {
        if (!forget_api_token(tokenPath)) {
            print_error("授权无法删除："_gbk + tokenPath);
            return 2;
        }
        say("已删除授权："_gbk + tokenPath);
        return 0;
    }

    init_http();
    load_site(a.site, home);
    const SiteSettings site = site_settings();
    BatchState state;
    if (!load_key_pairs_or_say(state, site)) return 2;
    AppCredential chosen;
    for (const ApiCredential& pair : state.credentials()) {
        if (a.appKey.empty() || pair.appkey == a.appKey) {
            chosen = {pair.appkey, pair.appsecret};
            break;
        }
    }
    if (chosen.appKey.empty()) {
        print_error("密钥中没有这个应用："_gbk + a.appKey);
        return 2;
    }
    if (!a.token.empty()) {
        ApiToken pasted;
        pasted.appKey = chosen.appKey;
        pasted.accessToken = a.token;
        return store(tokenPath, pasted);
    }

    const std::string statePath = pending_state_path(home);
    std::string expected;
    std::string pasted = a.code;
    if (pasted.empty()) {
        expected = random_state();
        make_directory(home + "/options");
        write_private_file_atomic(statePath, expected);
        say("请在浏览器中打开下面的地址，登录并同意授权："_gbk);
        say(authorize_address(site, chosen.appKey, expected));
        say("然后把浏览器转到的地址（或其中的 code）粘贴到这里，按回车："_gbk);
        if (!std::getline(std::cin, pasted)) {
            print_error("没有读到授权后的地址。"_gbk);
            return 2;
        }
    } else if (const std::optional<std::string> saved = read_file_bytes(statePath, 4096)) {
        expected = *saved;
    }
    const AuthorizeReply reply = read_authorize_reply(pasted);
    if (reply.code.empty()) {
        print_error("地址中没有授权码（code）："_gbk + utf8_to_gbk(pasted));
        return 2;
    }
    // A reply for another authorize address is someone else's, or an old one.
    if (!reply.state.empty() && reply.state != expected) {
        print_error("授权地址中的 state 与本次授权不符，请重新运行 vq auth。"_gbk);
        return 2;
    }
    const TokenReading reading =
        request_token(site, chosen,
                      {{"grant_type", "authorization_code"},
                       {"need_refresh_token", "true"},
                       {"redirect_uri", site.redirect_uri},
                       {"code", reply.code}});
    if (!reading.token) {
        print_error("授权失败："_gbk + reading.error.message);
        return 1;
    }
    remove_file(statePath);
    return store(tokenPath, token_from_answer(*reading.token, chosen.appKey, epoch_seconds_now()));
}

}  // namespace vq::cli
