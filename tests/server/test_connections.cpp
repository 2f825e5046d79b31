#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/Connections.h"

namespace quorvel::server {
namespace {

// Every byte the server sends on one connection to these requests, until it closes.
std::string Exchange(int port, const std::string& requests)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::send(fd, requests.data(), requests.size(), 0), ssize_t(requests.size()));
    std::string answer;
    char buffer[65536];
    for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, std::size_t(got));
    ::close(fd);
    return answer;
}

// A chunked body's bytes; what follows it is left in the text.
std::string Unchunk(std::string& text)
{
    std::string body;
    for (;;) {
        const std::size_t line = text.find("\r\n");
        const std::size_t size = std::stoul(text.substr(0, line), nullptr, 16);
        body += text.substr(line + 2, size);
        text.erase(0, line + 2 + size + 2);
        if (size == 0)
            return body;
    }
}

TEST(Connections, AStreamedBodyGoesInChunksAndThePipelinedRequestAfterIt)
{
    const std::string piece(100000, 'r');
    std::mutex mutex;
    std::vector<std::string> log;
    ConnectionHooks hooks;
    hooks.screen = [](const httplib::Request&, httplib::Response&) { return false; };
    hooks.handle = [&piece](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/stream") {
            response.set_chunked_content_provider("text/csv", [&piece](std::size_t offset, httplib::DataSink& sink) {
                sink.write(piece.data(), piece.size());
                if (offset + piece.size() == 3 * piece.size())
                    sink.done();
                return true;
            });
        } else {
            response.set_content("fixed", "text/plain");
        }
    };
    hooks.failure = [](int status, httplib::Response& response) { response.status = status; };
    hooks.sent = [&](const httplib::Request& request, const httplib::Response& response, std::size_t bytes, bool whole,
                     std::optional<double>) {
        const std::lock_guard lock(mutex);
        log.push_back(request.path + " " + std::to_string(response.status) + " " + std::to_string(bytes) +
                      (whole ? "" : " cut off"));
    };
    ConnectionLimits limits;
    limits.bodyBytes = 1000;
    limits.workers = 2;
    Connections connections(limits, hooks);
    const int port = connections.Bind("127.0.0.1", 0);
    std::thread loop([&connections] { connections.Run(); });

    std::string answer = Exchange(port, "GET /stream HTTP/1.1\r\n\r\nGET /fixed HTTP/1.1\r\nConnection: close\r\n\r\n");
    // HTTP/1.0 knows no chunks.
    const std::string old = Exchange(port, "GET /stream HTTP/1.0\r\n\r\n");
    connections.Stop();
    loop.join();

    const std::size_t head = answer.find("\r\n\r\n") + 4;
    EXPECT_NE(answer.substr(0, head).find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(answer.substr(0, head).find("Content-Length"), std::string::npos);
    answer.erase(0, head);
    EXPECT_EQ(Unchunk(answer), piece + piece + piece);
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 200 OK");
    EXPECT_NE(answer.find("\r\nContent-Length: 5\r\n"), std::string::npos);
    EXPECT_TRUE(answer.ends_with("\r\n\r\nfixed"));
    EXPECT_NE(old.find("\r\nContent-Length: 300000\r\n"), std::string::npos);
    EXPECT_TRUE(old.ends_with("\r\n\r\n" + piece + piece + piece));
    EXPECT_EQ(log, (std::vector<std::string>{"/stream 200 300000", "/fixed 200 5", "/stream 200 300000"}));
}

}  // namespace
}  // namespace quorvel::server
