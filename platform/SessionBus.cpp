#include "platform/SessionBus.hpp"

#include "platform/XmlParser.hpp"

#include <chrono>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <systemd/sd-bus.h>

namespace brindleaf {

namespace {

using Clock = std::chrono::steady_clock;

// One basic value of the message, or nullopt for a type not read.
std::optional<std::variant<bool, int64_t, std::string>> readBasic(sd_bus_message* message, char type) {
    switch (type) {
    case SD_BUS_TYPE_STRING:
    case SD_BUS_TYPE_OBJECT_PATH:
    case SD_BUS_TYPE_SIGNATURE: {
        const char* text = nullptr;
        if (sd_bus_message_read_basic(message, type, &text) < 0 || !text) return std::nullopt;
        return std::string(text);
    }
    case SD_BUS_TYPE_BOOLEAN: {
        int flag = 0;
        if (sd_bus_message_read_basic(message, type, &flag) < 0) return std::nullopt;
        return flag != 0;
    }
    case SD_BUS_TYPE_BYTE: {
        uint8_t number = 0;
        if (sd_bus_message_read_basic(message, type, &number) < 0) return std::nullopt;
        return int64_t{number};
    }
    case SD_BUS_TYPE_INT16: {
        int16_t number = 0;
        if (sd_bus_message_read_basic(message, type, &number) < 0) return std::nullopt;
        return int64_t{number};
    }
    case SD_BUS_TYPE_UINT16: {
        uint16_t number = 0;
        if (sd_bus_message_read_basic(message, type, &number) < 0) return std::nullopt;
        return int64_t{number};
    }
    case SD_BUS_TYPE_INT32: {
        int32_t number = 0;
        if (sd_bus_message_read_basic(message, type, &number) < 0) return std::nullopt;
        return int64_t{number};
    }
    case SD_BUS_TYPE_UINT32: {
        uint32_t number = 0;
        if (sd_bus_message_read_basic(message, type, &number) < 0) return std::nullopt;
        return int64_t{number};
    }
    case SD_BUS_TYPE_INT64: {
        int64_t number = 0;
        if (sd_bus_message_read_basic(message, type, &number) < 0) return std::nullopt;
        return number;
    }
    case SD_BUS_TYPE_UINT64: {
        uint64_t number = 0;
        if (sd_bus_message_read_basic(message, type, &number) < 0) return std::nullopt;
        if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        return static_cast<int64_t>(number);
    }
    default:
        return std::nullopt;
    }
}

std::optional<SessionBus::Value> readValue(sd_bus_message* message, char type, const char* contents) {
    if (type == SD_BUS_TYPE_VARIANT) {
        if (sd_bus_message_enter_container(message, type, contents) <= 0) return std::nullopt;
        char inner = 0;
        const char* innerContents = nullptr;
        if (sd_bus_message_peek_type(message, &inner, &innerContents) <= 0) return std::nullopt;
        auto value = readValue(message, inner, innerContents);
        if (!value || sd_bus_message_exit_container(message) < 0) return std::nullopt;
        return value;
    }
    if (type == SD_BUS_TYPE_ARRAY) {
        // Arrays of one basic type only.
        if (!contents || contents[0] == 0 || contents[1] != 0) return std::nullopt;
        const char element = contents[0];
        const bool textual =
            element == SD_BUS_TYPE_STRING || element == SD_BUS_TYPE_OBJECT_PATH || element == SD_BUS_TYPE_SIGNATURE;
        if (std::string_view("ynqiuxtsog").find(element) == std::string_view::npos) return std::nullopt;
        if (sd_bus_message_enter_container(message, type, contents) <= 0) return std::nullopt;
        std::vector<std::string> texts;
        std::vector<int64_t> numbers;
        int more = 0;
        while ((more = sd_bus_message_at_end(message, 0)) == 0) {
            auto item = readBasic(message, element);
            if (!item) return std::nullopt;
            if (textual)
                texts.push_back(std::get<std::string>(*item));
            else
                numbers.push_back(std::get<int64_t>(*item));
        }
        if (more < 0 || sd_bus_message_exit_container(message) < 0) return std::nullopt;
        if (textual) return SessionBus::Value(std::move(texts));
        return SessionBus::Value(std::move(numbers));
    }
    auto basic = readBasic(message, type);
    if (!basic) return std::nullopt;
    return std::visit([](auto&& value) { return SessionBus::Value(std::move(value)); }, std::move(*basic));
}

// Every value of the message in order; nullopt when one has a type not read.
std::optional<std::vector<SessionBus::Value>> readValues(sd_bus_message* message) {
    std::optional<std::vector<SessionBus::Value>> values(std::in_place);
    char type = 0;
    const char* contents = nullptr;
    int more = 0;
    while ((more = sd_bus_message_peek_type(message, &type, &contents)) > 0) {
        auto value = readValue(message, type, contents);
        if (!value) break;
        values->push_back(std::move(*value));
    }
    if (more != 0) values.reset();
    return values;
}

bool append(sd_bus_message* message, const SessionBus::Argument& argument) {
    return std::visit(
               [message](const auto& value) {
                   using T = std::decay_t<decltype(value)>;
                   if constexpr (std::is_same_v<T, std::string>)
                       return sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, value.c_str());
                   else if constexpr (std::is_same_v<T, bool>) {
                       const int flag = value ? 1 : 0;
                       return sd_bus_message_append_basic(message, SD_BUS_TYPE_BOOLEAN, &flag);
                   } else if constexpr (std::is_same_v<T, int32_t>)
                       return sd_bus_message_append_basic(message, SD_BUS_TYPE_INT32, &value);
                   else if constexpr (std::is_same_v<T, uint32_t>)
                       return sd_bus_message_append_basic(message, SD_BUS_TYPE_UINT32, &value);
                   else
                       return sd_bus_message_append_basic(message, SD_BUS_TYPE_INT64, &value);
               },
               argument) >= 0;
}

} // namespace

SessionBus::SessionBus(std::string address, int timeoutMilliseconds)
    : timeoutMicroseconds_(static_cast<uint64_t>(std::max(timeoutMilliseconds, 1)) * 1000) {
    if (address.empty())
        if (const char* fromEnvironment = std::getenv("DBUS_SESSION_BUS_ADDRESS")) address = fromEnvironment;
    if (address.empty()) return;
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        sd_bus_close_unref(bus);
        return;
    }
    // Authentication and the bus's Hello, within the one bound.
    const auto deadline = Clock::now() + std::chrono::microseconds(timeoutMicroseconds_);
    for (;;) {
        const int ready = sd_bus_is_ready(bus);
        if (ready > 0) break;
        const int progressed = ready < 0 ? ready : sd_bus_process(bus, nullptr);
        if (progressed > 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (progressed < 0 || left <= 0 || sd_bus_wait(bus, static_cast<uint64_t>(left)) < 0) {
            sd_bus_close_unref(bus);
            return;
        }
    }
    bus_ = bus;
}

SessionBus::~SessionBus() {
    if (bus_) sd_bus_close_unref(bus_);
}

std::optional<std::vector<SessionBus::Value>> SessionBus::call(const std::string& destination, const std::string& path,
                                                               const std::string& interface, const std::string& member,
                                                               const std::vector<Argument>& arguments) {
    if (!bus_) return std::nullopt;
    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_method_call(bus_, &message, destination.c_str(), path.c_str(), interface.c_str(),
                                       member.c_str()) < 0)
        return std::nullopt;
    for (const Argument& argument : arguments)
        if (!append(message, argument)) {
            sd_bus_message_unref(message);
            return std::nullopt;
        }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int called = sd_bus_call(bus_, message, timeoutMicroseconds_, &error, &reply);
    sd_bus_error_free(&error);
    sd_bus_message_unref(message);
    if (called < 0) return std::nullopt;
    auto values = readValues(reply);
    sd_bus_message_unref(reply);
    return values;
}

std::optional<std::vector<std::string>> SessionBus::childNodes(const std::string& destination,
                                                               const std::string& path) {
    const auto xml = first<std::string>(call(destination, path, "org.freedesktop.DBus.Introspectable", "Introspect"));
    if (!xml) return std::nullopt;
    return parseChildNodes(*xml);
}

std::optional<SessionBus::Owner> SessionBus::ownerOf(const std::string& name) {
    const auto user = first<int64_t>(
        call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixUser", {name}));
    if (!user) return std::nullopt;
    const auto process = first<int64_t>(call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                             "GetConnectionUnixProcessID", {name}));
    if (!process) return std::nullopt;
    return Owner{static_cast<uint32_t>(*user), *process};
}

std::optional<std::string> SessionBus::uniqueOwnerOf(const std::string& name) {
    return first<std::string>(
        call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner", {name}));
}

std::optional<std::string> SessionBus::uniqueName() const {
    const char* name = nullptr;
    if (!bus_ || sd_bus_get_unique_name(bus_, &name) < 0 || !name) return std::nullopt;
    return std::string(name);
}

namespace {

struct AwaitedCall {
    const std::string& sender;
    const std::string& interface;
    const std::string& member;
    bool arrived = false;
    std::optional<std::vector<SessionBus::Value>> arguments;
};

int takeAwaitedCall(sd_bus_message* message, void* data, sd_bus_error* error) {
    auto& awaited = *static_cast<AwaitedCall*>(data);
    const char* sender = sd_bus_message_get_sender(message);
    if (awaited.arrived || !sender || awaited.sender != sender ||
        !sd_bus_message_is_method_call(message, awaited.interface.c_str(), awaited.member.c_str()))
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, nullptr);
    awaited.arrived = true;
    awaited.arguments = readValues(message);
    return sd_bus_reply_method_return(message, nullptr);
}

} // namespace

std::optional<std::vector<SessionBus::Value>> SessionBus::awaitCall(const std::string& sender, const std::string& path,
                                                                    const std::string& interface,
                                                                    const std::string& member) {
    if (!bus_) return std::nullopt;
    AwaitedCall awaited{sender, interface, member, false, std::nullopt};
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object(bus_, &slot, path.c_str(), takeAwaitedCall, &awaited) < 0) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::microseconds(timeoutMicroseconds_);
    while (!awaited.arrived) {
        const int progressed = sd_bus_process(bus_, nullptr);
        if (progressed > 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (progressed < 0 || left <= 0 || sd_bus_wait(bus_, static_cast<uint64_t>(left)) < 0) break;
    }
    sd_bus_slot_unref(slot);
    return awaited.arguments;
}

std::optional<std::vector<std::string>> SessionBus::parseChildNodes(std::string_view xml) {
    // The document type declaration every introspection starts with names
    // only the public DTD; the parser takes no declaration at all.
    std::string document(xml);
    if (const auto doctype = document.find("<!DOCTYPE"); doctype != std::string::npos) {
        const auto end = document.find('>', doctype);
        if (end == std::string::npos || document.find('[', doctype) < end) return std::nullopt;
        document.erase(doctype, end + 1 - doctype);
    }
    const auto root = XmlParser::parse(document);
    if (!root || !root->is("", "node")) return std::nullopt;
    std::vector<std::string> children;
    for (const XmlElement& child : root->children)
        if (child.is("", "node"))
            if (auto name = child.attribute("", "name")) children.push_back(std::move(*name));
    return children;
}

} // namespace brindleaf
