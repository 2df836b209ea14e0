// AdoErrors: a connection's Errors collection, the diagnostics of its last
// provider operation.
#pragma once

#include <mutex>
#include <vector>

#include "AdoError.h"

namespace platform::ado {

class AdoErrors final : public AdoObject<Errors> {
public:
    AdoErrors();

    HRESULT STDMETHODCALLTYPE get_Count(LONG *c) override;
    // Index: a position from 0 (a number, or text holding one).
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT Index, Error **ppvObject) override;
    HRESULT STDMETHODCALLTYPE Clear() override;

    void Replace(std::vector<ErrorRecord> records);
    std::vector<ErrorRecord> Records() const;

private:
    mutable std::mutex m_lock;
    std::vector<ErrorRecord> m_records;
};

// The position a collection's Index names when it is a number (or text of
// one); false otherwise.
bool IndexNumber(const VARIANT &index, LONG &number);

} // namespace platform::ado
