#include "tests/support/TestCodexDaemon.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <deque>
#include <future>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace brindleaf::testing {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using Socket = net::local::stream_protocol::socket;
using json = nlohmann::json;

namespace {

constexpr int firstRequestID = 1000;

json threadObject(const TestCodexDaemon::Thread& thread) {
    json status = {{"type", thread.type}};
    if (thread.type == "active") status["activeFlags"] = thread.flags;
    return {{"id", thread.id},
            {"status", status},
            {"cwd", thread.cwd},
            {"path", thread.path ? json(*thread.path) : json(nullptr)},
            {"name", thread.name ? json(*thread.name) : json(nullptr)},
            {"ephemeral", thread.ephemeral},
            {"preview", ""},
            {"modelProvider", "openai"},
            {"cliVersion", "0.171.0"}};
}

json statusObject(const std::string& type, const std::vector<std::string>& flags) {
    json status = {{"type", type}};
    if (type == "active") status["activeFlags"] = flags;
    return status;
}

} // namespace

struct TestCodexDaemon::Impl {
    struct Session : std::enable_shared_from_this<Session> {
        Session(Impl& impl, Socket socket) : impl(impl), stream(std::move(socket)) {}

        void begin() {
            auto self = shared_from_this();
            stream.async_accept([self](const beast::error_code& error) {
                if (error) return self->end();
                self->stream.text(true);
                self->read();
            });
        }

        void read() {
            auto self = shared_from_this();
            stream.async_read(buffer, [self](const beast::error_code& error, std::size_t) {
                if (error) return self->end();
                const std::string text = beast::buffers_to_string(self->buffer.data());
                self->buffer.consume(self->buffer.size());
                self->handle(text);
                self->read();
            });
        }

        void end() {
            beast::error_code ignored;
            stream.next_layer().close(ignored);
            impl.sessions.erase(shared_from_this());
        }

        void send(std::string text) {
            outbox.push_back(std::move(text));
            if (!writing) writeNext();
        }

        void writeNext() {
            if (outbox.empty()) {
                writing = false;
                return;
            }
            writing = true;
            auto self = shared_from_this();
            stream.async_write(net::buffer(outbox.front()), [self](const beast::error_code& error, std::size_t) {
                if (error) return self->end();
                self->outbox.pop_front();
                self->writeNext();
            });
        }

        void handle(const std::string& text) {
            const json message = json::parse(text, nullptr, false);
            if (!message.is_object()) return;
            const bool hasID = message.contains("id");
            if (!message.contains("method")) {
                if (hasID && message["id"].is_number_integer() && message["id"].get<int>() >= firstRequestID) {
                    std::lock_guard<std::mutex> guard(impl.lock);
                    impl.answers.push_back(text);
                }
                return;
            }
            const std::string method = message["method"].is_string() ? message["method"].get<std::string>() : "";
            {
                std::lock_guard<std::mutex> guard(impl.lock);
                impl.methods.push_back(method);
            }
            if (!hasID) return;
            const json id = message["id"];
            const json params = message.value("params", json::object());
            double delay = 0;
            {
                std::lock_guard<std::mutex> guard(impl.lock);
                delay = impl.delay;
            }
            if (delay < 0) return;
            auto self = shared_from_this();
            auto answer = [self, id, method, params] { self->answer(id, method, params); };
            if (delay == 0) return answer();
            auto timer = std::make_shared<net::steady_timer>(stream.get_executor());
            timer->expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(delay)));
            timer->async_wait([timer, answer](const beast::error_code& error) {
                if (!error) answer();
            });
        }

        void error(const json& id, int code, const std::string& text) {
            send(json{{"id", id}, {"error", {{"code", code}, {"message", text}}}}.dump());
        }

        void answer(const json& id, const std::string& method, const json& params) {
            if (!stream.is_open()) return;
            if (!initialized && method != "initialize") return error(id, -32600, "Not initialized");
            std::lock_guard<std::mutex> guard(impl.lock);
            if (method == "initialize") {
                initialized = true;
                send(json{{"id", id}, {"result", {{"userAgent", "codex_cli_rs/0.171.0"}}}}.dump());
                for (const auto& thread : impl.threads)
                    send(json{{"method", "thread/status/changed"},
                              {"params", {{"threadId", thread.id}, {"status", statusObject(thread.type, thread.flags)}}}}
                             .dump());
            } else if (method == "thread/loaded/list") {
                std::size_t offset = 0;
                if (params.contains("cursor") && params["cursor"].is_string())
                    offset = std::stoul(params["cursor"].get<std::string>());
                const std::size_t page = impl.pageSize ? impl.pageSize : impl.threads.size();
                json data = json::array();
                std::size_t index = offset;
                for (; index < impl.threads.size() && index < offset + page; ++index) data.push_back(impl.threads[index].id);
                const json next = index < impl.threads.size() ? json(std::to_string(index)) : json(nullptr);
                send(json{{"id", id}, {"result", {{"data", data}, {"nextCursor", next}}}}.dump());
            } else if (method == "thread/read") {
                const std::string wanted = params.value("threadId", "");
                for (const auto& thread : impl.threads)
                    if (thread.id == wanted) return send(json{{"id", id}, {"result", {{"thread", threadObject(thread)}}}}.dump());
                error(id, -32602, "thread not found");
            } else {
                error(id, -32601, "method not found");
            }
        }

        Impl& impl;
        websocket::stream<Socket> stream;
        beast::flat_buffer buffer;
        std::deque<std::string> outbox;
        bool writing = false;
        bool initialized = false;
    };

    explicit Impl(std::filesystem::path path) : socketPath(std::move(path)) {}

    // Runs `job` on the daemon's thread and waits for it.
    void run(const std::function<void()>& job) {
        std::promise<void> done;
        net::post(context, [&] {
            job();
            done.set_value();
        });
        done.get_future().wait();
    }

    void listen() {
        std::error_code ignored;
        std::filesystem::remove(socketPath, ignored);
        acceptor.emplace(context, net::local::stream_protocol::endpoint(socketPath.string()));
        ::chmod(socketPath.c_str(), 0600);
        acceptNext();
    }

    void acceptNext() {
        acceptor->async_accept([this](const beast::error_code& error, Socket socket) {
            if (error) return;
            {
                std::lock_guard<std::mutex> guard(lock);
                ++accepted;
            }
            auto session = std::make_shared<Session>(*this, std::move(socket));
            sessions.insert(session);
            session->begin();
            acceptNext();
        });
    }

    void die() {
        if (acceptor) {
            beast::error_code ignored;
            acceptor->close(ignored);
            acceptor.reset();
        }
        for (const auto& session : std::set<std::shared_ptr<Session>>(sessions)) {
            beast::error_code ignored;
            session->stream.next_layer().close(ignored);
        }
        sessions.clear();
        std::error_code ignored;
        std::filesystem::remove(socketPath, ignored);
    }

    void broadcast(const json& message) {
        const std::string text = message.dump();
        for (const auto& session : sessions)
            if (session->initialized) session->send(text);
    }

    std::filesystem::path socketPath;
    net::io_context context;
    net::executor_work_guard<net::io_context::executor_type> work{context.get_executor()};
    std::optional<net::local::stream_protocol::acceptor> acceptor;
    std::set<std::shared_ptr<Session>> sessions;
    int nextRequestID = firstRequestID;
    std::thread thread;

    mutable std::mutex lock;
    std::vector<Thread> threads;
    std::size_t pageSize = 0;
    double delay = 0;
    std::size_t accepted = 0;
    std::vector<std::string> methods;
    std::vector<std::string> answers;
};

TestCodexDaemon::TestCodexDaemon(std::filesystem::path socketPath)
    : socketPath_(std::move(socketPath)), impl_(std::make_unique<Impl>(socketPath_)) {
    impl_->listen();
    impl_->thread = std::thread([impl = impl_.get()] { impl->context.run(); });
}

TestCodexDaemon::~TestCodexDaemon() {
    impl_->run([this] { impl_->die(); });
    impl_->context.stop();
    impl_->thread.join();
}

void TestCodexDaemon::setThreads(std::vector<Thread> threads) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->threads = std::move(threads);
}

void TestCodexDaemon::setPageSize(std::size_t size) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->pageSize = size;
}

void TestCodexDaemon::setAnswerDelay(double seconds) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->delay = seconds;
}

void TestCodexDaemon::changeStatus(const std::string& id, const std::string& type, std::vector<std::string> flags) {
    impl_->run([&] {
        {
            std::lock_guard<std::mutex> guard(impl_->lock);
            for (auto& thread : impl_->threads)
                if (thread.id == id) {
                    thread.type = type;
                    thread.flags = flags;
                }
        }
        impl_->broadcast({{"method", "thread/status/changed"},
                          {"params", {{"threadId", id}, {"status", statusObject(type, flags)}}}});
    });
}

void TestCodexDaemon::startThread(const Thread& thread) {
    impl_->run([&] {
        {
            std::lock_guard<std::mutex> guard(impl_->lock);
            impl_->threads.push_back(thread);
        }
        impl_->broadcast({{"method", "thread/started"}, {"params", {{"thread", threadObject(thread)}}}});
    });
}

void TestCodexDaemon::closeThread(const std::string& id) {
    impl_->run([&] {
        {
            std::lock_guard<std::mutex> guard(impl_->lock);
            std::erase_if(impl_->threads, [&](const Thread& thread) { return thread.id == id; });
        }
        impl_->broadcast({{"method", "thread/closed"}, {"params", {{"threadId", id}}}});
    });
}

void TestCodexDaemon::renameThread(const std::string& id, const std::string& name) {
    impl_->run([&] {
        {
            std::lock_guard<std::mutex> guard(impl_->lock);
            for (auto& thread : impl_->threads)
                if (thread.id == id) thread.name = name;
        }
        impl_->broadcast({{"method", "thread/name/updated"}, {"params", {{"threadId", id}, {"threadName", name}}}});
    });
}

void TestCodexDaemon::sendRequest(const std::string& method) {
    impl_->run([&] {
        impl_->broadcast({{"id", impl_->nextRequestID++},
                          {"method", method},
                          {"params", {{"threadId", "any"}, {"itemId", "call-1"}, {"command", "rm -rf build"}}}});
    });
}

void TestCodexDaemon::stop() {
    impl_->run([this] { impl_->die(); });
}

void TestCodexDaemon::start() {
    impl_->run([this] { impl_->listen(); });
}

std::size_t TestCodexDaemon::openConnections() const {
    std::size_t count = 0;
    impl_->run([&] { count = impl_->sessions.size(); });
    return count;
}

std::size_t TestCodexDaemon::acceptedConnections() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->accepted;
}

std::vector<std::string> TestCodexDaemon::methodsReceived() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->methods;
}

std::vector<std::string> TestCodexDaemon::answersToRequests() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->answers;
}

} // namespace brindleaf::testing
