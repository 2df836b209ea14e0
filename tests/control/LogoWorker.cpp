// Prints pictures from a web address from its own process, for the test of
// PrintLogo's guarded temporary file.
//
//   qbtest_logo_worker URL WIDTH ROUNDS   ROUNDS times: PrintLogo(URL) and check
//                                         that the picture is WIDTH wide; prints
//                                         the number of wrong pictures
#include <cstdio>
#include <cstdlib>

#include "QuillDoc.h"
#include "platform/kernel/TextConvert.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: qbtest_logo_worker URL WIDTH ROUNDS\n");
        return 2;
    }
    IQuillDoc *doc = nullptr;
    if (QuillDoc::Create(nullptr, IID_IQuillDoc, reinterpret_cast<void **>(&doc)) != S_OK)
        return 1;
    const std::u16string url = platform::Utf8ToWide(argv[1]);
    BSTR address = SysAllocString(url.c_str());
    BSTR none = SysAllocString(u"");
    const int width = atoi(argv[2]), rounds = atoi(argv[3]);
    int wrong = 0;
    for (int i = 0; i < rounds; ++i) {
        HRESULT hr = doc->PrintLogo(address, none, 0, 0, 0, 0, 0, 0);
        const Picture *picture = static_cast<QuillDoc *>(doc)->PictureObject();
        if (hr != S_OK || !picture || picture->Width() != width) {
            ++wrong;
            fprintf(stderr, "round %d: result %d, width %d\n", i, static_cast<int>(hr),
                    picture ? picture->Width() : -1);
        }
    }
    SysFreeString(address);
    SysFreeString(none);
    doc->Release();
    printf("%d\n", wrong);
    return 0;
}
