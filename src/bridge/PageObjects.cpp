#include "PageObjects.h"

#include <cmath>

#include "BridgeProtocol.h"
#include "RequestFields.h"
#include "TypeDescription.h"

namespace bridge {

using nlohmann::json;

std::atomic<long> PageObjects::s_live{0};

namespace {

json SpecialNumber(double number) {
    return {{"$", "number"},
            {"value", std::isnan(number) ? "NaN"
                      : number > 0       ? "Infinity"
                                         : "-Infinity"}};
}

bool ReadSpecialNumber(const std::string &text, double &number) {
    if (text == "NaN")
        number = NAN;
    else if (text == "Infinity")
        number = INFINITY;
    else if (text == "-Infinity")
        number = -INFINITY;
    else
        return false;
    return true;
}

// A name cut at a NUL would be another name: the platform takes names,
// ProgIDs and class IDs as NUL-terminated strings, so "Quillbay.QuillDoc\0x"
// would create Quillbay.QuillDoc. Such a name is refused whole. (String
// arguments are counted strings and keep their NULs.)
bool HoldsNul(const std::string &name) {
    return name.find('\0') != std::string::npos;
}

} // namespace

PageObjects::PageObjects(size_t maxObjects) : m_max(maxObjects) {}

PageObjects::~PageObjects() {
    ReleaseAll();
}

void PageObjects::ReleaseAll() {
    for (auto &[id, dispatch] : m_objects) {
        dispatch->Release();
        --s_live;
    }
    m_objects.clear();
}

json PageObjects::Handle(const json &request) {
    RequestFields fields(request);
    const std::string op = fields.String("op");
    if (!fields.Ok())
        return fields.Failure();
    if (op == "create")
        return Create(request);
    if (op == "call")
        return Call(request);
    if (op == "release")
        return Release(request);
    return Error(code::kBadRequest, "unknown op \"" + op + "\"");
}

json PageObjects::Create(const json &request) {
    RequestFields fields(request);
    const std::optional<std::string> progId = fields.StringOrNull("progId");
    const std::optional<std::string> classId = fields.StringOrNull("classId");
    if (!fields.Ok())
        return fields.Failure();
    if (m_objects.size() >= m_max)
        return Error(code::kLimit, "a page may hold " + std::to_string(m_max) + " objects");
    IDispatch *dispatch = nullptr;
    std::string error, what;
    HRESULT hr;
    if (progId) {
        what = *progId;
        if (HoldsNul(what))
            return Error(code::kBadRequest, "the progId holds a NUL character");
        hr = CreateScriptableObject(what, &dispatch, error);
    } else if (classId) {
        what = *classId;
        if (HoldsNul(what))
            return Error(code::kBadRequest, "the classId holds a NUL character");
        CLSID clsid;
        error = "bad classid " + what;
        hr = ParseClassId(what, clsid) ? CreateScriptableObject(clsid, &dispatch, error)
                                       : E_INVALIDARG;
    } else {
        return Error(code::kBadRequest, "create needs a progId or a classId");
    }
    if (FAILED(hr))
        return Error(code::kCreateFailed, CreateFailureText(what, error, hr), hr);
    json value = Register(dispatch, error);
    return value.is_null() ? Error(code::kLimit, error) : json{{"value", value}};
}

json PageObjects::Call(const json &request) {
    RequestFields fields(request);
    const int64_t object = fields.Integer("object");
    const std::string member = fields.String("member");
    const json *given = fields.Array("args");
    if (!fields.Ok())
        return fields.Failure();
    IDispatch *dispatch = Find(object);
    if (!dispatch)
        return Error(code::kNoObject, "no such object in this session");
    if (HoldsNul(member))
        return Error(code::kBadRequest, "the member's name holds a NUL character");
    DISPID id = 0;
    if (member.empty() || !FindMember(dispatch, member, id))
        return Error(code::kNoMember, "Object doesn't support property or method '" + member + "'",
                     DISP_E_UNKNOWNNAME);
    std::vector<ScriptValue> args;
    for (size_t i = 0; given && i < given->size(); ++i) {
        json failure;
        if (!ToScriptValue((*given)[i], "args[" + std::to_string(i) + "]", args.emplace_back(),
                           failure))
            return failure;
    }
    ScriptValue result;
    HRESULT failure = S_OK;
    if (FAILED(CallMember(dispatch, id, args, result, failure)))
        return Error(code::kCallFailed, CallFailureText(member, failure), failure);
    std::string error;
    json value = FromScriptValue(result, error);
    return value.is_null() && !error.empty() ? Error(code::kLimit, error) : json{{"value", value}};
}

json PageObjects::Release(const json &request) {
    RequestFields fields(request);
    const int64_t object = fields.Integer("object");
    if (!fields.Ok())
        return fields.Failure();
    IDispatch *dispatch = Find(object);
    if (!dispatch)
        return Error(code::kNoObject, "no such object in this session");
    m_objects.erase(static_cast<long>(object));
    dispatch->Release();
    --s_live;
    return {{"value", {{"$", "undefined"}}}};
}

IDispatch *PageObjects::Find(int64_t id) const {
    auto it = m_objects.find(static_cast<long>(id));
    return it == m_objects.end() ? nullptr : it->second;
}

bool PageObjects::ToScriptValue(const json &value, const std::string &where, ScriptValue &out,
                                json &failure) const {
    out = ScriptValue{};
    if (value.is_null()) {
        out.kind = ScriptValue::Null;
    } else if (value.is_boolean()) {
        out.kind = ScriptValue::Boolean;
        out.boolean = value.get<bool>();
    } else if (value.is_number()) {
        out.kind = ScriptValue::Number;
        out.number = value.get<double>();
    } else if (value.is_string()) {
        out.kind = ScriptValue::String;
        out.text = value.get<std::string>();
    } else if (value.is_object()) {
        return ToSpecialValue(value, where, out, failure);
    } else {
        failure = Error(code::kBadRequest, "\"" + where +
                                               "\" is an array: arguments are strings, "
                                               "numbers, booleans, null or {\"$\": ...}");
        failure["error"]["field"] = where;
        return false;
    }
    return true;
}

// {"$":"undefined"}, {"$":"number","value":"NaN"} or {"$":"object","id":N}.
bool PageObjects::ToSpecialValue(const json &value, const std::string &where, ScriptValue &out,
                                 json &failure) const {
    RequestFields fields(value, where);
    const std::string kind = fields.String("$");
    if (kind == "undefined") {
        out.kind = ScriptValue::Undefined;
    } else if (kind == "number") {
        out.kind = ScriptValue::Number;
        if (!ReadSpecialNumber(fields.String("value"), out.number))
            fields.Refuse("value", "\"NaN\", \"Infinity\" or \"-Infinity\"");
    } else if (kind == "object") {
        out.kind = ScriptValue::Object;
        out.object = Find(fields.Integer("id"));
        if (fields.Ok() && !out.object)
            fields.Refuse("id", "an object of this session");
    } else {
        fields.Refuse("$", "\"undefined\", \"number\" or \"object\"");
    }
    if (!fields.Ok())
        failure = fields.Failure();
    return fields.Ok();
}

json PageObjects::FromScriptValue(ScriptValue &value, std::string &error) {
    switch (value.kind) {
    case ScriptValue::Undefined:
        return {{"$", "undefined"}};
    case ScriptValue::Null:
        return nullptr;
    case ScriptValue::Boolean:
        return value.boolean;
    case ScriptValue::Number:
        if (!std::isfinite(value.number))
            return SpecialNumber(value.number);
        // Whole numbers go as integers ("3", not "3.0").
        if (std::trunc(value.number) == value.number &&
            std::fabs(value.number) <= 9007199254740992.0)
            return static_cast<int64_t>(value.number);
        return value.number;
    case ScriptValue::String:
        return value.text;
    case ScriptValue::Object:
        break;
    }
    IDispatch *dispatch = value.object;
    value.object = nullptr;
    return Register(dispatch, error);
}

json PageObjects::Register(IDispatch *dispatch, std::string &error) {
    long id = 0;
    for (const auto &[known, held] : m_objects) {
        if (held == dispatch)
            id = known;
    }
    if (id) {
        dispatch->Release(); // the page has it already
    } else if (m_objects.size() >= m_max) {
        dispatch->Release();
        error = "a page may hold " + std::to_string(m_max) + " objects";
        return nullptr;
    } else {
        id = m_next++;
        m_objects[id] = dispatch;
        ++s_live;
    }
    return {{"$", "object"}, {"id", id}, {"members", DescribeMembers(m_objects[id])}};
}

} // namespace bridge
