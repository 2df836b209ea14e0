#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "platform/win32.h"
#include "testing/TestSupport.h"

namespace {

std::string Resource(HMODULE module, LPCSTR name, LPCSTR type) {
    HRSRC info = FindResourceA(module, name, type);
    if (!info)
        return "(missing)";
    HGLOBAL data = LoadResource(module, info);
    auto *bytes = static_cast<const char *>(LockResource(data));
    return std::string(bytes, SizeofResource(module, info));
}

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryA(RESMODULE_PATH);
        ASSERT_NE(m_module, nullptr);
    }
    void TearDown() override {
        if (m_module)
            FreeLibrary(m_module);
    }
    HMODULE m_module = nullptr;
};

} // namespace

TEST_F(Modules, FindsResourcesByNameAndTypeIgnoringCase) {
    EXPECT_EQ(Resource(m_module, "logo.gif", "img").substr(0, 6), "GIF89a");
    EXPECT_EQ(Resource(m_module, "LOGO.GIF", "IMG").size(), 34u);
    EXPECT_EQ(Resource(m_module, MAKEINTRESOURCEA(42), RT_RCDATA), "hello resources\n");
    EXPECT_EQ(Resource(m_module, "#42", RT_RCDATA), "hello resources\n");
    EXPECT_EQ(Resource(m_module, "README", RT_HTML), "hello resources\n");
    EXPECT_EQ(Resource(m_module, "README", "HTML"), "(missing)"); // HTML is a numbered type
}

TEST_F(Modules, BitmapResourcesHaveNoFileHeader) {
    std::string bitmap = Resource(m_module, "tiny", RT_BITMAP);
    ASSERT_GE(bitmap.size(), 40u);
    EXPECT_EQ(static_cast<unsigned char>(bitmap[0]), 40); // BITMAPINFOHEADER.biSize
}

TEST_F(Modules, ReportsMissingResources) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindResourceA(m_module, "nothing", "IMG"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceA(m_module, "logo.gif", "NOTYPE"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST_F(Modules, LoadsStringsInTheAnsiCodePage) {
    char buffer[64];
    EXPECT_EQ(LoadStringA(m_module, 100, buffer, sizeof buffer), 8);
    EXPECT_STREQ(buffer, "quillbay");
    int n = LoadStringA(m_module, 7, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), testing_support::Ansi("中文 text"));
    EXPECT_EQ(LoadStringA(m_module, 100, buffer, 5), 4);
    EXPECT_STREQ(buffer, "quil");
    EXPECT_EQ(LoadStringA(m_module, 555, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(Modules, ExportsAndFileNames) {
    auto answer = reinterpret_cast<int (*)()>(
        reinterpret_cast<void *>(GetProcAddress(m_module, "ResourceModuleAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(m_module, "NoSuchExport"), nullptr);
    // Exports of the module's dependencies are not its own.
    EXPECT_EQ(GetProcAddress(m_module, "LoadLibraryA"), nullptr);
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(m_module, path, MAX_PATH);
    EXPECT_EQ(std::string(path, n), std::string(RESMODULE_PATH));
    HMODULE fromAddress = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCSTR>(answer), &fromAddress));
    EXPECT_EQ(fromAddress, m_module);
    EXPECT_EQ(GetModuleHandleA("RESMODULE.SO"), m_module);
}

TEST_F(Modules, UnloadingTakesTheResourcesAway) {
    HMODULE second = LoadLibraryA(RESMODULE_PATH);
    EXPECT_EQ(second, m_module);
    EXPECT_TRUE(FreeLibrary(second)); // one reference is left
    EXPECT_NE(FindResourceA(m_module, "logo.gif", "IMG"), nullptr);
    EXPECT_TRUE(FreeLibrary(m_module));
    EXPECT_EQ(FindResourceA(m_module, "logo.gif", "IMG"), nullptr);
    m_module = nullptr;
}

TEST(ModuleLoading, MissingModulesAreReported) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadLibraryA("/nonexistent/none.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModuleLoading, TheProgramsOwnResourcesAreFoundWithoutAModule) {
    EXPECT_EQ(Resource(nullptr, "maindata", RT_RCDATA), "hello resources\n");
    char buffer[32];
    EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 1, buffer, sizeof buffer), 11);
    char path[MAX_PATH];
    EXPECT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
    EXPECT_NE(std::string(path).find("test_platform"), std::string::npos);
    char tiny[4];
    EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 4u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(ModuleLoading, ModulesInChineseFoldersLoadAndNameThemselvesInAnsi) {
    const auto trail = testing_support::BackslashTrailCharacters();
    ASSERT_FALSE(trail.empty());
    const std::string base = testing_support::MakeTempDir("modules-");
    const std::string dir = base + "/模型" + trail[0];
    ASSERT_TRUE(testing_support::MakeFolder(dir, 0700));
    const std::string copy = dir + "/文書" + trail.back() + ".so";
    testing_support::WriteFile(copy, testing_support::ReadFile(RESMODULE_PATH));
    HMODULE module = LoadLibraryA(testing_support::Ansi(copy).c_str());
    ASSERT_NE(module, nullptr);
    char path[MAX_PATH] = {};
    EXPECT_GT(GetModuleFileNameA(module, path, MAX_PATH), 0u);
    EXPECT_EQ(std::string(path), testing_support::Ansi(copy));
    EXPECT_EQ(Resource(module, "logo.gif", "img").substr(0, 6), "GIF89a");
    FreeLibrary(module);
    testing_support::RemoveTree(base);
}

TEST(ModuleLoading, ADataFileGivesItsResourcesWithoutLoadingTheModule) {
    HMODULE data = LoadLibraryExA(RESMODULE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    EXPECT_NE(reinterpret_cast<uintptr_t>(data) & 1, 0u); // a data file's handle
    EXPECT_EQ(Resource(data, "logo.gif", "img").substr(0, 6), "GIF89a");
    EXPECT_EQ(Resource(data, "#42", RT_RCDATA), "hello resources\n");
    EXPECT_EQ(Resource(data, "tiny", RT_BITMAP)[0], 40); // BITMAPINFOHEADER.biSize
    char buffer[64];
    EXPECT_EQ(LoadStringA(data, 100, buffer, sizeof buffer), 8);
    EXPECT_STREQ(buffer, "quillbay");
    // Nothing of it is code: no exports, no file name of a loaded module.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetProcAddress(data, "ResourceModuleAnswer"), nullptr);
    // Each load is a handle of its own, freed once.
    HMODULE again = LoadLibraryExA(RESMODULE_PATH, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, data);
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_EQ(FindResourceA(data, "logo.gif", "IMG"), nullptr);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FreeLibrary(data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(Resource(again, "README", RT_HTML), "hello resources\n");
    EXPECT_TRUE(FreeLibrary(again));
    // Without the data flags it is LoadLibraryA.
    HMODULE code = LoadLibraryExA(RESMODULE_PATH, nullptr, 0);
    ASSERT_NE(code, nullptr);
    EXPECT_NE(GetProcAddress(code, "ResourceModuleAnswer"), nullptr);
    FreeLibrary(code);
}

TEST(ModuleLoading, FilesWithoutAWholeResourceTableLoadNothingAsData) {
    const std::string dir = testing_support::MakeTempDir("datafiles-");
    const std::string module = testing_support::ReadFile(RESMODULE_PATH);
    auto refused = [&](const std::string &name, const std::string &bytes, DWORD error) {
        testing_support::WriteFile(dir + "/" + name, bytes);
        SetLastError(0xdeadbeef);
        const HMODULE h =
            LoadLibraryExA((dir + "/" + name).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_EQ(h, nullptr) << name;
        EXPECT_EQ(GetLastError(), error) << name;
    };
    // Not a module; a module whose file ends inside its resources; a
    // library without a table (the C library's own file has none).
    refused("text.dll", "just some text", ERROR_RESOURCE_DATA_NOT_FOUND);
    refused("empty.dll", "", ERROR_RESOURCE_DATA_NOT_FOUND);
    refused("cut.dll", module.substr(0, module.find("GIF89a")), ERROR_RESOURCE_DATA_NOT_FOUND);
    std::string damaged = module;
    const size_t image = damaged.find("QRES");
    ASSERT_NE(image, std::string::npos);
    damaged[image + 8] = '\xff'; // the image's size past its section
    damaged[image + 11] = '\x7f';
    refused("damaged.dll", damaged, ERROR_RESOURCE_DATA_NOT_FOUND);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadLibraryExA((dir + "/missing.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryExA(dir.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    testing_support::RemoveTree(dir);
}
