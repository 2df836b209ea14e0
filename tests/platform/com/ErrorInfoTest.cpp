// Error objects of the thread, and the system's messages for error codes.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "platform/win32.h"

TEST(ErrorInfo, TheThreadsErrorObjectIsTakenOnce) {
    ICreateErrorInfo *create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetSource(const_cast<LPOLESTR>(u"ADODB.Connection"));
    create->SetDescription(const_cast<LPOLESTR>(u"描述"));
    IErrorInfo *info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info)), S_OK);
    create->Release();
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();
    bool otherThreadSawNone = false;
    std::thread([&] {
        IErrorInfo *none = reinterpret_cast<IErrorInfo *>(0xdeadbeef);
        otherThreadSawNone = GetErrorInfo(0, &none) == S_FALSE && none == nullptr;
    }).join();
    EXPECT_TRUE(otherThreadSawNone);
    IErrorInfo *taken = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
    BSTR source = nullptr, description = nullptr;
    taken->GetSource(&source);
    taken->GetDescription(&description);
    EXPECT_EQ(std::u16string(source), u"ADODB.Connection");
    EXPECT_EQ(std::u16string(description), u"描述");
    SysFreeString(source);
    SysFreeString(description);
    taken->Release();
    EXPECT_EQ(GetErrorInfo(0, &taken), S_FALSE);
    EXPECT_EQ(taken, nullptr);
}

TEST(FormatMessage, GivesTheSystemsTextForKnownCodesOnly) {
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    char text[256];
    DWORD n =
        FormatMessageA(flags, nullptr, static_cast<DWORD>(E_FAIL), neutral, text, 256, nullptr);
    EXPECT_EQ(std::string(text, n), "Unspecified error\r\n");
    n = FormatMessageA(flags, nullptr, static_cast<DWORD>(HRESULT_FROM_WIN32(2)), neutral, text,
                       256, nullptr);
    EXPECT_EQ(std::string(text, n), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(FormatMessageA(flags, nullptr, 0x80040E14, neutral, text, 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(FormatMessageA(flags, nullptr, static_cast<DWORD>(E_FAIL), neutral, text, 5, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(
        FormatMessageA(flags, nullptr, static_cast<DWORD>(E_FAIL), 0x0804, text, 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
    char *allocated = nullptr;
    n = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0x80004002, 0,
                       reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::string(allocated, n), "No such interface supported\r\n");
    EXPECT_EQ(LocalFree(allocated), nullptr);
}
