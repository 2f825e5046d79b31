// quorvel-server: the design rainfall over HTTP.
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <thread>

#include <QGuiApplication>

#include <pthread.h>
#include <unistd.h>

#include "server/CommandLine.h"
#include "server/MemoryShape.h"
#include "server/Server.h"

int main(int argc, char** argv)
{
    using namespace quorvel::server;
    ShapeProcessMemory();
    ServerCommandLine line;
    try {
        char self[4096] = {};
        const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
        line = ParseServerCommandLine(argc, argv, DefaultWebFolder(length > 0 ? self : argv[0]));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "quorvel-server: %s\n%s", error.what(), ServerUsage());
        return 2;
    }
    if (line.help) {
        std::fputs(ServerUsage(), stdout);
        return 0;
    }
    // Termination is awaited by one thread, so the server stops cleanly;
    // a client gone mid-answer must not end the process.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // The map's text is drawn with the fonts of a QGuiApplication, which
    // needs no display on the offscreen platform. Made once the address is
    // told, which stays the first line, before Qt's own remarks; it outlives
    // the server, whose map service draws with it.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::optional<QGuiApplication> application;
    try {
        Server server(line.options);
        const int port = server.Bind();
        std::fprintf(stderr, "quorvel-server: listening on http://%s:%d/ with the folder %s\n",
                     line.options.host.find(':') != std::string::npos ? ("[" + line.options.host + "]").c_str()
                                                                      : line.options.host.c_str(),
                     port, line.options.folder.c_str());
        application.emplace(argc, argv);
        std::thread waiter([&server, stopping] {
            int signal = 0;
            sigwait(&stopping, &signal);
            server.Stop();
        });
        waiter.detach();
        server.Run();
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quorvel-server: %s\n", error.what());
        return 2;
    }
}
