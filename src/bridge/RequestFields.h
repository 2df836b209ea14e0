// A request's fields, each read by the type it must have. A field that is
// absent gives the fallback; a field of another type makes the request bad,
// and Failure() is then the bad-request reply that names the first such
// field. Every handler reads its fields through it, so no value of a page
// reaches a conversion that could throw:
//
//   RequestFields fields(request);
//   const std::string member = fields.String("member");
//   const nlohmann::json *args = fields.Array("args");
//   if (!fields.Ok())
//       return fields.Failure();
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace bridge {

class RequestFields {
public:
    // `where` names the value in replies when it is part of a request (an
    // argument: "args[2]"); a value that is not an object has no fields.
    explicit RequestFields(const nlohmann::json &request, std::string where = "");

    bool Has(std::string_view name) const;
    // The field itself (null when absent), for a handler that takes more
    // than one type.
    const nlohmann::json &Raw(std::string_view name) const;

    std::string String(std::string_view name, std::string fallback = "");
    // A string, or nothing for null or an absent field.
    std::optional<std::string> StringOrNull(std::string_view name);
    bool Boolean(std::string_view name, bool fallback = false);
    // A whole number from `low` to `high`.
    int64_t Integer(std::string_view name, int64_t fallback = 0, int64_t low = INT64_MIN,
                    int64_t high = INT64_MAX);
    // An array or an object: null when absent.
    const nlohmann::json *Array(std::string_view name);
    const nlohmann::json *Object(std::string_view name);

    // Marks a field as bad, with what it must be ("a printer's name"): for
    // the checks of a handler's own. The first bad field is the one named.
    void Refuse(std::string_view name, std::string_view mustBe);
    bool Ok() const { return m_bad.empty(); }
    // {"error":{"code":"bad-request","message":...,"field":NAME}}.
    nlohmann::json Failure() const;

private:
    const nlohmann::json *Find(std::string_view name) const;

    const nlohmann::json &m_request;
    std::string m_where;
    std::string m_bad, m_message;
};

} // namespace bridge
