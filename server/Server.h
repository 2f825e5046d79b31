#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <httplib.h>

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
    // Each open connection holds a thread while it is read or kept alive, so
    // there are enough for many browsers and a load test's connections.
    std::size_t threads = 128;
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
    // Answers requests until Stop().
    void Run();
    void Stop();

private:
    ServerOptions options_;
    httplib::Server http_;
    DataFolder data_;
    PageFiles page_;
    Router router_;
    int listening_ = -1;  // the listening socket, while bound
};

}  // namespace quorvel::server
