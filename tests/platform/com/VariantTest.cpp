#include <gtest/gtest.h>
#include <string>

#include "platform/com/Decimal.h"
#include "platform/win32.h"

namespace {

VARIANT Int(LONG v) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_I4;
    var.lVal = v;
    return var;
}

VARIANT Real(double v) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_R8;
    var.dblVal = v;
    return var;
}

VARIANT Text(const char16_t *text) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(text);
    return var;
}

std::u16string AsText(const VARIANT &source, USHORT flags = 0) {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &source, flags, VT_BSTR), S_OK);
    std::u16string text(out.bstrVal ? out.bstrVal : u"");
    VariantClear(&out);
    return text;
}

HRESULT Change(const VARIANT &source, VARTYPE vt, VARIANT &out) {
    VariantInit(&out);
    return VariantChangeType(&out, &source, 0, vt);
}

} // namespace

TEST(Variant, NumbersRoundHalfToEvenAndOverflow) {
    VARIANT out;
    ASSERT_EQ(Change(Real(2.5), VT_I4, out), S_OK);
    EXPECT_EQ(out.lVal, 2);
    ASSERT_EQ(Change(Real(3.5), VT_INT, out), S_OK);
    EXPECT_EQ(out.vt, VT_INT);
    EXPECT_EQ(out.intVal, 4);
    ASSERT_EQ(Change(Real(-1.5), VT_I2, out), S_OK);
    EXPECT_EQ(out.iVal, -2);
    EXPECT_EQ(Change(Int(40000), VT_I2, out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Int(256), VT_UI1, out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(Real(3e9), VT_I4, out), DISP_E_OVERFLOW);
    ASSERT_EQ(Change(Int(255), VT_UI1, out), S_OK);
    EXPECT_EQ(out.bVal, 255);
    ASSERT_EQ(Change(Int(7), VT_R4, out), S_OK);
    EXPECT_FLOAT_EQ(out.fltVal, 7.0f);
}

TEST(Variant, TextBecomesNumbersOrFails) {
    VARIANT out;
    VARIANT text = Text(u" 42 ");
    ASSERT_EQ(Change(text, VT_I4, out), S_OK);
    EXPECT_EQ(out.lVal, 42);
    VariantClear(&text);
    text = Text(u"12.75");
    ASSERT_EQ(Change(text, VT_R8, out), S_OK);
    EXPECT_DOUBLE_EQ(out.dblVal, 12.75);
    VariantClear(&text);
    text = Text(u"abc");
    EXPECT_EQ(Change(text, VT_I4, out), DISP_E_TYPEMISMATCH);
    VariantClear(&text);
    text = Text(u"True");
    ASSERT_EQ(Change(text, VT_BOOL, out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    VariantClear(&text);
}

TEST(Variant, ValuesBecomeText) {
    EXPECT_EQ(AsText(Int(-17)), u"-17");
    EXPECT_EQ(AsText(Real(0.1)), u"0.1");
    EXPECT_EQ(AsText(Real(2100)), u"2100");
    VARIANT boolean;
    VariantInit(&boolean);
    boolean.vt = VT_BOOL;
    boolean.boolVal = VARIANT_TRUE;
    EXPECT_EQ(AsText(boolean), u"-1");
    EXPECT_EQ(AsText(boolean, VARIANT_ALPHABOOL), u"True");
    VARIANT empty;
    VariantInit(&empty);
    EXPECT_EQ(AsText(empty), u"");
}

TEST(Variant, EmptyAndNullFollowThePlatform) {
    VARIANT empty, null, out;
    VariantInit(&empty);
    VariantInit(&null);
    null.vt = VT_NULL;
    ASSERT_EQ(Change(empty, VT_I4, out), S_OK);
    EXPECT_EQ(out.lVal, 0);
    EXPECT_EQ(Change(null, VT_I4, out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(null, VT_BSTR, out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(null, VT_NULL, out), S_OK);
    EXPECT_EQ(Change(Int(1), VT_NULL, out), DISP_E_TYPEMISMATCH);
}

TEST(Variant, DatesRoundTripThroughText) {
    VARIANT date, out;
    VariantInit(&date);
    date.vt = VT_DATE;
    date.date = 45000.5; // 2023-03-15 12:00
    EXPECT_EQ(AsText(date), u"2023-03-15 12:00:00");
    VARIANT text = Text(u"2023-03-15 12:00:00");
    ASSERT_EQ(Change(text, VT_DATE, out), S_OK);
    EXPECT_DOUBLE_EQ(out.date, 45000.5);
    VariantClear(&text);
    VariantInit(&date);
    date.vt = VT_DATE;
    date.date = 0;
    EXPECT_EQ(AsText(date), u"00:00:00");
}

TEST(Variant, CopyAndClearOwnTheirText) {
    VARIANT source = Text(u"copy me"), copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(std::u16string(copy.bstrVal), u"copy me");
    VariantClear(&source);
    EXPECT_EQ(source.vt, VT_EMPTY);
    EXPECT_EQ(std::u16string(copy.bstrVal), u"copy me");
    // Converting in place replaces the value.
    ASSERT_EQ(VariantChangeType(&copy, &copy, 0, VT_I4), DISP_E_TYPEMISMATCH);
    VARIANT number = Text(u"5");
    ASSERT_EQ(VariantChangeType(&number, &number, 0, VT_I4), S_OK);
    EXPECT_EQ(number.vt, VT_I4);
    EXPECT_EQ(number.lVal, 5);
    VariantClear(&copy);
}

TEST(Variant, ReferencesAreReadThrough) {
    LONG value = 9;
    VARIANT ref, out;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &value;
    EXPECT_EQ(AsText(ref), u"9");
    ASSERT_EQ(Change(ref, VT_R8, out), S_OK);
    EXPECT_DOUBLE_EQ(out.dblVal, 9.0);
}

TEST(Variant, DatesAloneAndTimesAloneAreWrittenAlone) {
    VARIANT date;
    VariantInit(&date);
    date.vt = VT_DATE;
    date.date = 45000.0;
    EXPECT_EQ(AsText(date), u"2023-03-15");
    date.date = 0.5;
    EXPECT_EQ(AsText(date), u"12:00:00");
    SYSTEMTIME time{2023, 3, 0, 15, 12, 0, 0, 999};
    DOUBLE value = -1;
    ASSERT_TRUE(SystemTimeToVariantTime(&time, &value));
    EXPECT_DOUBLE_EQ(value, 45000.5);
    time.wMonth = 13;
    EXPECT_FALSE(SystemTimeToVariantTime(&time, &value));
}

TEST(Variant, DecimalsKeepTheirScaleAndReadAsNumbers) {
    VARIANT number;
    VariantInit(&number);
    ASSERT_TRUE(platform::DecimalFromText("12.50", number.decVal));
    number.vt = VT_DECIMAL;
    EXPECT_EQ(number.decVal.scale, 2);
    EXPECT_EQ(number.decVal.Lo64, 1250u);
    EXPECT_EQ(AsText(number), u"12.5");
    VARIANT out;
    ASSERT_EQ(Change(number, VT_I4, out), S_OK);
    EXPECT_EQ(out.lVal, 12); // half to even
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &number), S_OK);
    EXPECT_EQ(copy.vt, VT_DECIMAL);
    EXPECT_EQ(AsText(copy), u"12.5");
    const std::pair<const char *, const char16_t *> texts[] = {
        {"-3.100", u"-3.1"},
        {"-0.00", u"0"},
        {"0.0001", u"0.0001"},
        {"79228162514264337593543950335", u"79228162514264337593543950335"},
        {"1.0000000000000000000000000000000", u"1"}};
    for (const auto &[text, expected] : texts) {
        ASSERT_TRUE(platform::DecimalFromText(text, number.decVal)) << text;
        number.vt = VT_DECIMAL;
        EXPECT_EQ(AsText(number), expected) << text;
    }
    for (const char *refused : {"79228162514264337593543950336", "1e5", "", "-", "1.2.3", "NaN"})
        EXPECT_FALSE(platform::DecimalFromText(refused, number.decVal)) << refused;
}

TEST(Variant, ByteArraysAreWrittenInHexAndCopiedWhole) {
    VARIANT bytes;
    VariantInit(&bytes);
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    ASSERT_NE(bytes.parray, nullptr);
    const BYTE data[] = {0x00, 0xAB, 0x7F};
    memcpy(bytes.parray->pvData, data, 3);
    EXPECT_EQ(AsText(bytes), u"00AB7F");
    VARIANT copy, out;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &bytes), S_OK);
    EXPECT_NE(copy.parray, bytes.parray);
    VariantClear(&bytes);
    EXPECT_EQ(AsText(copy), u"00AB7F");
    EXPECT_EQ(Change(copy, VT_I4, out), DISP_E_TYPEMISMATCH);
    LONG low = -1, high = -1;
    EXPECT_EQ(SafeArrayGetLBound(copy.parray, 1, &low), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(copy.parray, 1, &high), S_OK);
    EXPECT_EQ(high - low + 1, 3);
    EXPECT_EQ(SafeArrayGetUBound(copy.parray, 2, &high), DISP_E_BADINDEX);
    void *locked = nullptr;
    ASSERT_EQ(SafeArrayAccessData(copy.parray, &locked), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy.parray), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(copy.parray), S_OK);
    VariantClear(&copy);
    EXPECT_EQ(SafeArrayCreateVector(VT_BSTR, 0, 1), nullptr);
}
