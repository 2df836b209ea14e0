// ConnectionString: a connection string as the objects take it, in ODBC's
// syntax ("DSN=...;UID=...;PWD=...", "Driver={SQLite3};Database=...") with
// the provider's own keywords accepted: Provider (the ODBC provider,
// MSDASQL, is the only one), Persist Security Info, and the provider's names
// of ODBC's keywords (Data Source, User ID, Password, Initial Catalog,
// Extended Properties).
#pragma once

#include <string>
#include <vector>

namespace platform::ado {

class ConnectionString {
public:
    explicit ConnectionString(const std::u16string &text);

    // False when the string names a provider other than the ODBC one.
    bool ProviderKnown() const;
    // The string for the ODBC driver manager; a user ID or password given
    // (not empty) replaces the string's own.
    std::u16string ToOdbc(const std::u16string &userId, const std::u16string &password) const;
    // The value of a keyword (compared without regard to case), or empty.
    std::u16string Value(const std::u16string &keyword) const;

    // key=value with the value braced when ODBC's syntax needs it (or when
    // asked to).
    static std::u16string Pair(const std::u16string &key, const std::u16string &value,
                               bool braced = false);

private:
    struct Attribute {
        std::u16string key;
        std::u16string value; // unquoted
        bool braced;
    };
    void Parse(const std::u16string &text);

    std::vector<Attribute> m_attributes;
};

} // namespace platform::ado
