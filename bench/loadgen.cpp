// A load generator for XML-RPC servers: each call opens a new connection, sends one POST,
// reads the answer until the server closes, as XML-RPC clients do. Plain sockets and
// threads, so that the client costs the same whatever server it measures.
//
//   loadgen PORT status|echo CLIENTS SECONDS [CALLS]
//
// With CALLS it stops after that many calls or SECONDS, whichever comes first.
// Prints one line: calls/s, latency p50 and p99 in microseconds, request MB/s, errors.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int EchoItems = 10000;

std::string callBody(const std::string &method)
{
    std::string body
        = "<?xml version=\"1.0\"?>\n<methodCall><methodName>" + method + "</methodName><params>";
    if (method == "echo") {
        body += "<param><value><array><data>";
        for (int i = 0; i < EchoItems; ++i)
            body += "<value><int>" + std::to_string(i * 7919 % 1000003) + "</int></value>";
        body += "</data></array></value></param>";
    }
    body += "</params></methodCall>\n";
    return body;
}

std::string request(const std::string &body, int port)
{
    return "POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
        + "\r\nUser-Agent: loadgen\r\nContent-Type: text/xml\r\nConnection: close\r\n"
          "Content-Length: "
        + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One call on a new connection; false when the server's answer is not an HTTP 200 carrying
// a methodResponse without a fault.
bool call(const sockaddr_in &address, const std::string &bytes, std::string &answer)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool ok = connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    for (size_t sent = 0; ok && sent < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        ok = n > 0;
        sent += ok ? size_t(n) : 0;
    }
    answer.clear();
    char buffer[65536];
    while (ok) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        answer.append(buffer, size_t(n));
    }
    close(fd);
    return ok && answer.compare(0, 7, "HTTP/1.") == 0 && answer.compare(8, 5, " 200 ") == 0
        && answer.find("methodResponse") != std::string::npos
        && answer.find("<fault>") == std::string::npos;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: loadgen PORT status|echo CLIENTS SECONDS [CALLS]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string method = argv[2];
    const int clients = std::max(1, std::atoi(argv[3]));
    const double seconds = std::atof(argv[4]);
    const long maxCalls = argc == 6 ? std::atol(argv[5]) : 0;

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    const std::string body = callBody(method);
    const std::string bytes = request(body, port);

    std::atomic<bool> running { true };
    std::atomic<long> started { 0 };
    const auto slots = static_cast<size_t>(clients);
    std::vector<std::vector<float>> latencies(slots);
    std::vector<long> errors(slots, 0);
    std::vector<std::thread> threads;
    const Clock::time_point start = Clock::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::string answer;
            auto &mine = latencies[size_t(c)];
            mine.reserve(1 << 18);
            while (running.load(std::memory_order_relaxed)
                && (maxCalls == 0 || started.fetch_add(1) < maxCalls)) {
                const Clock::time_point before = Clock::now();
                if (call(address, bytes, answer))
                    mine.push_back(
                        std::chrono::duration<float, std::micro>(Clock::now() - before).count());
                else
                    ++errors[size_t(c)];
            }
        });
    }
    const Clock::time_point deadline = start
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < deadline && (maxCalls == 0 || started.load() < maxCalls))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    running = false;
    for (std::thread &thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<float> all;
    long errorCount = 0;
    for (int c = 0; c < clients; ++c) {
        all.insert(all.end(), latencies[size_t(c)].begin(), latencies[size_t(c)].end());
        errorCount += errors[size_t(c)];
    }
    std::sort(all.begin(), all.end());
    const auto percentile = [&](double p) {
        return all.empty() ? 0.0 : double(all[std::min(all.size() - 1, size_t(p * all.size()))]);
    };
    const double rate = double(all.size()) / elapsed;
    std::printf("calls/s %.1f p50_us %.0f p99_us %.0f request_MB/s %.2f errors %ld\n", rate,
        percentile(0.50), percentile(0.99), rate * double(body.size()) / 1e6, errorCount);
    return all.empty() ? 1 : 0;
}
