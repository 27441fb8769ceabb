#pragma once
// A loopback HTTP server for client tests: records every request byte for byte and
// answers as the test says, including the hostile ways (never answering, endless bodies).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vq::test {

class CaptureServer {
public:
    enum class Mode { Reply, Hang, Endless };
    // Builds the whole response (status line to body) for one raw request.
    using Responder = std::function<std::string(const std::string& request)>;

    explicit CaptureServer(Responder responder, Mode mode = Mode::Reply)
        : responder_(std::move(responder)), mode_(mode) {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_fd_, 16);
        socklen_t len = sizeof addr;
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        if (::pipe(stop_pipe_) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
        acceptor_ = std::thread([this] { accept_loop(); });
    }

    explicit CaptureServer(std::string response, Mode mode = Mode::Reply)
        : CaptureServer([response](const std::string&) { return response; }, mode) {}

    ~CaptureServer() {
        if (::write(stop_pipe_[1], "x", 1) != 1) std::terminate();
        acceptor_.join();
        for (std::thread& t : connections_) t.join();
        ::close(listen_fd_);
        ::close(stop_pipe_[0]);
        ::close(stop_pipe_[1]);
    }

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // The request head (request line and headers) of request i, without the blank line.
    std::string head(std::size_t i = 0) {
        auto all = requests();
        if (i >= all.size()) return {};
        return all[i].substr(0, all[i].find("\r\n\r\n"));
    }

    static std::string ok(const std::string& body, const std::string& extra_headers = {}) {
        return "HTTP/1.1 200 OK\r\n" + extra_headers +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

private:
    // Waits until fd is readable/writable or the server stops; false on stop.
    bool wait_for(int fd, short events) {
        pollfd fds[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0) {
        }
        return (fds[1].revents & POLLIN) == 0;
    }

    void accept_loop() {
        while (wait_for(listen_fd_, POLLIN)) {
            int fd = ::accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) continue;
            connections_.emplace_back([this, fd] {
                serve(fd);
                ::close(fd);
            });
        }
    }

    void serve(int fd) {
        std::string buffer;
        for (;;) {
            std::size_t head_end;
            while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
                if (!read_more(fd, buffer)) return;
            }
            std::size_t length = 0;
            const std::string head = buffer.substr(0, head_end);
            for (const char* name : {"\r\nContent-Length: ", "\r\ncontent-length: "}) {
                const auto at = head.find(name);
                if (at != std::string::npos) length = std::stoul(head.substr(at + 18));
            }
            while (buffer.size() < head_end + 4 + length) {
                if (!read_more(fd, buffer)) return;
            }
            const std::string request = buffer.substr(0, head_end + 4 + length);
            buffer.erase(0, request.size());
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            if (mode_ == Mode::Hang) {
                wait_for(stop_pipe_[0], POLLIN);
                return;
            }
            if (mode_ == Mode::Endless) {
                std::string chunk = "HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\n";
                chunk.resize(1 << 16, 'x');
                while (wait_for(fd, POLLOUT) &&
                       ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
                }
                return;
            }
            const std::string response = responder_(request);
            if (!send_all(fd, response)) return;
        }
    }

    bool read_more(int fd, std::string& buffer) {
        if (!wait_for(fd, POLLIN)) return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    bool send_all(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            if (!wait_for(fd, POLLOUT)) return false;
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    Responder responder_;
    Mode mode_;
    int listen_fd_ = -1;
    int port_ = 0;
    int stop_pipe_[2] = {-1, -1};
    std::thread acceptor_;
    std::vector<std::thread> connections_;  // touched by the acceptor thread only
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

}  // namespace vq::test
