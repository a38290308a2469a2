#include "platform/DefaultsValue.hpp"

#include <cmath>

namespace brindleaf {

DefaultsValue DefaultsValue::strings(const std::vector<std::string>& texts) {
    Array array;
    array.reserve(texts.size());
    for (const auto& text : texts) array.emplace_back(text);
    return DefaultsValue(std::move(array));
}

DefaultsValue DefaultsValue::data(std::string_view bytes) {
    return DefaultsValue(Data{std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
}

std::optional<std::vector<std::string>> DefaultsValue::asStringArray() const {
    const Array* array = asArray();
    if (!array) return std::nullopt;
    std::vector<std::string> texts;
    texts.reserve(array->size());
    for (const auto& element : *array) {
        const std::string* text = element.asString();
        if (!text) return std::nullopt;
        texts.push_back(*text);
    }
    return texts;
}

bool DefaultsValue::operator==(const DefaultsValue& other) const {
    if (storage_.index() != other.storage_.index()) return false;
    return std::visit(
        [&other](const auto& mine) {
            using T = std::decay_t<decltype(mine)>;
            const T& theirs = std::get<T>(other.storage_);
            if constexpr (std::is_same_v<T, double>) {
                if (std::isnan(mine) || std::isnan(theirs)) return std::isnan(mine) && std::isnan(theirs);
                return mine == theirs && std::signbit(mine) == std::signbit(theirs);
            } else {
                return mine == theirs; // containers compare their elements with this operator
            }
        },
        storage_);
}

std::optional<std::string> DefaultsValue::dataBytes() const {
    const Data* data = asData();
    if (!data) return std::nullopt;
    return std::string(data->bytes.begin(), data->bytes.end());
}

} // namespace brindleaf
