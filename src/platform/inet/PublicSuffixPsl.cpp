// Public suffixes from the Public Suffix List through libpsl: the newest of
// the list Debian keeps (the publicsuffix package's file) and the one built
// into the library. Every name under a suffix the list does not know counts
// as a suffix too (the list's "*" rule), so "test" or "local" never carries
// a cookie for all its names.
#include <libpsl.h>

#include "CookieJar.h"

namespace platform::inet {

bool IsPublicSuffix(const std::string &domain) {
    static const psl_ctx_t *psl = [] {
        const psl_ctx_t *latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    if (!psl) // no list at all: only a name without a dot is taken for a suffix
        return domain.find('.') == std::string::npos;
    return psl_is_public_suffix2(psl, domain.c_str(), PSL_TYPE_ANY) != 0;
}

} // namespace platform::inet
