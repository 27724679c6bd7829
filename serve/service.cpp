#include "serve/service.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <cstdio>
#include <future>
#include <thread>

#include "lib/cleanup.h"
#include "serve/answers.h"
#include "serve/options.h"
#include "serve/page.h"
#include "serve/routes.h"

namespace mwconv::serve {

namespace {

// Every answer, whatever made it.
const httplib::Headers kEveryAnswer = {{"X-Content-Type-Options", "nosniff"}};

// A converted document shown as HTML may hold anything a document held:
// no script, no request anywhere, pictures only as data.
constexpr const char *kDocumentPolicy = "default-src 'none'; img-src data:; style-src 'unsafe-inline'; sandbox";
// The page runs its own script and styles, talks to this service only, and
// shows previews in frames of their own.
constexpr const char *kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src data:; connect-src 'self'; "
    "frame-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// Seconds an idle connection stays open: a stop waits for idle connections
// as for running requests, so it is short.
constexpr time_t kKeepAlive = 3;

// The library's own stop ends every answer still being sent; a stop here
// only ends accepting: its loop then closes the socket and waits for the
// connections it serves, which send their answers whole.
class Server : public httplib::Server {
public:
    void stop_accepting() {
        const socket_t listening = svr_sock_;
        if (listening != INVALID_SOCKET) ::shutdown(listening, SHUT_RDWR);
    }
};

// The library's pool, whose threads each serve one connection at a time.
// A thread keeps its scratch files from one request to the next (empty
// between requests), as making files costs the file system far more than
// emptying them; when the connection ends they are closed, so that an idle
// service holds no descriptor for them.
class ConnectionPool : public httplib::ThreadPool {
public:
    using httplib::ThreadPool::ThreadPool;
    void enqueue(std::function<void()> connection) override {
        httplib::ThreadPool::enqueue([connection = std::move(connection)] {
            connection();
            release_thread_scratch();
        });
    }
};

bool is_html(const httplib::Response &res) { return res.get_header_value("Content-Type").rfind("text/html", 0) == 0; }

void configure(httplib::Server &server, const Settings &settings) {
    const size_t threads = settings.jobs + settings.queue + 8;  // the rest answer 503s, health checks and pages
    server.new_task_queue = [threads] { return new ConnectionPool(threads); };
    server.set_default_headers(kEveryAnswer);
    server.set_read_timeout(settings.timeout, 0);
    server.set_write_timeout(settings.timeout, 0);
    server.set_keep_alive_max_count(1000);
    server.set_keep_alive_timeout(kKeepAlive);
    // An answer goes out as its head, then its body: without this each waits
    // for the client's delayed acknowledgement of the other.
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(settings.max_upload);
    server.set_post_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (is_html(res)) res.set_header("Content-Security-Policy", page_file(req.path) ? kPagePolicy : kDocumentPolicy);
    });
    // What the library answers itself (no such path, a request it cannot
    // read) comes as problem details too.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        problem(res, res.status, reason_phrase(res.status), "");
        return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr ep) {
        std::string what = "unexpected failure";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception &e) {
            what = e.what();
        } catch (...) {
        }
        problem(res, 500, "Internal error", what);
    });
}

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// SIGINT and SIGTERM are taken by a thread of their own, which stops the
// server; running requests then finish, for `grace` at most.  Every other
// thread blocks them: the mask is set before any thread is made, and
// threads inherit it.
class Stopper {
public:
    Stopper(Server &server, Routes &routes, unsigned grace) {
        const sigset_t set = stop_signals();
        thread_ = std::thread([this, &server, &routes, set, grace] {
            int sig = 0;
            sigwait(&set, &sig);
            if (finished_.load()) return;
            server.stop_accepting();
            if (done_.get_future().wait_for(std::chrono::seconds(grace)) == std::future_status::ready) return;
            std::fprintf(stderr, "mwconv serve: requests still running after %u s; stopping them\n", grace);
            routes.remove_scratch();
            remove_pending_files();
            ::_exit(0);
        });
    }
    // Called when the server has stopped by itself or by a signal.
    void finished() {
        finished_ = true;
        done_.set_value();
        ::kill(::getpid(), SIGTERM);  // wakes the waiting thread when no signal came
        thread_.join();
    }

private:
    std::promise<void> done_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

int listen(httplib::Server &server, const Settings &settings) {
    int port = settings.port;
    if (port == 0) port = server.bind_to_any_port(settings.host);
    else if (!server.bind_to_port(settings.host, port)) port = -1;
    if (port < 0) {
        std::fprintf(stderr, "mwconv serve: cannot listen on %s:%d\n", settings.host.c_str(), settings.port);
        return -1;
    }
    const bool v6 = settings.host.find(':') != std::string::npos;
    std::fprintf(stderr, "mwconv serve: listening on http://%s%s%s:%d/\n", v6 ? "[" : "", settings.host.c_str(),
                 v6 ? "]" : "", port);
    std::fflush(stderr);
    return port;
}

}  // namespace

int run(const std::vector<std::string> &args) {
    std::string error;
    const auto settings = parse_settings(args, error);
    if (!settings) {
        std::fprintf(stderr, "mwconv serve: %s\nTry 'mwconv serve --help'.\n", error.c_str());
        return kBadUsage;
    }
    if (settings->help) {
        std::fputs(settings_help().c_str(), stdout);
        return kOk;
    }
    install_cleanup_handlers();
    const sigset_t stopping = stop_signals();
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
#if defined(__GLIBC__)
    // Only -j threads convert at once; the C library would otherwise give
    // each of the pool's threads an arena of its own, each grown to the
    // largest document it met, and the memory would creep up for a long time.
    mallopt(M_ARENA_MAX, static_cast<int>(settings->jobs) + 1);
    // A fixed threshold: large buffers (uploads, documents, outputs) are
    // mapped and given back when freed, instead of the threshold rising to
    // the largest one freed and later ones fragmenting the arenas.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // Up to 512 KiB freed at the top of an arena stays for the next
    // conversion, which would otherwise fault its pages in again (a DOCX's
    // compressor alone takes a quarter of a megabyte); the rest is given
    // back now and then (Routes).
    mallopt(M_TRIM_THRESHOLD, 512 * 1024);
#endif  // a client gone away is a failed write, not the end of the service
    std::unique_ptr<Library> library;
    try {
        library = std::make_unique<Library>(settings->plugin);
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kFailed;
    }
    Server server;
    configure(server, *settings);
    Routes routes(*library, *settings);
    routes.install(server);
    if (listen(server, *settings) < 0) return kFailed;
    // A request may take the timeout to arrive, then converts and is sent.
    Stopper stopper(server, routes, settings->timeout + 2 * kKeepAlive);
    server.listen_after_bind();
    stopper.finished();
    routes.remove_scratch();
    return kOk;
}

}  // namespace mwconv::serve
