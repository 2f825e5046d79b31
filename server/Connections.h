#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <httplib.h>

namespace quorvel::server {

// What one client may cost. A connection costs no thread while it is read or
// written: only a request read whole takes a worker, for its handler.
struct ConnectionLimits {
    std::size_t headLines = 100;
    std::size_t headBytes = 16 * 1024;  // a request line alone longer: 414
    std::size_t bodyBytes = 0;
    // The head must arrive within this time, keep-alive wait included; the
    // body and the answer within it plus their bytes at the slowest rate.
    std::chrono::milliseconds headTime{10000};
    std::size_t slowestBytesPerSecond = 16 * 1024;
    // Descriptors kept for the handlers' files: past the limit less these,
    // a new connection gets 503 and is closed.
    std::size_t spareDescriptors = 128;
    std::size_t workers = 64;  // handlers running at once
};

// What the connections ask of the server. Requests and answers are httplib's
// value types, which the routes are written against.
struct ConnectionHooks {
    // After the head, before the body, on the event loop (fast, no I/O): true
    // with the answer filled in to refuse the request unread.
    std::function<bool(const httplib::Request&, httplib::Response&)> screen;
    // Whether a request read whole is one whose handler answers in
    // microseconds with no waiting and no streamed body: it is then handled
    // on the event loop rather than on a worker.
    std::function<bool(const httplib::Request&)> quick;
    // A request read whole, on a worker (or on the loop, when quick).
    std::function<void(const httplib::Request&, httplib::Response&)> handle;
    // The answer to a request that cannot be read or served (400, 413, 414,
    // 431, 500, 503).
    std::function<void(int status, httplib::Response&)> failure;
    // Once an answer is sent, or its sending failed: the body's bytes that
    // went out, and the time since the head arrived (none for an unread
    // request).
    std::function<void(const httplib::Request&, const httplib::Response&, std::size_t bodyBytesSent, bool whole,
                       std::optional<double> milliseconds)>
        sent;
};

// HTTP/1.1 connections on an event loop: heads and bodies read within limits
// and times, pipelined requests answered in order, every answer framed by its
// Content-Length.
class Connections {
public:
    Connections(ConnectionLimits limits, ConnectionHooks hooks);
    ~Connections();

    // The port it listens on (port 0: any free one). Throws
    // std::runtime_error when it cannot listen.
    int Bind(const std::string& host, int port);
    // Answers until Stop() and the last answer in flight is sent.
    void Run();
    // From any thread: no new connection, idle ones closed at once, the
    // requests being answered finished.
    void Stop();

    struct Loop;  // the event loop's state, known to the source file only

private:
    std::shared_ptr<Loop> loop_;
};

}  // namespace quorvel::server
