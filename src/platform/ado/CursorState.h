// The rows of an open record set and where its cursor stands, shared by the
// record set and the Fields and Field objects it hands out.
#pragma once

#include "RowSet.h"

namespace platform::ado {

struct CursorState {
    RowSet rows;
    // The current row: -1 before the first (BOF), the row count after the
    // last (EOF).
    LONG_PTR position = 0;
    bool open = false;

    bool AtStart() const { return position < 0 || rows.RowCount() == 0; }
    bool AtEnd() const { return position >= static_cast<LONG_PTR>(rows.RowCount()); }
};

} // namespace platform::ado
