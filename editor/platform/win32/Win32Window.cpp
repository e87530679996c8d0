// The editor's window on Windows: a child of the host's HWND, drawn from the frame's framebuffer
// with a device-independent bitmap, its timer and input arriving as window messages on the
// host's user-interface thread. No thread of our own. A click gives it the keyboard focus; keys
// it does not use go back to the host's window, so the host's shortcuts keep working.
// Files dropped from the shell arrive as WM_DROPFILES; the common dialog chooses a file.

#include "EditorBase.h"
#include "PlatformWindow.h"

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace corvex {

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr wchar_t kClassPrefix[] = L"CorvexEditorWindow";
// Posted by chooseFile: the dialog runs from the window's own message, not inside the click.
constexpr UINT kChooseFileMessage = WM_APP + 1;
// The longest path the common dialog may return, in UTF-16 units.
constexpr DWORD kMaxPathUnits = 32768;

// The class is registered per copy of the module (a host may load two versions side by side)
// and unregistered with the last window, so no class outlives the code of its procedure.
int g_iWindowCount = 0;
ATOM g_windowClass = 0;

HINSTANCE OwnModule();
LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

HINSTANCE OwnModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&WindowProc), &module);
    return module;
}

std::wstring ClassName()
{
    return kClassPrefix + std::to_wstring(reinterpret_cast<std::uintptr_t>(OwnModule()));
}

unsigned ModifiersOf(WPARAM keys)
{
    unsigned modifiers = 0;
    if ((keys & MK_SHIFT) != 0)
        modifiers |= gui::kShift;
    if ((keys & MK_CONTROL) != 0)
        modifiers |= gui::kControl;
    if (GetKeyState(VK_MENU) < 0)
        modifiers |= gui::kAlt;
    return modifiers;
}

unsigned KeyModifiers()
{
    unsigned modifiers = 0;
    if (GetKeyState(VK_SHIFT) < 0)
        modifiers |= gui::kShift;
    if (GetKeyState(VK_CONTROL) < 0)
        modifiers |= gui::kControl;
    if (GetKeyState(VK_MENU) < 0)
        modifiers |= gui::kAlt;
    return modifiers;
}

std::string ToUtf8(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string utf8(std::size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.pop_back(); // the terminator
    return utf8;
}

std::wstring ToWide(const std::string& utf8)
{
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (units <= 1)
        return {};
    std::wstring wide(std::size_t(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), units);
    wide.pop_back();
    return wide;
}

gui::VirtualKey VirtualKeyOf(WPARAM key)
{
    switch (key) {
    case VK_UP: return gui::VirtualKey::Up;
    case VK_DOWN: return gui::VirtualKey::Down;
    case VK_PRIOR: return gui::VirtualKey::PageUp;
    case VK_NEXT: return gui::VirtualKey::PageDown;
    case VK_ESCAPE: return gui::VirtualKey::Escape;
    default: return gui::VirtualKey::Other;
    }
}

class CWin32Window final : public CPlatformWindow {
public:
    explicit CWin32Window(CEditorBase& editor) : m_editor(editor) {}
    ~CWin32Window() override;

    bool create(HWND parent, int width, int height);
    void present(const gui::CRect& rect) override;
    void resize(int width, int height) override;
    std::uintptr_t nativeWindow() const override { return reinterpret_cast<std::uintptr_t>(m_hwnd); }
    bool chooseFile(const std::string& title, const FileFilter& filter, std::string& error) override;
    bool isChoosingFile() const override { return m_bChooserPending; }

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

private:
    void allocate(int width, int height);
    void convert(const gui::CRect& rect);
    void blit(HDC dc, gui::CRect rect);
    void filesDropped(HDROP drop);
    void runFileDialog();

    CEditorBase& m_editor;
    HWND m_hwnd = nullptr;
    HWND m_parent = nullptr;
    bool m_bTrackingLeave = false;
    bool m_bRegistered = false;
    bool m_bTimer = false;
    int m_iWidth = 0;
    int m_iHeight = 0;
    // Top-down 32-bit BGRX pixels, the layout GDI takes without conversion.
    std::vector<std::uint32_t> m_aPixels;
    BITMAPINFO m_info{};
    std::string m_sChooserTitle;
    FileFilter m_chooserFilter;
    bool m_bChooserPending = false;
    // Cleared when the window goes, so a dialog running when the host closes the editor knows.
    std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* window = reinterpret_cast<CWin32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window != nullptr)
        return window->handle(message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool CWin32Window::create(HWND parent, int width, int height)
{
    if (!IsWindow(parent) || width <= 0 || height <= 0)
        return false;
    const std::wstring className = ClassName();
    if (g_iWindowCount == 0) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = OwnModule();
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.lpszClassName = className.c_str();
        g_windowClass = RegisterClassExW(&windowClass);
        if (g_windowClass == 0)
            return false;
    }
    ++g_iWindowCount;
    m_bRegistered = true;

    allocate(width, height);
    m_hwnd = CreateWindowExW(0, className.c_str(), L"Corvex", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width,
                             height, parent, nullptr, OwnModule(), nullptr);
    if (m_hwnd == nullptr)
        return false;
    m_parent = parent;
    SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DragAcceptFiles(m_hwnd, TRUE);
    m_bTimer = SetTimer(m_hwnd, kTimerId, UINT(m_editor.getIdleRate()), nullptr) != 0;
    return m_bTimer;
}

void CWin32Window::allocate(int width, int height)
{
    m_iWidth = width;
    m_iHeight = height;
    m_aPixels.assign(std::size_t(width) * unsigned(height), 0);
    m_info.bmiHeader.biSize = sizeof m_info.bmiHeader;
    m_info.bmiHeader.biWidth = width;
    m_info.bmiHeader.biHeight = -height;
    m_info.bmiHeader.biPlanes = 1;
    m_info.bmiHeader.biBitCount = 32;
    m_info.bmiHeader.biCompression = BI_RGB;
}

void CWin32Window::resize(int width, int height)
{
    if ((width == m_iWidth && height == m_iHeight) || width <= 0 || height <= 0)
        return;
    allocate(width, height);
    SetWindowPos(m_hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWin32Window::~CWin32Window()
{
    *m_pAlive = false;
    if (m_hwnd != nullptr) {
        if (m_bTimer)
            KillTimer(m_hwnd, kTimerId);
        if (GetCapture() == m_hwnd)
            ReleaseCapture();
        // No message reaches this object once it is gone.
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
    if (m_bRegistered && --g_iWindowCount == 0) {
        UnregisterClassW(ClassName().c_str(), OwnModule());
        g_windowClass = 0;
    }
}

void CWin32Window::convert(const gui::CRect& rect)
{
    const gui::CFrame* frame = m_editor.getFrame();
    if (frame == nullptr)
        return;
    const gui::COffscreenContext& offscreen = frame->getOffscreen();
    const gui::CRect r = rect.intersection({0, 0, std::min(m_iWidth, offscreen.getWidth()),
                                            std::min(m_iHeight, offscreen.getHeight())});
    for (int y = r.top; y < r.bottom; ++y) {
        const std::uint8_t* rgb = offscreen.pixel(r.left, y);
        std::uint32_t* row = m_aPixels.data() + std::size_t(y) * unsigned(m_iWidth);
        for (int x = r.left; x < r.right; ++x, rgb += 3)
            row[x] = (std::uint32_t(rgb[0]) << 16) | (std::uint32_t(rgb[1]) << 8) | std::uint32_t(rgb[2]);
    }
}

void CWin32Window::blit(HDC dc, gui::CRect rect)
{
    rect = rect.intersection({0, 0, m_iWidth, m_iHeight});
    if (rect.isEmpty())
        return;
    // SetDIBitsToDevice counts the source row from the bottom even for a top-down bitmap.
    SetDIBitsToDevice(dc, rect.left, rect.top, DWORD(rect.width()), DWORD(rect.height()), rect.left,
                      m_iHeight - rect.bottom, 0, UINT(m_iHeight), m_aPixels.data(), &m_info, DIB_RGB_COLORS);
}

void CWin32Window::present(const gui::CRect& rect)
{
    convert(rect);
    if (HDC dc = GetDC(m_hwnd)) {
        blit(dc, rect);
        ReleaseDC(m_hwnd, dc);
    }
}

bool CWin32Window::chooseFile(const std::string& title, const FileFilter& filter, std::string& error)
{
    m_sChooserTitle = title;
    m_chooserFilter = filter;
    if (!m_bChooserPending)
        m_bChooserPending = PostMessageW(m_hwnd, kChooseFileMessage, 0, 0) != FALSE;
    if (!m_bChooserPending)
        error = "the file dialog could not open";
    return m_bChooserPending;
}

void CWin32Window::runFileDialog()
{
    // "Name\0*.a;*.b\0\0", the common dialog's filter.
    std::string patterns;
    for (const std::string& pattern : m_chooserFilter.patterns)
        patterns += (patterns.empty() ? "" : ";") + pattern;
    std::wstring filter = ToWide(m_chooserFilter.name);
    filter += L'\0';
    filter += ToWide(patterns);
    filter += L'\0';
    filter += L'\0';
    const std::wstring title = ToWide(m_sChooserTitle);
    std::wstring file(kMaxPathUnits, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetAncestor(m_hwnd, GA_ROOT);
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = kMaxPathUnits;
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
    // The dialog runs the thread's messages until it closes, and the host may close the editor
    // meanwhile: nothing of this window is touched then.
    const std::shared_ptr<bool> alive = m_pAlive;
    const bool chosen = GetOpenFileNameW(&dialog) != FALSE;
    if (!*alive)
        return;
    m_bChooserPending = false;
    if (chosen)
        m_editor.onFileChosen(ToUtf8(file.c_str()));
    else if (CommDlgExtendedError() != 0)
        m_editor.onFileChosen({}, "the file dialog could not open");
    else
        m_editor.onFileChosen({});
}

void CWin32Window::filesDropped(HDROP drop)
{
    POINT where{};
    DragQueryPoint(drop, &where);
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT units = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(std::size_t(units) + 1, L'\0');
        if (DragQueryFileW(drop, i, path.data(), units + 1) == units)
            paths.push_back(ToUtf8(path.c_str()));
    }
    DragFinish(drop);
    // The shell asks nothing before the drop: files let go anywhere but over the grille are
    // ignored.
    if (m_editor.acceptsDrop({where.x, where.y}))
        m_editor.onDrop({where.x, where.y}, paths);
}

LRESULT CWin32Window::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DROPFILES:
        filesDropped(reinterpret_cast<HDROP>(wParam));
        return 0;
    case kChooseFileMessage:
        runFileDialog();
        return 0;
    case WM_ERASEBKGND:
        return 1; // the framebuffer covers every pixel; no flash of the class background
    case WM_PAINT: {
        // The framebuffer is always current: exposed parts are copied, not repainted.
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(m_hwnd, &paint)) {
            blit(dc, {paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right, paint.rcPaint.bottom});
            EndPaint(m_hwnd, &paint);
        }
        return 0;
    }
    case WM_TIMER:
        if (wParam == kTimerId)
            m_editor.onTimer();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SetFocus(m_hwnd);
        SetCapture(m_hwnd);
        m_editor.onMouseDown({{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, ModifiersOf(wParam),
                              message == WM_LBUTTONDBLCLK ? 2 : 1});
        return 0;
    case WM_MOUSEMOVE:
        if (!m_bTrackingLeave) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, m_hwnd, 0};
            m_bTrackingLeave = TrackMouseEvent(&track) != FALSE;
        }
        m_editor.onMouseMoved({{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, ModifiersOf(wParam)});
        return 0;
    case WM_MOUSELEAVE:
        m_bTrackingLeave = false;
        m_editor.onMouseExited();
        return 0;
    case WM_GETDLGCODE:
        // Arrow keys too, when the host runs the editor inside a dialog.
        return DLGC_WANTARROWS;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if (m_editor.onKey({VirtualKeyOf(wParam), KeyModifiers()}))
            return 0;
        return SendMessageW(m_parent, message, wParam, lParam);
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR:
    case WM_SYSCHAR:
        // The editor acts on presses only; the rest is the host's.
        return SendMessageW(m_parent, message, wParam, lParam);
    case WM_LBUTTONUP:
        if (GetCapture() == m_hwnd)
            ReleaseCapture();
        m_editor.onMouseUp({{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, ModifiersOf(wParam)});
        return 0;
    case WM_MOUSEWHEEL: {
        // Wheel positions come in screen coordinates.
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(m_hwnd, &point);
        const float notches = float(GET_WHEEL_DELTA_WPARAM(wParam)) / float(WHEEL_DELTA);
        m_editor.onWheel({{point.x, point.y}, ModifiersOf(GET_KEYSTATE_WPARAM(wParam))}, notches);
        return 0;
    }
    default:
        return DefWindowProcW(m_hwnd, message, wParam, lParam);
    }
}

} // namespace

bool IsPlatformWindowTypeSupported(const char* type)
{
    return type != nullptr && std::strcmp(type, kPlatformTypeWin32) == 0;
}

double PlatformContentScale(const char* type)
{
    // The screen's DPI as this process sees it: 96 (1.0) unless the host declared itself DPI-aware,
    // in which case Windows stops scaling the editor up for it.
    constexpr double kBaseDpi = 96.0;
    if (!IsPlatformWindowTypeSupported(type))
        return 0.0;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr)
        return 0.0;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi / kBaseDpi : 0.0;
}

std::unique_ptr<CPlatformWindow> CreatePlatformWindow(const char* type, void* parent, CEditorBase& editor,
                                                      CHostWindow* /*host*/)
{
    if (!IsPlatformWindowTypeSupported(type))
        return nullptr;
    auto window = std::make_unique<CWin32Window>(editor);
    const gui::CRect size = editor.scaledSize();
    if (!window->create(static_cast<HWND>(parent), size.width(), size.height()))
        return nullptr;
    return window;
}

} // namespace corvex
