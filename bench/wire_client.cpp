// The least a client can do for a copy run's requests: plain libcurl, no parsing, each body
// written to a file. copy_bench runs it on the requests vq made, so vq's wall and CPU time
// can be read against the wire's.
//
//   wire_client REQUESTS OUT_FOLDER per-product|flat
//
// REQUESTS holds one address a line: "G <url>" begins a product with its gateway request,
// "P <url>" is one of its pictures. per-product: five threads, each taking the next product,
// its gateway request and then its pictures at most four at a time, as vq's workers do.
// flat: every request at once as the limits allow, five gateway requests and twenty
// pictures in flight. Exits 1 when a request failed.

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Product {
    std::string gateway;
    std::vector<std::string> pictures;
};

struct Body {
    std::string bytes;
    std::string file;
};

std::size_t take(char* data, std::size_t size, std::size_t count, void* body) {
    static_cast<Body*>(body)->bytes.append(data, size * count);
    return size * count;
}

std::atomic<int> failed{0};
std::atomic<long> files{0};

void write_body(const std::string& folder, const Body& body) {
    const std::string path = folder + "/" + std::to_string(++files);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, body.bytes.data(), body.bytes.size()) != static_cast<ssize_t>(body.bytes.size()))
        ++failed;
    if (fd >= 0) ::close(fd);
}

// Pictures go as HTTP/1.0, one connection each, as vq's do; the gateway keeps its connection.
void prepare(CURL* easy, const std::string& url, Body& body, bool picture) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     static_cast<long>(picture ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, take);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    body.bytes.clear();
}

void check(CURL* easy, CURLcode code) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK || status != 200) ++failed;
}

// Runs the transfers of one multi handle, at most `most` of the queue in flight at once.
void run_queue(CURLM* multi, std::deque<std::string> queue, int most, const std::string& folder,
               bool pictures) {
    struct Slot {
        CURL* easy = nullptr;
        Body body;
        bool busy = false;
    };
    std::vector<Slot> slots(static_cast<std::size_t>(most));
    for (Slot& s : slots) s.easy = curl_easy_init();
    const auto fill = [&] {
        for (Slot& s : slots) {
            if (s.busy || queue.empty()) continue;
            prepare(s.easy, queue.front(), s.body, pictures);
            curl_easy_setopt(s.easy, CURLOPT_PRIVATE, &s);
            queue.pop_front();
            curl_multi_add_handle(multi, s.easy);
            s.busy = true;
        }
    };
    fill();
    int running = 1;
    while (running > 0 || !queue.empty()) {
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            Slot* s = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&s));
            check(msg->easy_handle, msg->data.result);
            curl_multi_remove_handle(multi, msg->easy_handle);
            write_body(folder, s->body);
            s->busy = false;
        }
        fill();
        curl_multi_perform(multi, &running);
        if (running > 0) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    for (Slot& s : slots) curl_easy_cleanup(s.easy);
}

void per_product(const std::vector<Product>& products, const std::string& folder) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 5; ++w) {
        workers.emplace_back([&] {
            CURL* gateway = curl_easy_init();
            CURLM* multi = curl_multi_init();
            Body body;
            for (std::size_t k = next++; k < products.size(); k = next++) {
                prepare(gateway, products[k].gateway, body, false);
                check(gateway, curl_easy_perform(gateway));
                write_body(folder, body);
                run_queue(multi, {products[k].pictures.begin(), products[k].pictures.end()}, 4, folder, true);
            }
            curl_multi_cleanup(multi);
            curl_easy_cleanup(gateway);
        });
    }
    for (std::thread& t : workers) t.join();
}

void flat(const std::vector<Product>& products, const std::string& folder) {
    std::deque<std::string> gateway, pictures;
    for (const Product& p : products) {
        gateway.push_back(p.gateway);
        pictures.insert(pictures.end(), p.pictures.begin(), p.pictures.end());
    }
    // Two queues side by side, each with its own limit.
    std::thread gateways([&] {
        CURLM* multi = curl_multi_init();
        run_queue(multi, gateway, 5, folder, false);
        curl_multi_cleanup(multi);
    });
    CURLM* multi = curl_multi_init();
    run_queue(multi, pictures, 20, folder, true);
    curl_multi_cleanup(multi);
    gateways.join();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: wire_client REQUESTS OUT_FOLDER per-product|flat\n");
        return 2;
    }
    std::vector<Product> products;
    std::ifstream in(argv[1]);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 3) continue;
        if (line[0] == 'G') products.push_back({line.substr(2), {}});
        else if (line[0] == 'P' && !products.empty()) products.back().pictures.push_back(line.substr(2));
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string mode = argv[3];
    if (mode == "flat") flat(products, argv[2]);
    else per_product(products, argv[2]);
    curl_global_cleanup();
    if (failed > 0) std::fprintf(stderr, "wire_client: %d requests failed\n", failed.load());
    return failed > 0 ? 1 : 0;
}
