// The data access objects' own error texts (the platform's English
// messages), by error value.
#pragma once

#include "adoint.h"

namespace platform::ado {

struct AdoErrorText {
    ErrorValueEnum error;
    const char16_t *text;
};

inline constexpr AdoErrorText kAdoErrorTexts[] = {
    {adErrInvalidArgument, u"Arguments are of the wrong type, are out of acceptable range, or are "
                           u"in conflict with one another."},
    {adErrNoCurrentRecord, u"Either BOF or EOF is True, or the current record has been deleted. "
                           u"Requested operation requires a current record."},
    {adErrItemNotFound, u"Item cannot be found in the collection corresponding to the requested "
                        u"name or ordinal."},
    {adErrObjectClosed, u"Operation is not allowed when the object is closed."},
    {adErrObjectOpen, u"Operation is not allowed when the object is open."},
    {adErrProviderNotFound, u"Provider cannot be found. It may not be properly installed."},
    {adErrInvalidConnection, u"The connection cannot be used to perform this operation. It is "
                             u"either closed or invalid in this context."},
};

// The source of the errors the ODBC provider reports.
inline constexpr const char16_t *kProviderSource = u"Microsoft OLE DB Provider for ODBC Drivers";

} // namespace platform::ado
