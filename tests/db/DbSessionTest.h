// A database session with a collecting sink, as the object has it, over
// the test program's own ODBC configuration and data access module.
#pragma once

#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "db/DbSession.h"
#include "support/MessageCollector.h"
#include "testing/PrivateOdbc.h"
#include "testing/TestSupport.h"

class SessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing_support::PrivateOdbc::Shared();
        ASSERT_TRUE(testing_support::RegisterServer(ADO_MODULE_PATH));
    }
    void SetUp() override { m_session = NewSession(); }

    std::unique_ptr<DbSession> NewSession() {
        auto session = std::make_unique<DbSession>();
        session->SetSink(&m_sink);
        return session;
    }
    // The text recorded since the last call, in UTF-8.
    std::string Recorded() { return testing_support::Utf8(m_sink.TakeText().c_str()); }
    std::string Field(const char *name) {
        AnsiStr text;
        m_session->FieldText(name, text);
        return testing_support::Utf8(text.c_str());
    }

    MessageCollector m_sink;
    std::unique_ptr<DbSession> m_session;
};
