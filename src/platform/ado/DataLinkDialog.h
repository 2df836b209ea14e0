// DataLinkDialog: the data-link dialog through the UI host. The user picks
// one of the ODBC data sources or drivers, gives a driver's attributes, a
// user name and a password, and says whether the password may be saved in
// the connection string; the dialog builds that string.
#pragma once

#include <string>

namespace platform::ado {

class DataLinkDialog {
public:
    struct Result {
        std::u16string connectionString;
        std::u16string password; // also when it was not allowed into the string
    };

    // False when the user cancels.
    static bool Run(Result &result);
};

} // namespace platform::ado
