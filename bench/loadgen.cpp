// A load generator for XML-RPC servers: each call opens a new connection, sends one POST
// with Connection: close and reads the answer until the server closes, as most XML-RPC
// clients do. With keep, each client keeps its connection for its next call, as an HTTP/1.1
// client does, reads each answer to its Content-Length, and connects again when the server
// closes (after its request cap, or when it answers Connection: close). Plain sockets and
// threads, so that the client costs the same whatever server it measures. A method
// scpi:QUERY asks a SCPI server QUERY on a kept connection instead, a line each way.
//
//   loadgen PORT status|echo|METHOD|scpi:QUERY CLIENTS SECONDS [CALLS] [keep]
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
#include <cctype>
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

std::string request(const std::string &body, int port, bool keep)
{
    return "POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
        + "\r\nUser-Agent: loadgen\r\nContent-Type: text/xml\r\n"
        + (keep ? "" : "Connection: close\r\n") + "Content-Length: " + std::to_string(body.size())
        + "\r\n\r\n" + body;
}

bool isGoodAnswer(const std::string &answer)
{
    return answer.compare(0, 7, "HTTP/1.") == 0 && answer.compare(8, 5, " 200 ") == 0
        && answer.find("methodResponse") != std::string::npos
        && answer.find("<fault>") == std::string::npos;
}

// The value of a header, or an empty string; header names in any case.
std::string headerValue(const std::string &head, const std::string &name)
{
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](unsigned char c) { return char(std::tolower(c)); });
    const size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    const size_t start = lower.find_first_not_of(' ', at + name.size() + 3);
    const size_t end = lower.find("\r\n", start);
    return lower.substr(start, end - start);
}

class Connection
{
public:
    Connection(const sockaddr_in &address, const std::string &bytes, bool keep, bool line)
        : address(address)
        , bytes(bytes)
        , keep(keep)
        , line(line)
    { }
    ~Connection() { drop(); }

    // One call; false when the server's answer is not an HTTP 200 carrying a methodResponse
    // without a fault, or not a SCPI answer line.
    bool call(std::string &answer)
    {
        if (line)
            return query(answer);
        if (!keep)
            return callOnce(answer);
        // A kept connection the server has closed since the last call fails before anything
        // arrives: that call goes again on a new one.
        const bool reused = fd >= 0;
        if (callKept(answer))
            return true;
        return reused && answer.empty() && callKept(answer);
    }

private:
    bool open()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return false;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return true;
        drop();
        return false;
    }

    void drop()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }

    bool sendAll()
    {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return true;
    }

    // Reads what arrives; 0 when the server closed, -1 on an error.
    ssize_t receive(std::string &answer)
    {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            answer.append(buffer, size_t(n));
        return n;
    }

    bool callOnce(std::string &answer)
    {
        answer.clear();
        bool ok = open() && sendAll();
        while (ok) {
            const ssize_t n = receive(answer);
            if (n <= 0) {
                ok = n == 0;
                break;
            }
        }
        drop();
        return ok && isGoodAnswer(answer);
    }

    bool callKept(std::string &answer)
    {
        answer.clear();
        if ((fd < 0 && !open()) || !sendAll()) {
            drop();
            return false;
        }
        // Without a Content-Length the answer ends when the server closes (HTTP/1.0).
        size_t headEnd = std::string::npos;
        size_t total = std::string::npos;
        while (headEnd == std::string::npos || answer.size() < total) {
            const ssize_t n = receive(answer);
            if (n == 0 && headEnd != std::string::npos && total == std::string::npos) {
                drop();
                return isGoodAnswer(answer);
            }
            if (n <= 0) {
                drop();
                return false;
            }
            if (headEnd == std::string::npos) {
                headEnd = answer.find("\r\n\r\n");
                if (headEnd != std::string::npos) {
                    const std::string length
                        = headerValue(answer.substr(0, headEnd + 2), "content-length");
                    if (!length.empty())
                        total = headEnd + 4 + std::stoul(length);
                }
            }
        }
        if (headerValue(answer.substr(0, headEnd + 2), "connection") == "close")
            drop();
        return answer.size() == total && isGoodAnswer(answer);
    }

    bool query(std::string &answer)
    {
        answer.clear();
        if ((fd < 0 && !open()) || !sendAll()) {
            drop();
            return false;
        }
        while (answer.empty() || answer.back() != '\n') {
            if (receive(answer) <= 0) {
                drop();
                return false;
            }
        }
        return answer.size() > 1;
    }

    const sockaddr_in &address;
    const std::string &bytes;
    const bool keep;
    const bool line;
    int fd = -1;
    char buffer[65536];
};

} // namespace

int main(int argc, char *argv[])
{
    const bool keep = argc > 5 && std::strcmp(argv[argc - 1], "keep") == 0;
    const int counted = keep ? argc - 1 : argc;
    if (counted != 5 && counted != 6) {
        std::fprintf(stderr,
            "usage: loadgen PORT status|echo|METHOD|scpi:QUERY CLIENTS SECONDS [CALLS] [keep]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string method = argv[2];
    const int clients = std::max(1, std::atoi(argv[3]));
    const double seconds = std::atof(argv[4]);
    const long maxCalls = counted == 6 ? std::atol(argv[5]) : 0;

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    const bool scpi = method.compare(0, 5, "scpi:") == 0;
    const std::string body = scpi ? method.substr(5) + "\n" : callBody(method);
    const std::string bytes = scpi ? body : request(body, port, keep);

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
            Connection connection(address, bytes, keep, scpi);
            auto &mine = latencies[size_t(c)];
            mine.reserve(1 << 18);
            while (running.load(std::memory_order_relaxed)
                && (maxCalls == 0 || started.fetch_add(1) < maxCalls)) {
                const Clock::time_point before = Clock::now();
                if (connection.call(answer))
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
