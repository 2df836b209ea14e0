// The example page that posts a form: run through the script host against
// the example's own order server on loopback.
#include <csignal>
#include <gtest/gtest.h>
#include <string>

#include "testing/HttpServers.h"
#include "testing/TestSupport.h"

TEST(PostFormPage, PostsTheOrderAndPrintsTheReply) {
    ASSERT_EQ(testing_support::Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH}).exitCode, 0);
    if (testing_support::WaitForPort("127.0.0.1", 8808, 0))
        GTEST_SKIP() << "something else answers on 127.0.0.1:8808";
    int server = testing_support::Spawn({"/usr/bin/python3", FORM_SERVER_PATH}, nullptr);
    ASSERT_TRUE(testing_support::WaitForPort("127.0.0.1", 8808, 10000));
    auto result = testing_support::Run({SCRIPT_HOST_PATH, POST_FORM_PAGE_PATH});
    kill(server, SIGTERM);
    testing_support::Wait(server);
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
              "the server replied: 收到订单 ORDER-2026-001: item=A4-paper, count=3, customer=张三\n"
              "the server replied: 收到订单 ORDER-2026-002: item=labels, count=1\n");
}
