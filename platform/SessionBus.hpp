#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sd_bus;

namespace brindleaf {

// A small client of the user's D-Bus session bus (sd-bus): method calls with
// a few simple argument types, their simple answers, and who owns a name. One object is one connection, opened when it
// is made and closed with it; it is not shared between threads (make one per task).
//
// Every wait is bounded: connecting (authentication and the bus's Hello) and
// each call's answer take at most `timeout` each. A call that fails or is not
// answered in time gives nullopt; nothing is logged.
class SessionBus {
public:
    // An argument of a call: "s", "i", "u", "x" or "b".
    using Argument = std::variant<std::string, int32_t, uint32_t, int64_t, bool>;
    // A value of an answer: every integer type is read as int64_t, strings
    // and object paths as std::string, arrays of them as vectors.
    using Value = std::variant<bool, int64_t, std::string, std::vector<int64_t>, std::vector<std::string>>;

    struct Owner {
        uint32_t user = 0;
        int64_t process = 0;
        bool operator==(const Owner&) const = default;
    };

    static constexpr int defaultTimeoutMilliseconds = 1000;

    // Connects to the bus at `address` ("unix:path=…"), or at
    // $DBUS_SESSION_BUS_ADDRESS when it is empty; without either there is no
    // bus, and every call gives nullopt.
    explicit SessionBus(std::string address = {}, int timeoutMilliseconds = defaultTimeoutMilliseconds);
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool isConnected() const { return bus_ != nullptr; }

    // Calls a method; its answer's values in order, or nullopt when the call
    // failed, was not answered in time or the answer holds a type not read.
    std::optional<std::vector<Value>> call(const std::string& destination, const std::string& path,
                                           const std::string& interface, const std::string& member,
                                           const std::vector<Argument>& arguments = {});
    // The names of the object's child nodes, from its introspection.
    std::optional<std::vector<std::string>> childNodes(const std::string& destination, const std::string& path);
    // The user and process of the connection that owns `name`.
    std::optional<Owner> ownerOf(const std::string& name);
    // The unique name of the connection that owns `name`.
    std::optional<std::string> uniqueOwnerOf(const std::string& name);
    // This connection's own unique name (":1.42").
    std::optional<std::string> uniqueName() const;

    // Waits, within the timeout, for one call of `interface`.`member` on
    // `path` of this connection from the connection `sender` (a unique name),
    // answers it with an empty reply and gives its arguments. Calls from
    // anyone else are refused with an error. Nullopt when none came in time
    // or its arguments hold a type not read.
    std::optional<std::vector<Value>> awaitCall(const std::string& sender, const std::string& path,
                                                const std::string& interface, const std::string& member);

    // The child node names in introspection XML; nullopt when it is not such a document.
    static std::optional<std::vector<std::string>> parseChildNodes(std::string_view xml);

    // The first value of an answer as one type; nullopt when it has another.
    template <typename T>
    static std::optional<T> first(const std::optional<std::vector<Value>>& values) {
        if (!values || values->empty()) return std::nullopt;
        if (const T* value = std::get_if<T>(&values->front())) return *value;
        return std::nullopt;
    }

private:
    sd_bus* bus_ = nullptr;
    uint64_t timeoutMicroseconds_ = 0;
};

} // namespace brindleaf
