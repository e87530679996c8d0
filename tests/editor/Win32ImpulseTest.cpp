// Files dropped from the shell on the editor's Win32 window (WM_DROPFILES with the HDROP the
// shell hands over) and the common Open dialog a click on the badge opens, on a real window under
// Wine (CMakeLists.txt). The view alone, no plug-in.

#include <gtest/gtest.h>

#include "CorvexView.h"
#include "EditorLayout.h"
#include "ImpulseTestSupport.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h> // DROPFILES

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvex {
namespace {

using test::CDefaultParameters;
using test::CRecordingImpulseAccess;

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

// Runs the thread's messages until `done` holds or `timeoutMs` passed.
bool Pump(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    return true;
}

// The view in a top-level window of the test's own, with a recorder of its IR requests.
class Win32ImpulseTest : public ::testing::Test {
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

class Win32DropTest : public Win32ImpulseTest, public ::testing::WithParamInterface<DropCase> {};

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

// The user in the common dialog: types a file name and presses Open, or cancels.
struct DialogUser {
    static std::wstring typed; // empty: cancel
    static bool seen;
    // Runs inside the dialog's own message loop.
    static void CALLBACK Act(HWND, UINT, UINT_PTR timer, DWORD)
    {
        HWND dialog = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM found) -> BOOL {
                wchar_t name[16] = {};
                GetClassNameW(w, name, 16);
                if (std::wcscmp(name, L"#32770") != 0 || !IsWindowVisible(w))
                    return TRUE;
                *reinterpret_cast<HWND*>(found) = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&dialog));
        if (dialog == nullptr)
            return;
        KillTimer(nullptr, timer);
        seen = true;
        if (typed.empty()) {
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        // The file name box: a combo box in Explorer-style dialogs, an edit box in older ones.
        constexpr int kFileNameCombo = 0x47C, kFileNameEdit = 0x480;
        SetDlgItemTextW(dialog, kFileNameCombo, typed.c_str());
        SetDlgItemTextW(dialog, kFileNameEdit, typed.c_str());
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    }
};
std::wstring DialogUser::typed;
bool DialogUser::seen = false;

struct DialogCase {
    bool choose;
};

class Win32DialogTest : public Win32ImpulseTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(Win32DialogTest, ClickOnTheBadgeOpensTheCommonDialog)
{
    // A file that exists, with a name beyond ASCII.
    wchar_t folder[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    const std::wstring file = std::wstring(folder) + L"König cab.wav";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    DialogUser::typed = GetParam().choose ? file : std::wstring();
    DialogUser::seen = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, &DialogUser::Act);

    const auto editorWindow = reinterpret_cast<HWND>(view.getNativeWindow());
    const int x = editor::kImpulseBadgeLeft + editor::kImpulseBadgeWidth / 2;
    const int y = editor::kImpulseBadgeTop + editor::kImpulseBadgeHeight / 2;
    SendMessageW(editorWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(editorWindow, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    EXPECT_TRUE(view.isChoosingFile());
    EXPECT_TRUE(Pump([&] { return DialogUser::seen && !view.isChoosingFile(); }, 20000)) << "no dialog answered";
    KillTimer(nullptr, timer);
    DeleteFileW(file.c_str());

    std::vector<std::string> expected;
    if (GetParam().choose) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, file.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(std::size_t(bytes - 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, file.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
        expected.push_back(utf8);
    }
    EXPECT_EQ(access.loads, expected);
    EXPECT_EQ(view.getImpulseError(), "");
}

INSTANTIATE_TEST_SUITE_P(Answers, Win32DialogTest, ::testing::Values(DialogCase{true}, DialogCase{false}));

} // namespace
} // namespace corvex
