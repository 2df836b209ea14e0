// The objects of one page session, on the session's apartment thread: they
// are created through the platform and called by name exactly as the script
// host does it (Automation.h), with values carried as JSON:
//
//   strings, numbers, booleans and null as themselves;
//   {"$":"undefined"}; {"$":"number","value":"NaN"|"Infinity"|"-Infinity"};
//   {"$":"object","id":N} for an object of the session (in replies also
//   with "members", its callable members).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "Automation.h"

namespace bridge {

class PageObjects {
public:
    explicit PageObjects(size_t maxObjects);
    ~PageObjects();
    PageObjects(const PageObjects &) = delete;
    PageObjects &operator=(const PageObjects &) = delete;

    // Carries out one request ("create", "call" or "release") and gives
    // the reply: {"value": ...} or an error.
    nlohmann::json Handle(const nlohmann::json &request);
    void ReleaseAll();

    // Objects held for all sessions of the process.
    static long Live() { return s_live.load(); }

private:
    nlohmann::json Create(const nlohmann::json &request);
    nlohmann::json Call(const nlohmann::json &request);
    nlohmann::json Release(const nlohmann::json &request);

    // A request's value as the script's value (objects borrowed); false
    // with the bad-request reply naming `where` (the argument) when it is
    // not one.
    bool ToScriptValue(const nlohmann::json &value, const std::string &where, ScriptValue &out,
                       nlohmann::json &failure) const;
    bool ToSpecialValue(const nlohmann::json &value, const std::string &where, ScriptValue &out,
                        nlohmann::json &failure) const;
    // A result's value; takes over the object reference it may hold.
    nlohmann::json FromScriptValue(ScriptValue &value, std::string &error);
    // Registers an object (its reference taken over) and describes it; the
    // same object keeps its number.
    nlohmann::json Register(IDispatch *dispatch, std::string &error);
    IDispatch *Find(int64_t id) const;

    std::map<long, IDispatch *> m_objects;
    long m_next = 1;
    size_t m_max;
    static std::atomic<long> s_live;
};

} // namespace bridge
