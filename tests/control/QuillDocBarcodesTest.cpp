// PrintBarCode and GetBarCodeImg.
#include <cstdlib>
#include <string>

#include "QuillDoc.h"
#include "QuillDocFixture.h"
#include "testing/TestSupport.h"

namespace {

class Barcodes : public QuillDocFixture {
protected:
    void SetUp() override {
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        ASSERT_EQ(QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&m_doc)), S_OK);
    }
    void TearDown() override { m_doc->Release(); }

    std::u16string Image(int dimension, const std::u16string &code, HRESULT expected) {
        BSTR url = reinterpret_cast<BSTR>(0xdeadbeef);
        EXPECT_EQ(m_doc->GetBarCodeImg(dimension, Arg(code), &url), expected);
        return Take(url);
    }
    const Picture *Shown() { return static_cast<QuillDoc *>(m_doc)->PictureObject(); }

    IQuillDoc *m_doc = nullptr;
};

} // namespace

TEST_F(Barcodes, ImagesGoToTheTemporaryDirectoryByKind) {
    const std::u16string folder = Wide(getenv("TMPDIR"));
    EXPECT_EQ(Image(1, u"6901234567892", S_OK), u"file://" + folder + u"/tmpbarcode1.jpg");
    BSTR result = nullptr;
    m_doc->GetDBResult(&result);
    EXPECT_EQ(Take(result), u"file://" + folder + u"/tmpbarcode1.jpg");
    EXPECT_EQ(Image(3, u"1234", S_OK), u"file://" + folder + u"/tmpbarcode3.jpg");
    const std::string file = std::string(getenv("TMPDIR")) + "/tmpbarcode3.jpg";
    EXPECT_GT(testing_support::ReadFile(file).size(), 100u);
    EXPECT_EQ(testing_support::ReadFile(file).substr(0, 2), "\xFF\xD8");
}

TEST_F(Barcodes, RefusedTextsAndUnknownKindsGiveNoImage) {
    EXPECT_EQ(Image(1, u"123", S_FALSE), u"(null)");
    EXPECT_EQ(Image(4, u"1234", S_FALSE), u"(null)");
    EXPECT_EQ(Image(3, u"12AB", S_FALSE), u"(null)");
    EXPECT_EQ(m_doc->PrintBarCode(4, Arg(u"1234"), 10, 10, 0, 0, 0, 0), S_FALSE);
    EXPECT_EQ(m_doc->PrintBarCode(1, Arg(u"12"), 10, 10, 0, 0, 0, 0), S_FALSE);
}

TEST_F(Barcodes, PlacementFollowsTheScale) {
    m_doc->SetPaperSize(2100, 2970);
    int n = 0;
    m_doc->SetPrinter(Arg(u"1"), &n);
    // 10 and 20 mm at 23.622 units per millimetre; 40 mm wide, height by the
    // symbol's proportions: 944 x trunc(40 x 23.622 x 40 / 123) = 307.
    EXPECT_EQ(m_doc->PrintBarCode(1, Arg(u"6901234567892"), 10, 20, 0, 0, 40, 0), S_OK);
    const RECT &dest = Shown()->DestRect();
    EXPECT_EQ(dest.left, 236);
    EXPECT_EQ(dest.top, 472);
    EXPECT_EQ(dest.right - dest.left, 944);
    EXPECT_EQ(dest.bottom - dest.top, 307);
    // Both sizes 0: one symbol pixel per millimetre.
    EXPECT_EQ(m_doc->PrintBarCode(3, Arg(u"1234"), 0, 0, 0, 0, 0, 0), S_OK);
    EXPECT_EQ(Shown()->DestRect().right, static_cast<int>(114 * 600 * 0.03937007874015748));
    m_doc->SetPrinter(Arg(u"0"), &n);
}
