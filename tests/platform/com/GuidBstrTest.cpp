#include <gtest/gtest.h>
#include <string>

#include "platform/win32.h"

namespace {
constexpr GUID kClsid = {
    0xAE9D5D26, 0xB784, 0x4C47, {0x88, 0x30, 0x86, 0xB5, 0xD0, 0xCA, 0x1F, 0x7C}};
}

TEST(Guid, FormatsAndParsesTheRegistryForm) {
    OLECHAR text[39];
    EXPECT_EQ(StringFromGUID2(kClsid, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}");
    CLSID parsed = GUID_NULL;
    EXPECT_EQ(CLSIDFromString(u"{ae9d5d26-b784-4c47-8830-86b5d0ca1f7c}", &parsed), S_OK);
    EXPECT_TRUE(IsEqualCLSID(parsed, kClsid));
    EXPECT_EQ(StringFromGUID2(kClsid, text, 38), 0);
}

TEST(Guid, RefusesMalformedText) {
    CLSID parsed;
    EXPECT_EQ(CLSIDFromString(u"AE9D5D26-B784-4C47-8830-86B5D0CA1F7C", &parsed), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"{AE9D5D26-B784-4C47-8830-86B5D0CA1F7X}", &parsed),
              CO_E_CLASSSTRING);
    EXPECT_TRUE(IsEqualGUID(parsed, GUID_NULL));
    EXPECT_EQ(CLSIDFromString(nullptr, &parsed), CO_E_CLASSSTRING);
    IID iid;
    EXPECT_EQ(IIDFromString(u"{00020400-0000-0000-C000-000000000046}", &iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IDispatch));
}

TEST(Bstr, KeepsItsLengthBeforeTheText) {
    BSTR text = SysAllocString(u"中文ab");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 4u);
    EXPECT_EQ(SysStringByteLen(text), 8u);
    EXPECT_EQ(*reinterpret_cast<DWORD *>(reinterpret_cast<char *>(text) - 4), 8u);
    EXPECT_EQ(text[4], 0);
    SysFreeString(text);

    BSTR embedded = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(embedded), 3u);
    EXPECT_EQ(embedded[2], u'b');
    SysFreeString(embedded);

    BSTR blank = SysAllocStringLen(nullptr, 2);
    EXPECT_EQ(SysStringLen(blank), 2u);
    EXPECT_EQ(blank[0], 0);
    SysFreeString(blank);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Bstr, ReallocatingReplacesTheTextAndKeepsItsTerminator) {
    BSTR text = nullptr;
    ASSERT_TRUE(SysReAllocStringLen(&text, u"hello world", 11));
    EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"hello world");
    ASSERT_TRUE(SysReAllocStringLen(&text, u"abc", 3));
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(text[3], 0);
    // Its own middle, and a null source that only resizes.
    ASSERT_TRUE(SysReAllocStringLen(&text, text + 1, 2));
    EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"bc");
    ASSERT_TRUE(SysReAllocStringLen(&text, nullptr, 1));
    EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"b");
    EXPECT_EQ(text[1], 0);
    EXPECT_FALSE(SysReAllocStringLen(nullptr, u"x", 1));
    SysFreeString(text);
}
