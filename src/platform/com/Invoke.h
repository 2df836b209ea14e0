// Calling an interface member by its signature in the type information.
#pragma once

#include "TypeLibFormat.h"
#include "oaidl.h"

namespace platform {

// Calls table slot `slot` of the interface at `instance` with the
// arguments of `params` coerced to the function's parameter types.
HRESULT InvokeBySignature(void *instance, int slot, const typelib::Function &fn,
                          DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                          UINT *argError);

} // namespace platform
