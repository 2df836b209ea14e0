// What a page learns of an object's members and of the classes the bridge
// can create, read from their type information (never listed by hand: a
// method the interface gains reaches pages by itself).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "platform/win32.h"

namespace bridge {

// The callable members of the object's type information:
// [{"name":"SetPrinter","dispid":2,"params":["szFlag"],"returns":true}, ...]
// ("params" are the [in] parameters, "returns" whether a retval comes back).
// Empty when the object has no type information.
nlohmann::json DescribeMembers(IDispatch *dispatch);
nlohmann::json DescribeMembers(ITypeInfo *info);

// The registered scriptable classes: those with a ProgID and a registered
// type library, each {"progId","classId","methods":[...]}.
nlohmann::json DescribeClasses();

// Whether the servers of those classes hold no objects: each loaded server
// answers S_OK to DllCanUnloadNow (one not loaded holds none).
bool ClassServersIdle();

} // namespace bridge
