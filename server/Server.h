#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "server/Connections.h"
#include "server/DataFolder.h"
#include "server/Limits.h"
#include "server/PageFiles.h"
#include "server/Router.h"

namespace quorvel::server {

struct ServerOptions {
    std::string folder;  // the application folder
    std::string host = "127.0.0.1";
    int port = 8080;     // 0: any free port
    std::string webDir;  // the page's built files
    // Requests answered at once. A connection holds none while it is read,
    // written or kept alive.
    std::size_t threads = 64;
    ServiceLimits limits;
};

// The HTTP server over one application folder.
class Server {
public:
    // Throws Error when the folder cannot be used.
    explicit Server(const ServerOptions& options);
    ~Server();

    // The port it listens on. Throws std::runtime_error when it cannot bind.
    int Bind();
    // Answers requests until Stop() and the answers in flight are sent.
    void Run();
    // From any thread, a signal's waiter for one.
    void Stop();

private:
    ServerOptions options_;
    DataFolder data_;
    PageFiles page_;
    Router router_;
    std::unique_ptr<Connections> connections_;
};

}  // namespace quorvel::server
