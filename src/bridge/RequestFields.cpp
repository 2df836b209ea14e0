#include "RequestFields.h"

#include "BridgeProtocol.h"

namespace bridge {

using nlohmann::json;

namespace {

const json &Null() {
    static const json null;
    return null;
}

} // namespace

RequestFields::RequestFields(const json &request, std::string where)
    : m_request(request), m_where(std::move(where)) {}

const json *RequestFields::Find(std::string_view name) const {
    if (!m_request.is_object())
        return nullptr;
    auto it = m_request.find(name);
    return it == m_request.end() ? nullptr : &*it;
}

bool RequestFields::Has(std::string_view name) const {
    return Find(name) != nullptr;
}

const json &RequestFields::Raw(std::string_view name) const {
    const json *field = Find(name);
    return field ? *field : Null();
}

std::string RequestFields::String(std::string_view name, std::string fallback) {
    const json *field = Find(name);
    if (!field)
        return fallback;
    if (!field->is_string()) {
        Refuse(name, "a string");
        return fallback;
    }
    return field->get<std::string>();
}

std::optional<std::string> RequestFields::StringOrNull(std::string_view name) {
    const json *field = Find(name);
    if (!field || field->is_null())
        return std::nullopt;
    if (!field->is_string()) {
        Refuse(name, "a string or null");
        return std::nullopt;
    }
    return field->get<std::string>();
}

bool RequestFields::Boolean(std::string_view name, bool fallback) {
    const json *field = Find(name);
    if (!field)
        return fallback;
    if (!field->is_boolean()) {
        Refuse(name, "true or false");
        return fallback;
    }
    return field->get<bool>();
}

int64_t RequestFields::Integer(std::string_view name, int64_t fallback, int64_t low, int64_t high) {
    const json *field = Find(name);
    if (!field)
        return fallback;
    // A number beyond 64 bits arrives as a float, one beyond the signed
    // range as unsigned: both are out of any range asked for here.
    const bool whole = field->is_number_integer() &&
                       (!field->is_number_unsigned() || field->get<uint64_t>() <= INT64_MAX);
    const int64_t value = whole ? field->get<int64_t>() : 0;
    if (!whole || value < low || value > high) {
        Refuse(name,
               low == INT64_MIN && high == INT64_MAX
                   ? "a whole number"
                   : "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        return fallback;
    }
    return value;
}

const json *RequestFields::Array(std::string_view name) {
    const json *field = Find(name);
    if (field && !field->is_array()) {
        Refuse(name, "an array");
        return nullptr;
    }
    return field;
}

const json *RequestFields::Object(std::string_view name) {
    const json *field = Find(name);
    if (field && !field->is_object()) {
        Refuse(name, "an object");
        return nullptr;
    }
    return field;
}

void RequestFields::Refuse(std::string_view name, std::string_view mustBe) {
    if (!m_bad.empty())
        return;
    m_bad = m_where.empty() ? std::string(name) : m_where + "." + std::string(name);
    m_message = "\"" + m_bad + "\" must be " + std::string(mustBe);
}

json RequestFields::Failure() const {
    json reply = Error(code::kBadRequest, m_message);
    reply["error"]["field"] = m_bad;
    return reply;
}

} // namespace bridge
