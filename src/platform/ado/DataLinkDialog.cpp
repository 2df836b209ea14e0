#include "DataLinkDialog.h"

#include "../kernel/TextConvert.h"
#include "../user/UiHost.h"
#include "ConnectionString.h"
#include "Provider.h"

namespace platform::ado {
namespace {

constexpr const char *kTitle = "Data Link Properties";

std::string Utf8(const std::u16string &text) {
    return WideToUtf8(text.c_str(), text.size());
}

// The data source or driver part of the connection string, chosen from the
// user's data sources and drivers; false when the user cancels.
bool ChooseSource(UiHost &ui, std::u16string &source) {
    std::vector<DataSourceEntry> sources = ListDataSources();
    std::vector<DataSourceEntry> drivers = ListDrivers();
    std::vector<std::string> options;
    for (const DataSourceEntry &entry : sources)
        options.push_back("Data source: " + Utf8(entry.name) + " (" + Utf8(entry.description) +
                          ")");
    for (const DataSourceEntry &entry : drivers)
        options.push_back("Driver: " + Utf8(entry.name) +
                          (entry.description.empty() ? "" : " (" + Utf8(entry.description) + ")"));
    int choice = ui.Choose(std::string(kTitle) + ": data source", options, -1);
    if (choice < 0 || choice >= static_cast<int>(options.size()))
        return false;
    if (choice < static_cast<int>(sources.size())) {
        source = ConnectionString::Pair(u"DSN", sources[choice].name);
        return true;
    }
    const DataSourceEntry &driver = drivers[choice - sources.size()];
    std::string attributes;
    if (!ui.Ask(kTitle,
                "Attributes for " + Utf8(driver.name) +
                    " (for example Database=/path/file.db, or "
                    "Servername=host;Port=5432;Database=name)",
                false, attributes))
        return false;
    source = ConnectionString::Pair(u"Driver", driver.name, true);
    if (!attributes.empty())
        source += u";" + Utf8ToWide(attributes);
    return true;
}

} // namespace

bool DataLinkDialog::Run(Result &result) {
    UiHost &ui = UiHost::Current();
    std::u16string source;
    if (!ChooseSource(ui, source))
        return false;
    std::string user, password;
    if (!ui.Ask(kTitle, "User name", false, user) || !ui.Ask(kTitle, "Password", true, password))
        return false;
    int saving = ui.Choose(std::string(kTitle) + ": password",
                           {"Do not allow saving the password", "Allow saving the password"}, 0);
    if (saving < 0)
        return false;
    const bool save = saving == 1;
    std::u16string text = u"Provider=MSDASQL.1;Persist Security Info=";
    text += save ? u"True;" : u"False;";
    text += source;
    if (!user.empty())
        text += u";" + ConnectionString::Pair(u"UID", Utf8ToWide(user));
    if (save && !password.empty())
        text += u";" + ConnectionString::Pair(u"PWD", Utf8ToWide(password));
    result.connectionString = text;
    result.password = Utf8ToWide(password);
    return true;
}

} // namespace platform::ado
