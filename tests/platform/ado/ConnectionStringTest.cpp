#include <gtest/gtest.h>

#include "platform/ado/ConnectionString.h"

using platform::ado::ConnectionString;

TEST(ConnectionString, PassesOdbcSyntaxThroughAndStripsTheOdbcProvider) {
    ConnectionString plain(u"Driver={SQLite3};Database=/tmp/a b.db");
    EXPECT_TRUE(plain.ProviderKnown());
    EXPECT_EQ(plain.ToOdbc(u"", u""), u"Driver={SQLite3};Database=/tmp/a b.db");
    for (const char16_t *provider : {u"MSDASQL", u"msdasql.1", u" MSDASQL "}) {
        ConnectionString named(std::u16string(u"Provider=") + provider + u";DSN=books");
        EXPECT_TRUE(named.ProviderKnown());
        EXPECT_EQ(named.ToOdbc(u"", u""), u"DSN=books");
    }
}

TEST(ConnectionString, RefusesOtherProviders) {
    EXPECT_FALSE(ConnectionString(u"Provider=SQLOLEDB;Data Source=server").ProviderKnown());
    EXPECT_FALSE(ConnectionString(u"provider=Microsoft.Jet.OLEDB.4.0;").ProviderKnown());
}

TEST(ConnectionString, MapsTheProvidersNamesToOdbcKeywords) {
    ConnectionString links(u"Provider=MSDASQL.1;Persist Security Info=True;Password=p;"
                           u"User ID=u;Data Source=books;Initial Catalog=shop");
    EXPECT_EQ(links.ToOdbc(u"", u""), u"PWD=p;UID=u;DSN=books;DATABASE=shop");
    ConnectionString extended(u"Provider=MSDASQL;Extended Properties=\"DSN=a;UID=b\"");
    EXPECT_EQ(extended.ToOdbc(u"", u""), u"DSN=a;UID=b");
}

TEST(ConnectionString, OpenArgumentsReplaceTheUserAndPassword) {
    ConnectionString text(u"DSN=books;UID=old;PWD=old");
    EXPECT_EQ(text.ToOdbc(u"new", u"a;b"), u"DSN=books;UID=new;PWD={a;b}");
    EXPECT_EQ(text.ToOdbc(u"", u""), u"DSN=books;UID=old;PWD=old");
}

TEST(ConnectionString, ReadsQuotedAndBracedValues) {
    ConnectionString text(u"PWD={x;}}y};UID='o''neil';Database=\"C:\\a;b\";Empty=;=x;junk");
    EXPECT_EQ(text.Value(u"pwd"), u"x;}y");
    EXPECT_EQ(text.Value(u"UID"), u"o'neil");
    EXPECT_EQ(text.Value(u"database"), u"C:\\a;b");
    EXPECT_EQ(text.ToOdbc(u"", u""), u"PWD={x;}}y};UID=o'neil;Database={C:\\a;b};Empty=");
    EXPECT_EQ(ConnectionString::Pair(u"PWD", u" padded"), u"PWD={ padded}");
}
