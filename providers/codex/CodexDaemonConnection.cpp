#include "providers/codex/CodexDaemonConnection.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <deque>
#include <map>
#include <set>
#include <unordered_map>

namespace brindleaf {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using Socket = net::local::stream_protocol::socket;

struct CodexDaemonConnection::State {
    enum class Asked { initialize, list, read };
    struct Pending {
        Asked asked;
        std::string threadID;
    };

    State(net::io_context& context, std::string version, Events events)
        : stream(context), clientVersion(std::move(version)), events(std::move(events)) {}

    websocket::stream<Socket> stream;
    std::string clientVersion;
    Events events;
    beast::flat_buffer buffer;
    std::deque<std::string> outbox;
    bool writing = false;
    bool ended = false;
    bool listed = false;
    int64_t nextID = 1;
    std::unordered_map<int64_t, Pending> pending;
    std::set<std::string> reading; // threads with a thread/read under way
    std::set<std::string> ephemeral;
    std::map<std::string, CodexOfficialThreadStatus> threads;
};

CodexDaemonConnection::CodexDaemonConnection(std::unique_ptr<State> state) : state_(std::move(state)) {}

CodexDaemonConnection::~CodexDaemonConnection() = default;

std::shared_ptr<CodexDaemonConnection> CodexDaemonConnection::start(net::io_context& context,
                                                                    const std::string& socketPath,
                                                                    std::string clientVersion, Events events) {
    std::shared_ptr<CodexDaemonConnection> connection(
        new CodexDaemonConnection(std::make_unique<State>(context, std::move(clientVersion), std::move(events))));
    connection->begin(socketPath);
    return connection;
}

void CodexDaemonConnection::begin(const std::string& socketPath) {
    auto self = shared_from_this();
    state_->stream.next_layer().async_connect(
        net::local::stream_protocol::endpoint(socketPath), [self](const beast::error_code& error) {
            if (self->state_->ended) return;
            if (error) return self->fail("connect-error");
            auto& stream = self->state_->stream;
            stream.read_message_max(maxMessageBytes);
            stream.set_option(websocket::stream_base::decorator(
                [](websocket::request_type& request) { request.set(beast::http::field::user_agent, "brindleaf"); }));
            stream.async_handshake("localhost", "/", [self](const beast::error_code& error) {
                if (self->state_->ended) return;
                if (error) return self->fail("handshake-error");
                self->state_->stream.text(true);
                const int64_t id = self->state_->nextID++;
                self->state_->pending.emplace(id, State::Pending{State::Asked::initialize, {}});
                self->send(CodexDaemonProtocol::initializeRequest(id, self->state_->clientVersion));
                self->readNext();
            });
        });
}

void CodexDaemonConnection::close() {
    if (state_->ended) return;
    state_->ended = true;
    beast::error_code ignored;
    state_->stream.next_layer().close(ignored);
}

bool CodexDaemonConnection::isReady() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ready_;
}

std::vector<CodexOfficialThreadStatus> CodexDaemonConnection::threads() const {
    std::lock_guard<std::mutex> guard(lock_);
    return threads_;
}

void CodexDaemonConnection::fail(const std::string& reason) {
    if (state_->ended) return;
    close();
    if (state_->events.lost) state_->events.lost(reason);
}

void CodexDaemonConnection::readNext() {
    auto self = shared_from_this();
    state_->stream.async_read(state_->buffer, [self](const beast::error_code& error, std::size_t) {
        if (self->state_->ended) return;
        if (error)
            return self->fail(error == websocket::error::closed || error == net::error::eof ? "closed" : "read-error");
        const std::string text = beast::buffers_to_string(self->state_->buffer.data());
        self->state_->buffer.consume(self->state_->buffer.size());
        self->handle(text);
        if (!self->state_->ended) self->readNext();
    });
}

void CodexDaemonConnection::send(std::string message) {
    state_->outbox.push_back(std::move(message));
    if (!state_->writing) writeNext();
}

void CodexDaemonConnection::writeNext() {
    if (state_->outbox.empty() || state_->ended) {
        state_->writing = false;
        return;
    }
    state_->writing = true;
    auto self = shared_from_this();
    state_->stream.async_write(net::buffer(state_->outbox.front()),
                               [self](const beast::error_code& error, std::size_t) {
                                   if (self->state_->ended) return;
                                   if (error) return self->fail("write-error");
                                   self->state_->outbox.pop_front();
                                   self->writeNext();
                               });
}

void CodexDaemonConnection::requestList(const std::optional<std::string>& cursor) {
    const int64_t id = state_->nextID++;
    state_->pending.emplace(id, State::Pending{State::Asked::list, {}});
    send(CodexDaemonProtocol::loadedListRequest(id, cursor));
}

void CodexDaemonConnection::requestRead(const std::string& threadID) {
    if (threadID.empty() || state_->reading.count(threadID)) return;
    state_->reading.insert(threadID);
    const int64_t id = state_->nextID++;
    state_->pending.emplace(id, State::Pending{State::Asked::read, threadID});
    send(CodexDaemonProtocol::threadReadRequest(id, threadID));
}

void CodexDaemonConnection::checkReady() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (ready_ || !state_->listed || !state_->reading.empty()) return;
        ready_ = true;
    }
    notifyChanged();
    if (state_->events.ready) state_->events.ready();
}

void CodexDaemonConnection::notifyChanged() {
    std::vector<CodexOfficialThreadStatus> copy;
    copy.reserve(state_->threads.size());
    for (const auto& [id, status] : state_->threads) copy.push_back(status);
    bool ready = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        threads_ = std::move(copy);
        ready = ready_;
    }
    if (ready && state_->events.changed) state_->events.changed();
}

void CodexDaemonConnection::handle(const std::string& text) {
    using Kind = CodexDaemonProtocol::Incoming::Kind;
    CodexDaemonProtocol::Incoming incoming = CodexDaemonProtocol::parse(text);
    switch (incoming.kind) {
    case Kind::unknown:
        return;
    case Kind::request:
        // Whatever the daemon asks (an approval, say), this client never answers for the user.
        send(CodexDaemonProtocol::refusal(incoming.rawID));
        return;
    case Kind::response:
    case Kind::errorResponse: {
        if (!incoming.id) return;
        auto found = state_->pending.find(*incoming.id);
        if (found == state_->pending.end()) return;
        const State::Pending asked = std::move(found->second);
        state_->pending.erase(found);
        const bool failed = incoming.kind == Kind::errorResponse;
        switch (asked.asked) {
        case State::Asked::initialize:
            if (failed) return fail("initialize-refused");
            send(CodexDaemonProtocol::initializedNotification());
            requestList(std::nullopt);
            return;
        case State::Asked::list:
            if (failed) return fail("list-refused");
            for (const auto& id : incoming.threadIDs)
                if (!state_->threads.count(id) && !state_->ephemeral.count(id)) requestRead(id);
            if (incoming.nextCursor)
                requestList(incoming.nextCursor);
            else
                state_->listed = true;
            checkReady();
            return;
        case State::Asked::read:
            state_->reading.erase(asked.threadID);
            if (!failed && incoming.thread) {
                CodexDaemonProtocol::Thread& thread = *incoming.thread;
                if (thread.ephemeral) {
                    state_->ephemeral.insert(thread.status.id);
                } else {
                    state_->threads.insert_or_assign(thread.status.id, std::move(thread.status));
                    notifyChanged();
                }
            }
            checkReady();
            return;
        }
        return;
    }
    case Kind::notification:
        break;
    }
    const std::string& id = incoming.threadID;
    if (incoming.method == "thread/started") {
        requestRead(id);
    } else if (incoming.method == "thread/closed") {
        state_->ephemeral.erase(id);
        if (state_->threads.erase(id)) notifyChanged();
    } else if (incoming.method == "thread/status/changed" && incoming.status) {
        if (state_->ephemeral.count(id)) return;
        auto found = state_->threads.find(id);
        if (found == state_->threads.end()) return requestRead(id);
        CodexOfficialThreadStatus& status = found->second;
        if (status.state == incoming.status->state && status.wait == incoming.status->wait) return;
        status.state = incoming.status->state;
        status.wait = incoming.status->wait;
        status.needsUserAttention =
            status.wait != CodexThreadWait::none || status.state == CodexOfficialThreadRunState::systemError;
        notifyChanged();
    } else if (incoming.method == "thread/name/updated" && incoming.hasName) {
        auto found = state_->threads.find(id);
        if (found == state_->threads.end() || found->second.title == incoming.name) return;
        found->second.title = incoming.name;
        notifyChanged();
    }
}

} // namespace brindleaf
