// Files dropped from the shell on the editor's Win32 window: WM_DROPFILES with the HDROP the
// shell hands over, on a real window under Wine (CMakeLists.txt). The view alone, no plug-in.

#include <gtest/gtest.h>

#include "CorvexView.h"
#include "EditorLayout.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h> // DROPFILES

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace corvex {
namespace {

class CDefaultParameters : public CParameterAccess {
public:
    double getParamNormalized(ParamID) const override { return 0.0; }
    double getDefaultNormalized(ParamID) const override { return 0.0; }
    void beginEdit(ParamID) override {}
    void performEdit(ParamID, double) override {}
    void endEdit(ParamID) override {}
};

class CRecordingImpulseAccess : public CImpulseAccess {
public:
    void loadImpulseFile(const std::string& path) override { loads.push_back(path); }
    void clearImpulse() override {}
    std::vector<std::string> loads;
};

// The shell's drop: a DROPFILES header and the wide paths, each ending in a zero, and one more.
HDROP MakeDrop(POINT where, const std::vector<std::wstring>& paths)
{
    std::wstring list;
    for (const std::wstring& path : paths)
        list += path + L'\0';
    list += L'\0';
    const std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->pt = where;
    header->fNC = FALSE;
    header->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

struct DropCase {
    int x, y;
    std::vector<std::string> loads;
};

class Win32DropTest : public ::testing::TestWithParam<DropCase> {
protected:
    void SetUp() override
    {
        parent = CreateWindowExW(0, L"STATIC", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, editor::kEditorWidth,
                                 editor::kEditorHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
        view.setImpulseAccess(&access);
        ASSERT_TRUE(view.attach(parent, kPlatformTypeWin32, nullptr));
    }
    void TearDown() override
    {
        view.detach();
        DestroyWindow(parent);
    }

    HWND parent = nullptr;
    CRecordingImpulseAccess access;
    CCorvexView view{std::make_unique<CDefaultParameters>()};
};

TEST_P(Win32DropTest, TakesFilesOnTheGrilleOnly)
{
    const DropCase& c = GetParam();
    const auto editorWindow = reinterpret_cast<HWND>(view.getNativeWindow());
    ASSERT_NE(editorWindow, nullptr);
    EXPECT_NE(GetWindowLongW(editorWindow, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0) << "the shell would not drop here";
    // "C:\IRs\König 4x12.wav" and a second file, which is not loaded.
    SendMessageW(editorWindow, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({c.x, c.y}, {L"C:\\IRs\\K\u00f6nig 4x12.wav", L"C:\\IRs\\b.wav"})), 0);
    EXPECT_EQ(access.loads, c.loads);
}

using editor::kGrilleLeft;
using editor::kGrilleTop;

INSTANTIATE_TEST_SUITE_P(Points, Win32DropTest,
                         ::testing::Values(DropCase{kGrilleLeft + 20, kGrilleTop + 20, {"C:\\IRs\\K\xc3\xb6nig 4x12.wav"}},
                                           DropCase{kGrilleLeft + 20, kGrilleTop - 1, {}},
                                           DropCase{500, 300, {}}));

} // namespace
} // namespace corvex
