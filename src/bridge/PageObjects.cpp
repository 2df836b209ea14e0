#include "PageObjects.h"

#include <cmath>

#include "BridgeProtocol.h"
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

bool ReadSpecialNumber(const json &value, double &number) {
    const std::string text = value.value("value", "");
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
    const std::string op = request.value("op", "");
    if (op == "create")
        return Create(request);
    if (op == "call")
        return Call(request);
    if (op == "release")
        return Release(request);
    return Error(code::kBadRequest, "unknown op \"" + op + "\"");
}

json PageObjects::Create(const json &request) {
    if (m_objects.size() >= m_max)
        return Error(code::kLimit, "a page may hold " + std::to_string(m_max) + " objects");
    IDispatch *dispatch = nullptr;
    std::string error, what;
    HRESULT hr;
    if (request.contains("progId") && request["progId"].is_string()) {
        what = request["progId"].get<std::string>();
        if (HoldsNul(what))
            return Error(code::kBadRequest, "the progId holds a NUL character");
        hr = CreateScriptableObject(what, &dispatch, error);
    } else if (request.contains("classId") && request["classId"].is_string()) {
        what = request["classId"].get<std::string>();
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
    IDispatch *dispatch = Find(request.contains("object") ? request["object"] : json());
    if (!dispatch)
        return Error(code::kNoObject, "no such object in this session");
    const std::string member = request.value("member", "");
    if (HoldsNul(member))
        return Error(code::kBadRequest, "the member's name holds a NUL character");
    DISPID id = 0;
    if (member.empty() || !FindMember(dispatch, member, id))
        return Error(code::kNoMember, "Object doesn't support property or method '" + member + "'",
                     DISP_E_UNKNOWNNAME);
    std::vector<ScriptValue> args;
    std::string error;
    if (request.contains("args")) {
        if (!request["args"].is_array())
            return Error(code::kBadRequest, "args must be an array");
        for (const json &arg : request["args"]) {
            if (!ToScriptValue(arg, args.emplace_back(), error))
                return Error(code::kBadRequest, error);
        }
    }
    ScriptValue result;
    HRESULT failure = S_OK;
    if (FAILED(CallMember(dispatch, id, args, result, failure)))
        return Error(code::kCallFailed, CallFailureText(member, failure), failure);
    json value = FromScriptValue(result, error);
    return value.is_null() && !error.empty() ? Error(code::kLimit, error) : json{{"value", value}};
}

json PageObjects::Release(const json &request) {
    json id = request.contains("object") ? request["object"] : json();
    IDispatch *dispatch = Find(id);
    if (!dispatch)
        return Error(code::kNoObject, "no such object in this session");
    m_objects.erase(id.get<long>());
    dispatch->Release();
    --s_live;
    return {{"value", {{"$", "undefined"}}}};
}

IDispatch *PageObjects::Find(const json &id) const {
    if (!id.is_number_integer())
        return nullptr;
    auto it = m_objects.find(id.get<long>());
    return it == m_objects.end() ? nullptr : it->second;
}

bool PageObjects::ToScriptValue(const json &value, ScriptValue &out, std::string &error) const {
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
    } else if (value.is_object() && value.value("$", "") == "undefined") {
        out.kind = ScriptValue::Undefined;
    } else if (value.is_object() && value.value("$", "") == "number") {
        out.kind = ScriptValue::Number;
        if (!ReadSpecialNumber(value, out.number))
            return error = "a number's value must be NaN, Infinity or -Infinity", false;
    } else if (value.is_object() && value.value("$", "") == "object") {
        out.kind = ScriptValue::Object;
        out.object = Find(value.contains("id") ? value["id"] : json());
        if (!out.object)
            return error = "an argument names no object of this session", false;
    } else {
        return error = "unsupported argument " + Dump(value).substr(0, 40), false;
    }
    return true;
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
