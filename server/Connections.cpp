#include "server/Connections.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <future>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>  // before Asio, whose awaitable.hpp uses std::exchange
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvel::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

class Session;

// A refused connection's bytes, read to be dropped: a close with unread bytes
// resets the connection, and the client could lose the answer before it.
constexpr std::size_t kLingerBytes = std::size_t(64) << 20;
constexpr std::chrono::milliseconds kLingerTime{2000};

std::size_t DescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1 << 20;
    return std::size_t(limit.rlim_cur);
}

// Every descriptor the system allows is the connections' to use.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string_view View(beast::string_view text)
{
    return {text.data(), text.size()};
}

bool IsParseError(const beast::error_code& error)
{
    return error.category() == http::make_error_code(http::error::bad_target).category() &&
           error != http::error::end_of_stream && error != http::error::partial_message;
}

}  // namespace

struct Connections::Loop {
    Loop(ConnectionLimits l, ConnectionHooks h) : limits(l), hooks(std::move(h)), workers(l.workers) {}

    void Accept();
    void OnAccepted(const beast::error_code& error, tcp::socket socket);
    void RefuseBusy(int fd);
    void NoteOutOfDescriptors();

    ConnectionLimits limits;
    ConnectionHooks hooks;
    asio::io_context io;
    asio::thread_pool workers;
    tcp::acceptor acceptor{io};
    std::atomic<bool> stopping = false;

    std::mutex mutex;  // guards sessions
    std::list<std::weak_ptr<Session>> sessions;
    std::atomic<std::size_t> open = 0;
    std::size_t maxOpen = 0;
    // A descriptor given up to take a connection when there are none left,
    // so that it can be answered and closed rather than left waiting.
    int reserve = -1;
    bool outOfDescriptors = false;
    std::string busyAnswer;  // 503, framed
};

namespace {

// The connection's deadline: the head time, plus the time the bytes
// transferred so far take at the slowest rate allowed.
Clock::time_point Deadline(const ConnectionLimits& limits, Clock::time_point start, std::size_t bytes)
{
    return start + limits.headTime +
           std::chrono::milliseconds(bytes * 1000 / std::max<std::size_t>(limits.slowestBytesPerSecond, 1));
}

// The answer's status line and headers; a body of unknown size (none) is sent
// in chunks.
std::string Frame(const httplib::Response& response, bool close, std::optional<std::size_t> bodySize)
{
    const auto reason = http::obsolete_reason(http::int_to_status(unsigned(response.status)));
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + std::string(reason) + "\r\n";
    for (const auto& [name, value] : response.headers) {
        if (beast::iequals(name, "Content-Length") || beast::iequals(name, "Connection") ||
            beast::iequals(name, "Keep-Alive") || beast::iequals(name, "Transfer-Encoding"))
            continue;
        head += name + ": " + value + "\r\n";
    }
    head += bodySize ? "Content-Length: " + std::to_string(*bodySize) + "\r\n" : "Transfer-Encoding: chunked\r\n";
    if (close)
        head += "Connection: close\r\n";
    head += "\r\n";
    return head;
}

// A body the handler gives piece by piece, of a size it does not tell: sent
// as it comes rather than held whole.
bool IsStreamed(const httplib::Response& response)
{
    return response.content_provider_ && (response.is_chunked_content_provider_ || response.content_length_ == 0);
}

// The handler's content provider run to its end, into the body.
bool TakeProvidedBody(httplib::Response& response)
{
    if (!response.content_provider_)
        return true;
    std::string body;
    bool done = false;
    httplib::DataSink sink;
    sink.write = [&body](const char* data, std::size_t size) {
        body.append(data, size);
        return true;
    };
    sink.done = [&done] { done = true; };
    sink.is_writable = [] { return true; };
    const std::size_t length = response.content_length_;
    const bool known = length > 0 && !response.is_chunked_content_provider_;
    if (known)
        body.reserve(length);
    bool ok = true;
    while (ok && !done && (!known || body.size() < length)) {
        const std::size_t before = body.size();
        ok = response.content_provider_(body.size(), known ? length - body.size() : 0, sink);
        if (body.size() == before && !done)
            break;
    }
    if (known && body.size() != length)
        ok = false;
    response.content_provider_ = nullptr;
    response.body = std::move(body);
    return ok;
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(Connections::Loop& loop, tcp::socket socket) : loop_(loop), stream_(std::move(socket)) { ++loop_.open; }
    ~Session()
    {
        --loop_.open;
        const std::lock_guard lock(loop_.mutex);
        loop_.sessions.erase(self_);
    }

    void Start(std::list<std::weak_ptr<Session>>::iterator self)
    {
        self_ = self;
        asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->ReadHead(); });
    }

    // Idle, lingering or still sending its head: closed now. Otherwise it
    // closes once its answer is sent.
    void Stop()
    {
        asio::dispatch(stream_.get_executor(), [self = shared_from_this()] {
            if (self->phase_ == Phase::Head || self->phase_ == Phase::Linger)
                self->Close();
        });
    }

private:
    enum class Phase { Head, Body, Work, Write, Linger, Closed };

    const ConnectionLimits& limits() const { return loop_.limits; }

    void ReadHead()
    {
        if (loop_.stopping)
            return Close();
        phase_ = Phase::Head;
        request_ = {};
        response_ = {};
        started_.reset();
        parser_.emplace();
        parser_->header_limit(std::uint32_t(limits().headBytes));
        parser_->body_limit(limits().bodyBytes);
        stream_.expires_after(limits().headTime);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                    self->OnHead(error);
                                });
    }

    // The parser takes the request line as soon as it ends: without it, the
    // request line alone is over the limit.
    bool RequestLineTooLong() const { return parser_->get().target().empty(); }

    void OnHead(const beast::error_code& error)
    {
        if (phase_ == Phase::Closed)
            return;
        if (error == http::error::header_limit || error == http::error::buffer_overflow)
            return Refuse(RequestLineTooLong() ? 414 : 431);
        // The parser tells a Content-Length over the limit once it has the
        // whole head: the request is screened first all the same, so that a
        // wrong method is 405 whatever its length.
        const bool tooLarge = error == http::error::body_limit;
        if (IsParseError(error) && !tooLarge)
            return Refuse(400);
        if (error && !tooLarge)
            return Close();
        const auto& head = parser_->get();
        started_ = Clock::now();
        const std::string_view target = View(head.target());
        if (!target.starts_with('/'))
            return Refuse(400);
        request_.method = std::string(View(head.method_string()));
        request_.target = std::string(target);
        request_.version = head.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
        for (const auto& field : head)
            request_.headers.emplace(std::string(View(field.name_string())), std::string(View(field.value())));
        const std::size_t query = target.find('?');
        request_.path = httplib::detail::decode_url(std::string(target.substr(0, query)), false);
        if (query != std::string_view::npos)
            httplib::detail::parse_query_text(std::string(target.substr(query + 1)), request_.params);
        keepAlive_ = head.keep_alive();
        if (std::size_t(std::distance(head.begin(), head.end())) > limits().headLines)
            return Refuse(431);

        const bool body = tooLarge || !parser_->is_done();
        if (loop_.hooks.screen(request_, response_))
            return Write(body);
        if (tooLarge)
            return Refuse(413);
        if (!body)
            return Work();
        if (beast::iequals(head[http::field::expect], "100-continue")) {
            static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            stream_.expires_after(limits().headTime);
            return asio::async_write(stream_, asio::buffer(kContinue),
                                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                                         if (error)
                                             return self->Close();
                                         self->ReadBody();
                                     });
        }
        ReadBody();
    }

    void ReadBody()
    {
        phase_ = Phase::Body;
        bodyStart_ = Clock::now();
        bodyRead_ = 0;
        ReadSomeBody();
    }

    void ReadSomeBody()
    {
        if (parser_->is_done())
            return Work();
        stream_.expires_at(Deadline(limits(), bodyStart_, bodyRead_));
        http::async_read_some(stream_, buffer_, *parser_,
                              [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                                  if (self->phase_ == Phase::Closed)
                                      return;
                                  self->bodyRead_ += bytes;
                                  if (error == http::error::body_limit)
                                      return self->Refuse(413);
                                  if (IsParseError(error))
                                      return self->Refuse(400);
                                  if (error)
                                      return self->Close();
                                  self->ReadSomeBody();
                              });
    }

    void Work()
    {
        phase_ = Phase::Work;
        request_.body = std::move(parser_->get().body());
        if (loop_.hooks.quick && loop_.hooks.quick(request_)) {
            // Answered here: two thread switches would cost more than the answer.
            Answer(true);
            return Write(false);
        }
        asio::post(loop_.workers, [self = shared_from_this(), guard = asio::make_work_guard(loop_.io)] {
            if (self->Answer(false))
                return self->Stream();
            asio::post(self->stream_.get_executor(), [self] { self->Write(false); });
        });
    }

    // The handler's answer in response_, or a 500 when it throws or its body
    // cannot be taken. True when the body is to go out streamed, which only a
    // worker does: on the loop a streamed answer is a 500.
    bool Answer(bool onLoop)
    {
        try {
            loop_.hooks.handle(request_, response_);
            const bool streamed = IsStreamed(response_);
            // HTTP/1.0 knows no chunks: such a client gets the body whole.
            if (streamed && !onLoop && request_.method != "HEAD" && request_.version == "HTTP/1.1")
                return true;
            if ((streamed && onLoop) || !TakeProvidedBody(response_)) {
                response_ = {};
                loop_.hooks.failure(500, response_);
            }
        } catch (...) {
            response_ = {};
            loop_.hooks.failure(500, response_);
            TakeProvidedBody(response_);
        }
        return false;
    }

    // On the worker: the provider's pieces, gathered into chunks of 64 KiB,
    // each written by the loop while the worker waits.
    void Stream()
    {
        if (response_.status < 0)
            response_.status = 200;
        const bool close = !keepAlive_ || loop_.stopping ||
                           beast::iequals(response_.get_header_value("Connection"), "close");
        std::size_t sent = 0;
        std::string pending;
        bool ok = Put(Frame(response_, close, std::nullopt));
        const auto flush = [&] {
            if (ok && !pending.empty()) {
                char size[20];
                const auto end = std::to_chars(size, size + sizeof size, pending.size(), 16).ptr;
                ok = Put(std::string(size, end) + "\r\n" + pending + "\r\n");
                if (ok)
                    sent += pending.size();
                pending.clear();
            }
            return ok;
        };
        bool done = false;
        std::size_t offered = 0;
        httplib::DataSink sink;
        sink.write = [&](const char* data, std::size_t size) {
            pending.append(data, size);
            offered += size;
            return pending.size() < 65536 || flush();
        };
        sink.done = [&done] { done = true; };
        sink.is_writable = [&ok] { return ok; };
        while (ok && !done) {
            const std::size_t before = offered;
            ok = response_.content_provider_(offered, 0, sink);
            if (offered == before && !done)
                break;
        }
        ok = flush() && Put("0\r\n\r\n");
        asio::post(stream_.get_executor(), [self = shared_from_this(), ok, close, sent] {
            self->phase_ = Phase::Write;
            self->Finish(!ok, sent, close);
        });
    }

    // From a worker: the bytes written by the loop, once they are.
    bool Put(const std::string& bytes)
    {
        std::promise<bool> written;
        std::future<bool> result = written.get_future();
        asio::post(stream_.get_executor(), [this, &bytes, &written] {
            if (phase_ == Phase::Closed)
                return written.set_value(false);
            stream_.expires_at(Deadline(limits(), Clock::now(), bytes.size()));
            asio::async_write(stream_, asio::buffer(bytes), [&written](beast::error_code error, std::size_t) {
                written.set_value(!error);
            });
        });
        return result.get();
    }

    // An answer sent in place of reading the request on: the connection then closes.
    void Refuse(int status)
    {
        response_ = {};
        loop_.hooks.failure(status, response_);
        Write(true);
    }

    void Write(bool bodyLeftUnread)
    {
        if (phase_ == Phase::Closed)
            return;
        phase_ = Phase::Write;
        TakeProvidedBody(response_);
        if (response_.status < 0)
            response_.status = 200;
        const bool close = bodyLeftUnread || !keepAlive_ || loop_.stopping ||
                           beast::iequals(response_.get_header_value("Connection"), "close");
        const bool headOnly = request_.method == "HEAD";
        head_ = Frame(response_, close, response_.body.size());
        const std::size_t total = head_.size() + (headOnly ? 0 : response_.body.size());
        const std::array<asio::const_buffer, 2> buffers{
            asio::buffer(head_), headOnly ? asio::const_buffer() : asio::buffer(response_.body)};
        stream_.expires_at(Deadline(limits(), Clock::now(), total));
        asio::async_write(stream_, buffers,
                          [self = shared_from_this(), close, headOnly](beast::error_code error, std::size_t bytes) {
                              self->OnWritten(error, bytes, close, headOnly);
                          });
    }

    void OnWritten(const beast::error_code& error, std::size_t bytes, bool close, bool headOnly)
    {
        Finish(bool(error), headOnly || bytes < head_.size() ? 0 : bytes - head_.size(), close);
    }

    void Finish(bool failed, std::size_t bodySent, bool close)
    {
        std::optional<double> ms;
        if (started_)
            ms = std::chrono::duration<double, std::milli>(Clock::now() - *started_).count();
        loop_.hooks.sent(request_, response_, bodySent, !failed, ms);
        if (failed || phase_ == Phase::Closed)
            return Close();
        if (close)
            return Linger();
        ReadHead();
    }

    void Linger()
    {
        if (loop_.stopping)
            return Close();
        phase_ = Phase::Linger;
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        bodyStart_ = Clock::now();
        bodyRead_ = 0;
        LingerSome();
    }

    void LingerSome()
    {
        if (bodyRead_ >= kLingerBytes)
            return Close();
        stream_.expires_at(Deadline(limits(), bodyStart_, bodyRead_) - limits().headTime + kLingerTime);
        static std::array<char, 65536> dropped;
        stream_.async_read_some(asio::buffer(dropped),
                                [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                                    if (self->phase_ == Phase::Closed)
                                        return;
                                    self->bodyRead_ += bytes;
                                    if (error)
                                        return self->Close();
                                    self->LingerSome();
                                });
    }

    void Close()
    {
        if (phase_ == Phase::Closed)
            return;
        phase_ = Phase::Closed;
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    Connections::Loop& loop_;
    beast::tcp_stream stream_;
    std::list<std::weak_ptr<Session>>::iterator self_;
    beast::flat_buffer buffer_{std::size_t(1) << 17};
    std::optional<http::request_parser<http::string_body>> parser_;
    Phase phase_ = Phase::Head;
    bool keepAlive_ = true;
    std::optional<Clock::time_point> started_;
    Clock::time_point bodyStart_;
    std::size_t bodyRead_ = 0;
    httplib::Request request_;
    httplib::Response response_;
    std::string head_;
};

}  // namespace

void Connections::Loop::Accept()
{
    acceptor.async_accept(asio::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
        OnAccepted(error, std::move(socket));
    });
}

void Connections::Loop::NoteOutOfDescriptors()
{
    if (outOfDescriptors)
        return;
    outOfDescriptors = true;
    std::fprintf(stderr, "quorvel-server: out of file descriptors (limit %zu): new connections get 503 until some close\n",
                 DescriptorLimit());
}

// 503 written as far as the socket takes it at once, and the connection closed.
void Connections::Loop::RefuseBusy(int fd)
{
    NoteOutOfDescriptors();
    char request[4096];
    while (::recv(fd, request, sizeof request, MSG_DONTWAIT) > 0) {
    }
    ::send(fd, busyAnswer.data(), busyAnswer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
}

void Connections::Loop::OnAccepted(const beast::error_code& error, tcp::socket socket)
{
    if (stopping || error == asio::error::operation_aborted || !acceptor.is_open())
        return;
    if (error == asio::error::no_descriptors || error.value() == ENFILE) {
        // The connection that could not be taken waits in the backlog: take
        // it with the reserve descriptor, answer and close it.
        if (reserve >= 0)
            ::close(reserve);
        const int fd = ::accept4(acceptor.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            RefuseBusy(fd);
            ::close(fd);
        } else {
            NoteOutOfDescriptors();
        }
        reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    } else if (!error) {
        if (open >= maxOpen) {
            RefuseBusy(socket.native_handle());
        } else {
            outOfDescriptors = false;
            socket.set_option(tcp::no_delay(true));
            auto session = std::make_shared<Session>(*this, std::move(socket));
            std::list<std::weak_ptr<Session>>::iterator self;
            {
                const std::lock_guard lock(mutex);
                self = sessions.insert(sessions.end(), session);
            }
            session->Start(self);
        }
    }
    Accept();
}

Connections::Connections(ConnectionLimits limits, ConnectionHooks hooks)
    : loop_(std::make_shared<Loop>(limits, std::move(hooks)))
{
    httplib::Response busy;
    loop_->hooks.failure(503, busy);
    TakeProvidedBody(busy);
    busy.status = 503;
    loop_->busyAnswer = Frame(busy, true, busy.body.size()) + busy.body;
}

Connections::~Connections()
{
    loop_->workers.join();
    if (loop_->reserve >= 0)
        ::close(loop_->reserve);
}

int Connections::Bind(const std::string& host, int port)
{
    RaiseDescriptorLimit();
    const std::size_t limit = DescriptorLimit();
    loop_->maxOpen = limit > 2 * loop_->limits.spareDescriptors ? limit - loop_->limits.spareDescriptors : limit / 2;
    loop_->reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    try {
        tcp::resolver resolver(loop_->io);
        const auto address = *resolver.resolve(host, std::to_string(port), tcp::resolver::passive).begin();
        tcp::acceptor& acceptor = loop_->acceptor;
        acceptor.open(address.endpoint().protocol());
        acceptor.set_option(asio::socket_base::reuse_address(true));
        acceptor.bind(address.endpoint());
        // Connections that arrive together all wait, rather than being
        // dropped and retried a second later.
        acceptor.listen(asio::socket_base::max_listen_connections);
        acceptor.non_blocking(true);
        return acceptor.local_endpoint().port();
    } catch (const boost::system::system_error&) {
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    }
}

void Connections::Run()
{
    loop_->Accept();
    const unsigned extra = std::min(3u, std::max(1u, std::thread::hardware_concurrency())) - 1;
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < extra; ++i)
        threads.emplace_back([this] { loop_->io.run(); });
    loop_->io.run();
    for (auto& thread : threads)
        thread.join();
}

void Connections::Stop()
{
    asio::post(loop_->io, [loop = loop_] {
        loop->stopping = true;
        beast::error_code ignored;
        loop->acceptor.close(ignored);
        std::vector<std::shared_ptr<Session>> sessions;
        {
            const std::lock_guard lock(loop->mutex);
            for (const auto& weak : loop->sessions)
                if (auto session = weak.lock())
                    sessions.push_back(std::move(session));
        }
        for (const auto& session : sessions)
            session->Stop();
    });
}

}  // namespace quorvel::server
