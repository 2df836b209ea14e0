// Exact numbers (DECIMAL) to and from text, for VARIANT conversion and the
// data access objects.
#pragma once

#include <string>

#include "oaidl.h"

namespace platform {

// Reads "[-]digits[.digits]" keeping its scale; false when the text is not
// such a number or does not fit 96 bits at a scale of at most 28, even
// without the fraction's trailing zeros.
bool DecimalFromText(const std::string &text, DECIMAL &out);
// The number in the platform's text form: '.' as the point, no trailing
// zeros in the fraction, "-" for negative numbers other than zero.
std::string DecimalText(const DECIMAL &value);
double DecimalToDouble(const DECIMAL &value);

} // namespace platform
