// The view's side of user cabinet IRs, with no plug-in format around it: the grille's badge as
// drawn, clicks on it, files dropped from a real XDND source in another process, and the file
// chooser through a desktop portal on a D-Bus session bus of the test's own, or zenity.
// Runs on a virtual X server (see CMakeLists.txt).

#include <gtest/gtest.h>

#include "CorvexView.h"
#include "EditorLayout.h"
#include "ImpulseTestSupport.h"
#include "UriList.h"
#include "X11TestSupport.h"

#include <X11/Xatom.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace corvex {
namespace {

using gui::CRect;
using test::CDefaultParameters;
using test::CRecordingImpulseAccess;

// A host's run loop on poll(): the editor's descriptor and its timer.
class CPollHost : public CHostWindow {
public:
    bool watchDescriptor(int descriptor, std::function<void()> onReady) override
    {
        m_iDescriptor = descriptor;
        m_onReady = std::move(onReady);
        return true;
    }
    bool startTimer(int milliseconds, std::function<void()> onTick) override
    {
        m_iTimerMs = milliseconds;
        m_onTick = std::move(onTick);
        return true;
    }
    void stopWatching() override
    {
        m_onReady = nullptr;
        m_onTick = nullptr;
    }
    void requestSize(int, int) override {}

    // Runs the loop until `done` holds or `timeoutMs` passed; true when it holds.
    bool runUntil(const std::function<bool()>& done, int timeoutMs = 10000)
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        Clock::time_point nextTick = Clock::now();
        while (!done()) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                return false;
            if (now >= nextTick && m_onTick) {
                m_onTick();
                nextTick = now + std::chrono::milliseconds(m_iTimerMs);
                continue;
            }
            pollfd fd{m_iDescriptor, POLLIN, 0};
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count();
            if (poll(&fd, 1, int(std::max<long long>(1, std::min<long long>(wait, 10)))) > 0 && m_onReady)
                m_onReady();
        }
        return true;
    }
    void runFor(int milliseconds)
    {
        runUntil([] { return false; }, milliseconds);
    }

private:
    int m_iDescriptor = -1;
    int m_iTimerMs = CCorvexView::kIdleRate;
    std::function<void()> m_onReady;
    std::function<void()> m_onTick;
};

// A child process with its standard output on a pipe.
struct Child {
    pid_t pid = 0;
    int output = -1;

    bool start(const std::vector<std::string>& args)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int status = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        output = fds[0];
        return status == 0;
    }
    // One line of its output; empty at its end.
    std::string readLine()
    {
        std::string line;
        char c = 0;
        while (read(output, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    // Its exit status once it has ended, else -1.
    int exitStatus()
    {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != pid)
            return -1;
        pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (output >= 0)
            close(output);
    }
};

CRect BadgeRect()
{
    using namespace editor;
    return CRect::FromSize(kImpulseBadgeLeft, kImpulseBadgeTop, kImpulseBadgeWidth, kImpulseBadgeHeight);
}

CRect GrilleRect()
{
    using namespace editor;
    return CRect::FromSize(kGrilleLeft, kGrilleTop, kGrilleWidth, kGrilleHeight);
}

// ---- The badge, offscreen ----

struct BadgeCase {
    const char* name;
    const char* error;
    std::u32string title; // as shown; an ellipsis replaces what does not fit
    std::u32string detail;
    bool clear; // the x shows
};

// The view open offscreen, with a recorder of its IR requests.
class OffscreenImpulseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(view.attach(&parent, CEditorBase::kPlatformTypeOffscreen, nullptr));
        view.setImpulseAccess(&access);
    }
    void show(const std::string& name, const std::string& error)
    {
        view.showImpulse(name, error);
        view.onTimer();
    }
    const gui::COffscreenContext& pixels() const { return view.getFrame()->getOffscreen(); }
    // Pixels of `r` unlike the badge's empty plate, and of those the ones in the refusal's red.
    void countInk(const CRect& r, int& ink, int& red) const
    {
        const gui::CBitmap plate(editor::kImpulseBadgeBitmap);
        ink = red = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const std::uint8_t* p = pixels().pixel(x, y);
                const std::uint8_t* q = plate.pixel(x - BadgeRect().left, y - BadgeRect().top);
                if (p[0] != q[0] || p[1] != q[1] || p[2] != q[2])
                    ++ink;
                if (p[0] > 150 && p[0] > 2 * p[1] && p[0] > 2 * p[2])
                    ++red;
            }
    }

    std::vector<std::uint8_t> badgePixels() const
    {
        std::vector<std::uint8_t> out;
        const CRect r = BadgeRect();
        for (int y = r.top; y < r.bottom; ++y)
            out.insert(out.end(), pixels().pixel(r.left, y), pixels().pixel(r.left, y) + r.width() * 3);
        return out;
    }

    int parent = 0;
    CCorvexView view{std::make_unique<CDefaultParameters>()};
    CRecordingImpulseAccess access;
};

class BadgeTest : public OffscreenImpulseTest, public ::testing::WithParamInterface<BadgeCase> {};

TEST_P(BadgeTest, ShowsTheCabinetAndTheRefusal)
{
    const BadgeCase& c = GetParam();
    show(c.name, c.error);
    const CImpulseBadge& badge = *view.getImpulseBadge();
    EXPECT_EQ(badge.getTitle(), c.title);
    EXPECT_EQ(badge.getDetail(), c.detail);
    const gui::CBitmapFont font(editor::kFontBitmap);
    const int room = editor::kImpulseBadgeWidth - 2 * editor::kImpulseClearWidth;
    EXPECT_LE(font.width(badge.getTitle()), room);
    EXPECT_LE(font.width(badge.getDetail()), room);
    EXPECT_EQ(badge.showsClear(), c.clear);
    EXPECT_EQ(badge.isError(), *c.error != 0);

    // Drawn: text on both lines, red only for a refusal, the x only with a user IR.
    const CRect r = BadgeRect();
    const int middle = r.top + 22;
    const CRect textArea{r.left + editor::kImpulseClearWidth, r.top, r.right - editor::kImpulseClearWidth, r.bottom};
    int ink = 0, red = 0;
    countInk({textArea.left, r.top, textArea.right, middle}, ink, red);
    EXPECT_GT(ink, 0);
    EXPECT_EQ(red, 0) << "the title is never red";
    countInk({textArea.left, middle, textArea.right, r.bottom}, ink, red);
    EXPECT_GT(ink, 0);
    EXPECT_EQ(red > 0, *c.error != 0);
    countInk({r.right - editor::kImpulseClearWidth, r.top, r.right, r.bottom}, ink, red);
    EXPECT_EQ(ink > 0, c.clear);

    // What shows depends on what the host side said last, not on what came before.
    const std::vector<std::uint8_t> first = badgePixels();
    show("other.wav", "'x.wav' is silent");
    EXPECT_NE(badgePixels(), first);
    show(c.name, c.error);
    EXPECT_EQ(badgePixels(), first);
}

const std::u32string kBuiltIn = U"Built-in cabinet";
const std::u32string kHint = U"Drop an IR file on the grille, or click here to choose one";
const std::u32string kLoadedHint = U"Click to choose another IR";

INSTANTIATE_TEST_SUITE_P(
    States, BadgeTest,
    ::testing::Values(
        BadgeCase{"", "", kBuiltIn, kHint, false},
        BadgeCase{"Room 4x12.wav", "", U"Room 4x12.wav", kLoadedHint, true},
        BadgeCase{"", "'x.wav' is silent", kBuiltIn, U"'x.wav' is silent", false},
        BadgeCase{"Room 4x12.wav", "'long.wav' is longer than 10 s", U"Room 4x12.wav",
                  U"'long.wav' is longer than 10 s", true},
        // UTF-8 read as such.
        BadgeCase{"Kabinett \xc3\xbc\x62\x65r \xe2\x82\xac.wav", "", U"Kabinett \u00fcber \u20ac.wav", kLoadedHint, true},
        // Too long: the middle goes, so the name's start and the file's ending stay, and the
        // refusal's verb and reason.
        BadgeCase{"A very long impulse response name recorded with two microphones in the big hall on tape.wav", "",
                  U"A very long impulse response na\u2026ones in the big hall on tape.wav", kLoadedHint, true},
        BadgeCase{"", "cannot read '/home/player/impulse responses/cab.wav': File contains data in an unknown format.",
                  kBuiltIn, U"cannot read '/home/player/impul\u2026tains data in an unknown format.",
                  false}));

// ---- Clicks on the badge, offscreen (no file chooser there) ----

struct ClickCase {
    const char* name;   // the IR the badge shows
    int x;              // from the badge's left edge
    int clears;         // clearImpulse calls
    bool chooserAsked;  // the "no chooser" refusal shows
    bool withAccess;
};

class BadgeClickTest : public OffscreenImpulseTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(BadgeClickTest, ClearsOrChooses)
{
    const ClickCase& c = GetParam();
    if (!c.withAccess)
        view.setImpulseAccess(nullptr);
    show(c.name, "");
    const gui::CPoint where{BadgeRect().left + c.x, BadgeRect().top + 20};
    view.onMouseDown({where});
    view.onMouseUp({where});
    EXPECT_EQ(access.clears, c.clears);
    EXPECT_TRUE(access.loads.empty());
    EXPECT_EQ(view.getImpulseError(), c.chooserAsked ? "no file chooser available" : "");
    EXPECT_EQ(view.getImpulseName(), c.name);
}

INSTANTIATE_TEST_SUITE_P(Parts, BadgeClickTest,
                         ::testing::Values(ClickCase{"a.wav", editor::kImpulseBadgeWidth - 10, 1, false, true},
                                           ClickCase{"a.wav", editor::kImpulseBadgeWidth / 2, 0, true, true},
                                           ClickCase{"", editor::kImpulseBadgeWidth - 10, 0, true, true},
                                           ClickCase{"a.wav", editor::kImpulseBadgeWidth - 10, 0, false, false}));

// ---- text/uri-list ----

struct UriCase {
    const char* list;
    std::vector<std::string> paths;
};

class UriListTest : public ::testing::TestWithParam<UriCase> {};

TEST_P(UriListTest, LocalFiles)
{
    EXPECT_EQ(LocalFilesOfUriList(GetParam().list, "studio"), GetParam().paths);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, UriListTest,
    ::testing::Values(UriCase{"file:///home/a/cab.wav\r\n", {"/home/a/cab.wav"}},
                      UriCase{"file:///a%20b/%C3%BC%25.wav", {"/a b/\xc3\xbc%.wav"}},
                      UriCase{"# comment\r\nfile://localhost/x.wav\r\nfile://studio/y.wav\r\n", {"/x.wav", "/y.wav"}},
                      UriCase{"file://elsewhere/x.wav\r\nhttp://host/x.wav\r\nfile:/z.wav\n", {"/z.wav"}},
                      UriCase{"file:///bad%2.wav\r\nfile:///nul%00.wav\r\nfile:///ok.wav", {"/ok.wav"}},
                      UriCase{"", {}}));

// ---- In a real X11 window ----

class X11ImpulseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X server (run it on a virtual X server: tests/support/xvfb-run.sh)";
        top = test::OpenMappedWindow(display, 0, editor::kEditorWidth, editor::kEditorHeight);
        view.setImpulseAccess(&access);
        ASSERT_TRUE(view.attach(reinterpret_cast<void*>(top), kPlatformTypeX11, &host));
        // A plain parent: the window shows itself at the first tick.
        const auto window = Window(view.getNativeWindow());
        ASSERT_TRUE(host.runUntil([&] {
            XWindowAttributes attributes{};
            return XGetWindowAttributes(display, window, &attributes) != 0 && attributes.map_state == IsViewable;
        }));
    }
    void TearDown() override
    {
        view.detach();
        if (display != nullptr) {
            XDestroyWindow(display, top);
            XCloseDisplay(display);
        }
    }

    Display* display = nullptr;
    Window top = 0;
    CPollHost host;
    CRecordingImpulseAccess access;
    CCorvexView view{std::make_unique<CDefaultParameters>()};
};

// The top level's XdndProxy, 0 if none.
Window ProxyOf(Display* display, Window w)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window proxy = 0;
    XGetWindowProperty(display, w, XInternAtom(display, "XdndProxy", False), 0, 1, False, XA_WINDOW, &type, &format,
                       &count, &after, &data);
    if (data != nullptr && count == 1)
        proxy = Window(*reinterpret_cast<unsigned long*>(data));
    if (data != nullptr)
        XFree(data);
    return proxy;
}

// Sources talk to top levels: the editor answers for the host's while open, unless the host
// takes drops itself.
TEST_F(X11ImpulseTest, AnswersForTheHostsTopLevelWhileOpen)
{
    const auto editorWindow = Window(view.getNativeWindow());
    EXPECT_EQ(ProxyOf(display, top), editorWindow);
    EXPECT_EQ(ProxyOf(display, editorWindow), editorWindow);
    view.detach();
    XSync(display, False);
    EXPECT_EQ(ProxyOf(display, top), 0u);

    const Atom aware = XInternAtom(display, "XdndAware", False);
    const long version = 5;
    XChangeProperty(display, top, aware, XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&version), 1);
    XSync(display, False);
    ASSERT_TRUE(view.attach(reinterpret_cast<void*>(top), kPlatformTypeX11, &host));
    host.runFor(3 * CCorvexView::kIdleRate);
    XSync(display, False);
    EXPECT_EQ(ProxyOf(display, top), 0u);
}

// Under a window manager the host's top level is the one it marks with WM_STATE, which may come
// after the editor opened: the editor waits for it rather than mark the wrong window.
TEST_F(X11ImpulseTest, WaitsForTheWindowManagerToFrameTheHost)
{
    view.detach();
    const Window root = DefaultRootWindow(display);
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    XChangeProperty(display, root, check, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&top), 1);
    XSync(display, False);
    ASSERT_TRUE(view.attach(reinterpret_cast<void*>(top), kPlatformTypeX11, &host));
    host.runFor(4 * CCorvexView::kIdleRate);
    XSync(display, False);
    const Window unframed = ProxyOf(display, top);
    const long state[2] = {NormalState, 0};
    XChangeProperty(display, top, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(state), 2);
    XSync(display, False);
    host.runFor(2 * CCorvexView::kIdleRate);
    XSync(display, False);
    const Window framed = ProxyOf(display, top);
    XDeleteProperty(display, root, check);
    XSync(display, False);
    EXPECT_EQ(unframed, 0u);
    EXPECT_EQ(framed, Window(view.getNativeWindow()));
}

struct DropCase {
    int x, y;          // on the editor
    const char* type;  // what the source offers
    bool accessSet;
    int exitStatus;    // the source's: 0 dropped, 1 refused
};

class XdndDropTest : public X11ImpulseTest, public ::testing::WithParamInterface<DropCase> {};

TEST_P(XdndDropTest, TakesFilesOnTheGrilleOnly)
{
    const DropCase& c = GetParam();
    if (!c.accessSet)
        view.setImpulseAccess(nullptr);
    const std::string path = "/tmp/impulse responses/K\xc3\xb6nig 100%.wav";
    const std::string list = "file:///tmp/impulse%20responses/K%C3%B6nig%20100%25.wav\r\nfile:///tmp/second.wav\r\n";
    Child source;
    ASSERT_TRUE(source.start({CORVEX_XDND_SOURCE, std::to_string(top), std::to_string(c.x), std::to_string(c.y),
                              c.type, list}));
    int status = -1;
    ASSERT_TRUE(host.runUntil([&] { return (status = source.exitStatus()) >= 0; })) << "the drag did not end";
    EXPECT_EQ(status, c.exitStatus) << source.readLine();
    EXPECT_EQ(access.loads, c.exitStatus == 0 ? std::vector<std::string>{path} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Points, XdndDropTest,
    ::testing::Values(DropCase{GrilleRect().left + 20, GrilleRect().top + 20, "text/uri-list", true, 0},
                      DropCase{BadgeRect().left + 5, BadgeRect().top + 5, "text/uri-list", true, 0},
                      DropCase{GrilleRect().right - 1, GrilleRect().bottom - 1, "text/uri-list", true, 0},
                      DropCase{GrilleRect().left + 20, GrilleRect().top - 1, "text/uri-list", true, 1},
                      DropCase{500, 300, "text/uri-list", true, 1},
                      DropCase{GrilleRect().left + 20, GrilleRect().top + 20, "text/plain", true, 1},
                      DropCase{GrilleRect().left + 20, GrilleRect().top + 20, "text/uri-list", false, 1}));

// While files the editor would take hover over the grille, the badge says what letting go does;
// elsewhere, and once the drag leaves, it does not.
TEST_P(XdndDropTest, TheBadgeShowsWhatADropWouldDo)
{
    const DropCase& c = GetParam();
    if (!c.accessSet)
        view.setImpulseAccess(nullptr);
    Child source;
    ASSERT_TRUE(source.start({CORVEX_XDND_SOURCE, std::to_string(top), std::to_string(c.x), std::to_string(c.y), c.type,
                              "file:///tmp/a.wav\r\n", "--hover"}));
    ASSERT_TRUE(host.runUntil([&] {
        pollfd fd{source.output, POLLIN, 0};
        return ::poll(&fd, 1, 0) > 0;
    }));
    const std::string answer = source.readLine();
    ASSERT_EQ(answer.rfind(c.exitStatus == 0 ? "accepted " : "refused ", 0), 0u) << answer;
    const std::u32string dropHint = gui::CBitmapFont::Decode(CImpulseBadge::kDropHint);
    EXPECT_EQ(view.getImpulseBadge()->getDetail() == dropHint, c.exitStatus == 0);

    // The go-ahead to leave: a property on the source's window.
    const auto sourceWindow = Window(std::stoul(answer.substr(answer.find(' ') + 1)));
    const Atom go = XInternAtom(display, "CORVEX_GO", False);
    XChangeProperty(display, sourceWindow, go, XA_STRING, 8, PropModeReplace, reinterpret_cast<const unsigned char*>("1"), 1);
    XFlush(display);
    int status = -1;
    ASSERT_TRUE(host.runUntil([&] { return (status = source.exitStatus()) >= 0; }));
    EXPECT_EQ(status, c.exitStatus);
    EXPECT_TRUE(host.runUntil([&] { return view.getImpulseBadge()->getDetail() != dropHint; }));
    EXPECT_TRUE(access.loads.empty());
}

// ---- The file chooser: the desktop portal, zenity, or neither ----

enum class Bus { Absent, Empty, WithPortal };

struct ChooserCase {
    Bus bus;
    const char* portalUri;      // what the portal answers; null: cancel
    const char* zenity;         // the fake zenity's answer and status ("" none installed)
    std::vector<std::string> loads;
    const char* error;
    bool hostReapsChildren = false; // SIGCHLD ignored: no exit status to read
};

class ChooserTest : public X11ImpulseTest, public ::testing::WithParamInterface<ChooserCase> {
protected:
    void SetUp() override
    {
        for (const char* name : {"PATH", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value != nullptr ? value : "");
            savedSet.push_back(value != nullptr);
        }
        X11ImpulseTest::SetUp();
    }
    void TearDown() override
    {
        X11ImpulseTest::TearDown();
        for (std::size_t i = 0; i < saved.size(); ++i) {
            if (savedSet[i])
                setenv(saved[i].first.c_str(), saved[i].second.c_str(), 1);
            else
                unsetenv(saved[i].first.c_str());
        }
        if (!folder.empty())
            std::system(("rm -rf '" + folder + "'").c_str());
    }

    std::vector<std::pair<std::string, std::string>> saved;
    std::vector<bool> savedSet;
    std::string folder;
};

// A session bus of the test's own, which activates nothing: its address becomes the session's.
void StartBus(Child& bus, const std::string& folder)
{
    std::ofstream config(folder + "/bus.conf");
    config << "<busconfig><type>session</type><listen>unix:dir=" << folder << "</listen>"
           << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           << "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    config.close();
    ASSERT_TRUE(bus.start({CORVEX_DBUS_DAEMON, "--nofork", "--print-address=1", "--config-file=" + folder + "/bus.conf"}));
    const std::string address = bus.readLine();
    ASSERT_FALSE(address.empty());
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

TEST_P(ChooserTest, LoadsTheChosenFile)
{
    const ChooserCase& c = GetParam();
    char pattern[] = "/tmp/corvex-chooser-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    // A fake zenity: checks it is asked for one file among audio files, answers as the row says.
    if (*c.zenity != 0) {
        std::ofstream script(folder + "/zenity");
        script << "#!/bin/sh\ncase \"$*\" in *--file-selection*\"*.wav\"*) ;; *) exit 3 ;; esac\n" << c.zenity << "\n";
        script.close();
        ASSERT_EQ(chmod((folder + "/zenity").c_str(), 0755), 0);
    }
    setenv("PATH", folder.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("XDG_RUNTIME_DIR");

    // A session bus of our own, which activates nothing, and on it the portal if the row has one.
    Child bus, portal;
    if (c.bus != Bus::Absent) {
        ASSERT_NO_FATAL_FAILURE(StartBus(bus, folder));
    }
    if (c.bus == Bus::WithPortal) {
        std::vector<std::string> args{CORVEX_FAKE_PORTAL};
        if (c.portalUri != nullptr)
            args.emplace_back(c.portalUri);
        ASSERT_TRUE(portal.start(args));
        ASSERT_EQ(portal.readLine(), "ready");
    }

    struct sigaction ignore{}, previous{};
    ignore.sa_handler = SIG_IGN;
    if (c.hostReapsChildren)
        sigaction(SIGCHLD, &ignore, &previous);
    const CRect badge = BadgeRect();
    test::Click(display, top, badge.left + badge.width() / 2, badge.top + badge.height() / 2);
    const bool opened = host.runUntil([&] { return view.isChoosingFile() || !view.getImpulseError().empty(); });
    const bool answered = opened && host.runUntil([&] { return !view.isChoosingFile(); });
    if (c.hostReapsChildren)
        sigaction(SIGCHLD, &previous, nullptr);
    ASSERT_TRUE(opened) << "the click reached no chooser";
    ASSERT_TRUE(answered) << "the chooser never answered";
    EXPECT_EQ(access.loads, c.loads);
    EXPECT_EQ(view.getImpulseError(), c.error);
    if (c.bus == Bus::WithPortal) {
        EXPECT_TRUE(host.runUntil([&] { return portal.exitStatus() == 0; }));
    }
}

// Closing the editor while the portal's dialog is up takes the dialog down.
TEST_F(ChooserTest, ClosingTheEditorClosesThePortalsDialog)
{
    char pattern[] = "/tmp/corvex-chooser-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    Child bus, portal;
    ASSERT_NO_FATAL_FAILURE(StartBus(bus, folder));
    ASSERT_TRUE(portal.start({CORVEX_FAKE_PORTAL, "--hold"}));
    ASSERT_EQ(portal.readLine(), "ready");
    const CRect badge = BadgeRect();
    test::Click(display, top, badge.left + badge.width() / 2, badge.top + badge.height() / 2);
    ASSERT_TRUE(host.runUntil([&] {
        pollfd fd{portal.output, POLLIN, 0};
        return ::poll(&fd, 1, 0) > 0;
    }));
    ASSERT_EQ(portal.readLine(), "asked");
    EXPECT_TRUE(view.isChoosingFile());
    view.detach();
    EXPECT_EQ(portal.readLine(), "closed");
    int status = -1;
    EXPECT_TRUE(host.runUntil([&] { return (status = portal.exitStatus()) >= 0; }));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(access.loads.empty());
}

const std::string kChosen = "/tmp/IRs/Hall & cab.wav";

INSTANTIATE_TEST_SUITE_P(
    Desktops, ChooserTest,
    ::testing::Values(
        ChooserCase{Bus::WithPortal, "file:///tmp/IRs/Hall%20%26%20cab.wav", "", {kChosen}, ""},
        ChooserCase{Bus::WithPortal, nullptr, "", {}, ""},
        ChooserCase{Bus::WithPortal, "https://example.org/x.wav", "", {}, "the file chooser gave no local file"},
        // A bus without a portal: zenity instead.
        ChooserCase{Bus::Empty, nullptr, "echo '/tmp/IRs/Hall & cab.wav'", {kChosen}, ""},
        ChooserCase{Bus::Absent, nullptr, "echo '/tmp/IRs/Hall & cab.wav'", {kChosen}, ""},
        ChooserCase{Bus::Absent, nullptr, "exit 1", {}, ""},
        ChooserCase{Bus::Absent, nullptr, "echo '/tmp/IRs/Hall & cab.wav'", {kChosen}, "", true},
        ChooserCase{Bus::Absent, nullptr, "exit 1", {}, "", true},
        ChooserCase{Bus::Empty, nullptr, "", {}, "no file chooser available (no desktop portal, zenity or kdialog)"}));

} // namespace
} // namespace corvex
