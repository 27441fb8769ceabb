#include "net/http_client.hpp"

// Placeholder while the clients are written; replaced in the next commit.
namespace vq {
namespace {
thread_local const CancelToken* current_token = nullptr;
std::atomic<int> default_timeout{90};
}  // namespace
CancelScope::CancelScope(const CancelToken& token) : previous_(current_token) { current_token = &token; }
CancelScope::~CancelScope() { current_token = previous_; }
void init_http() {}
void set_default_timeout_seconds(int seconds) { default_timeout = seconds < 1 ? 90 : seconds; }
int default_timeout_seconds() { return default_timeout; }
std::string fetch_via_request_object(std::string_view, std::string_view, std::string_view, std::string_view, std::string*, std::string_view, int, std::string_view, std::string_view, std::string_view) { return {}; }
std::string fetch_with_timeout(std::string_view, std::string_view, std::string_view, std::string_view, std::string*, std::string_view, int, bool, std::string_view, std::string_view, std::string_view, std::string*, bool) { return {}; }
std::string fetch_picture(std::string_view) { return {}; }
std::string url_host(std::string_view, bool) { return {}; }
std::string url_path(std::string_view) { return {}; }
int url_port(std::string_view) { return 80; }
void clear_cookie_store() {}
}  // namespace vq
