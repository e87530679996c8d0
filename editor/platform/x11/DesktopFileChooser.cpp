#include "DesktopFileChooser.h"

#include "UriList.h"

#include <dbus/dbus.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace corvex {

namespace {

constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kFileChooserInterface = "org.freedesktop.portal.FileChooser";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr std::uint32_t kResponseSuccess = 0;
constexpr std::uint32_t kResponseOther = 2;
constexpr std::size_t kMaxChildOutput = 65536;
constexpr int kPassesPerPoll = 8;
constexpr int kPassWaitMs = 2;

// The match rule for the Response signal of the request at `handle`.
std::string ResponseRule(const std::string& handle)
{
    return std::string("type='signal',interface='") + kRequestInterface + "',member='Response',path='" + handle + "'";
}

// Appends a dictionary entry {key: variant of `type`} to an a{sv} being built.
template <typename Fill>
void AppendOption(DBusMessageIter* dict, const char* key, const char* type, Fill fill)
{
    DBusMessageIter entry, variant;
    dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, type, &variant);
    fill(&variant);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(dict, &entry);
}

// One filter, (sa(us)): its name and its glob patterns (kind 0).
void AppendFilter(DBusMessageIter* to, const FileFilter& filter)
{
    DBusMessageIter item, patterns;
    dbus_message_iter_open_container(to, DBUS_TYPE_STRUCT, nullptr, &item);
    const char* name = filter.name.c_str();
    dbus_message_iter_append_basic(&item, DBUS_TYPE_STRING, &name);
    dbus_message_iter_open_container(&item, DBUS_TYPE_ARRAY, "(us)", &patterns);
    for (const std::string& pattern : filter.patterns) {
        DBusMessageIter entry;
        const dbus_uint32_t glob = 0;
        const char* text = pattern.c_str();
        dbus_message_iter_open_container(&patterns, DBUS_TYPE_STRUCT, nullptr, &entry);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_UINT32, &glob);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &text);
        dbus_message_iter_close_container(&patterns, &entry);
    }
    dbus_message_iter_close_container(&item, &patterns);
    dbus_message_iter_close_container(to, &item);
}

// The first URI of the results' "uris" entry (a{sv} with uris: as); empty when there is none.
std::string FirstUri(DBusMessageIter* results)
{
    if (dbus_message_iter_get_arg_type(results) != DBUS_TYPE_ARRAY)
        return {};
    DBusMessageIter dict;
    for (dbus_message_iter_recurse(results, &dict); dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
         dbus_message_iter_next(&dict)) {
        DBusMessageIter entry, variant, uris;
        dbus_message_iter_recurse(&dict, &entry);
        const char* key = nullptr;
        dbus_message_iter_get_basic(&entry, &key);
        if (std::strcmp(key, "uris") != 0 || !dbus_message_iter_next(&entry))
            continue;
        dbus_message_iter_recurse(&entry, &variant);
        if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_ARRAY)
            return {};
        dbus_message_iter_recurse(&variant, &uris);
        if (dbus_message_iter_get_arg_type(&uris) != DBUS_TYPE_STRING)
            return {};
        const char* uri = nullptr;
        dbus_message_iter_get_basic(&uris, &uri);
        return uri;
    }
    return {};
}

std::string HostName()
{
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

// The first of `programs` found on PATH, empty if none.
std::string FindProgram(std::initializer_list<const char*> programs)
{
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return {};
    for (const char* program : programs) {
        const std::string dirs = path;
        for (std::size_t start = 0; start <= dirs.size();) {
            std::size_t end = dirs.find(':', start);
            if (end == std::string::npos)
                end = dirs.size();
            const std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + program;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
            start = end + 1;
        }
    }
    return {};
}

} // namespace

CDesktopFileChooser::~CDesktopFileChooser()
{
    // The editor closes with the portal's dialog still up: take the dialog down with it.
    if (m_pConnection != nullptr && m_bRequestOpen) {
        if (DBusMessage* close = dbus_message_new_method_call(kPortalService, m_sHandle.c_str(), kRequestInterface, "Close")) {
            dbus_message_set_no_reply(close, TRUE);
            dbus_connection_send(m_pConnection, close, nullptr);
            dbus_message_unref(close);
            dbus_connection_flush(m_pConnection);
        }
    }
    closePortal();
    closeChild();
}

bool CDesktopFileChooser::open(unsigned long parent, const std::string& title, const FileFilter& filter,
                               std::string& error)
{
    if (isOpen())
        return true;
    m_sTitle = title;
    m_filter = filter;
    if (openPortal(parent) || openChild())
        return true;
    error = kNoChooser;
    return false;
}

bool CDesktopFileChooser::openPortal(unsigned long parent)
{
    // A private connection: the host's own use of the bus stays untouched, and closing ours
    // ends everything it started. Only a bus that is there: never one started for us.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && std::strncmp(address, "autolaunch:", 11) == 0)
        return false;
    std::string fallback;
    if (address == nullptr || *address == 0) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime == nullptr || access((std::string(runtime) + "/bus").c_str(), F_OK) != 0)
            return false;
        fallback = std::string("unix:path=") + runtime + "/bus";
        address = fallback.c_str();
    }
    // Opening a local socket returns at once; the handshake, Hello and the call go out and come
    // back on the editor timer, so a slow bus never holds up the host.
    DBusError error;
    dbus_error_init(&error);
    m_pConnection = dbus_connection_open_private(address, &error);
    dbus_error_free(&error);
    if (m_pConnection == nullptr)
        return false;
    dbus_connection_set_exit_on_disconnect(m_pConnection, FALSE);
    m_iParent = parent;
    DBusMessage* hello = dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello");
    const bool sent = hello != nullptr && dbus_connection_send(m_pConnection, hello, &m_iHelloSerial) != 0;
    if (hello != nullptr)
        dbus_message_unref(hello);
    if (!sent) {
        closePortal();
        return false;
    }
    return true;
}

bool CDesktopFileChooser::callPortal(const char* uniqueName)
{
    // The request's handle is known before the call, so the answer cannot slip past: the
    // portal names it after our unique bus name and the token we pass.
    if (uniqueName == nullptr || *uniqueName != ':' || !dbus_bus_set_unique_name(m_pConnection, uniqueName))
        return false;
    static unsigned s_iRequest = 0;
    const std::string token = "corvex" + std::to_string(getpid()) + "_" + std::to_string(++s_iRequest);
    std::string sender = uniqueName + 1;
    for (char& c : sender)
        if (c == '.')
            c = '_';
    m_sHandle = std::string(kPortalPath) + "/request/" + sender + "/" + token;
    dbus_bus_add_match(m_pConnection, ResponseRule(m_sHandle).c_str(), nullptr); // sent, not awaited

    DBusMessage* call =
        dbus_message_new_method_call(kPortalService, kPortalPath, kFileChooserInterface, "OpenFile");
    if (call == nullptr)
        return false;
    char window[32];
    std::snprintf(window, sizeof window, "x11:%lx", m_iParent);
    const char* parentWindow = window;
    const char* titleText = m_sTitle.c_str();
    DBusMessageIter args, options;
    dbus_message_iter_init_append(call, &args);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parentWindow);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &titleText);
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &options);
    AppendOption(&options, "handle_token", "s", [&](DBusMessageIter* v) {
        const char* text = token.c_str();
        dbus_message_iter_append_basic(v, DBUS_TYPE_STRING, &text);
    });
    AppendOption(&options, "modal", "b", [](DBusMessageIter* v) {
        const dbus_bool_t yes = TRUE;
        dbus_message_iter_append_basic(v, DBUS_TYPE_BOOLEAN, &yes);
    });
    AppendOption(&options, "filters", "a(sa(us))", [&](DBusMessageIter* v) {
        DBusMessageIter list;
        dbus_message_iter_open_container(v, DBUS_TYPE_ARRAY, "(sa(us))", &list);
        AppendFilter(&list, m_filter);
        dbus_message_iter_close_container(v, &list);
    });
    AppendOption(&options, "current_filter", "(sa(us))", [&](DBusMessageIter* v) { AppendFilter(v, m_filter); });
    dbus_message_iter_close_container(&args, &options);
    const bool sent = dbus_connection_send(m_pConnection, call, &m_iCallSerial) != 0;
    dbus_message_unref(call);
    m_bRequestOpen = sent;
    return sent;
}

void CDesktopFileChooser::closePortal()
{
    m_iHelloSerial = 0;
    m_iCallSerial = 0;
    m_bRequestOpen = false;
    if (m_pConnection != nullptr) {
        dbus_connection_close(m_pConnection);
        dbus_connection_unref(m_pConnection);
        m_pConnection = nullptr;
    }
}

void CDesktopFileChooser::poll()
{
    if (m_pConnection != nullptr)
        pollPortal();
    if (m_child > 0)
        pollChild();
}

void CDesktopFileChooser::pollPortal()
{
    // Whatever the socket holds now. While the bus owes us an answer on the way to the call (the
    // handshake, Hello, the call's reply), a few short waits of a millisecond or two let those
    // round trips finish within this tick: the dialog appears without a tick's delay for each.
    // The user's choice itself is never waited for.
    for (int pass = 0; pass < kPassesPerPoll; ++pass) {
        const bool owed = m_iHelloSerial != 0 || m_iCallSerial != 0 || !dbus_connection_get_is_authenticated(m_pConnection);
        if (pass > 0 && !owed)
            return;
        if (!dbus_connection_read_write(m_pConnection, pass == 0 ? 0 : kPassWaitMs)) {
            fallBack();
            return;
        }
        while (DBusMessage* message = dbus_connection_pop_message(m_pConnection)) {
            const bool answered = handlePortalMessage(message);
            dbus_message_unref(message);
            if (answered)
                return;
        }
    }
}

bool CDesktopFileChooser::handlePortalMessage(DBusMessage* message)
{
    if (m_iHelloSerial != 0 && dbus_message_get_reply_serial(message) == m_iHelloSerial) {
        m_iHelloSerial = 0;
        const char* name = nullptr;
        if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_ERROR ||
            !dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID) || !callPortal(name)) {
            fallBack();
            return true;
        }
        return false;
    }
    if (m_iCallSerial != 0 && dbus_message_get_reply_serial(message) == m_iCallSerial) {
        m_iCallSerial = 0;
        // No portal on this bus: the next chooser in line.
        if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_ERROR) {
            fallBack();
            return true;
        }
        const char* handle = nullptr;
        if (dbus_message_get_args(message, nullptr, DBUS_TYPE_OBJECT_PATH, &handle, DBUS_TYPE_INVALID) &&
            m_sHandle != handle) {
            // An older portal chose its own handle: listen there instead.
            m_sHandle = handle;
            dbus_bus_add_match(m_pConnection, ResponseRule(m_sHandle).c_str(), nullptr);
            dbus_connection_flush(m_pConnection);
        }
        return false;
    }
    const char* path = dbus_message_get_path(message);
    if (!dbus_message_is_signal(message, kRequestInterface, "Response") || path == nullptr || m_sHandle != path)
        return false;
    DBusMessageIter args;
    dbus_uint32_t response = kResponseOther;
    std::string uri;
    if (dbus_message_iter_init(message, &args) && dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_UINT32) {
        dbus_message_iter_get_basic(&args, &response);
        if (dbus_message_iter_next(&args))
            uri = FirstUri(&args);
    }
    closePortal();
    std::string chosen;
    if (response != kResponseSuccess)
        finish({}, {});
    else if (!LocalFileOfUri(uri, HostName(), chosen))
        finish({}, "the file chooser gave no local file");
    else
        finish(chosen, {});
    return true;
}

void CDesktopFileChooser::fallBack()
{
    closePortal();
    if (!openChild())
        finish({}, kNoChooser);
}

bool CDesktopFileChooser::openChild()
{
    const std::string program = FindProgram({"zenity", "kdialog"});
    if (program.empty())
        return false;
    std::string patterns;
    for (const std::string& pattern : m_filter.patterns)
        patterns += (patterns.empty() ? "" : " ") + pattern;
    std::vector<std::string> args{program};
    if (program.size() >= 6 && program.compare(program.size() - 6, 6, "zenity") == 0) {
        args.insert(args.end(), {"--file-selection", "--title=" + m_sTitle, "--file-filter=" + m_filter.name + " | " + patterns});
    } else {
        args.insert(args.end(), {"--title", m_sTitle, "--getopenfilename", ".", patterns + "|" + m_filter.name});
    }
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe[1]);
    if (spawned != 0) {
        close(pipe[0]);
        return false;
    }
    fcntl(pipe[0], F_SETFL, fcntl(pipe[0], F_GETFL) | O_NONBLOCK);
    m_child = child;
    m_iChildOutput = pipe[0];
    m_sChildOutput.clear();
    return true;
}

void CDesktopFileChooser::pollChild()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_iChildOutput, buffer, sizeof buffer);
        if (n > 0 && m_sChildOutput.size() < kMaxChildOutput) {
            m_sChildOutput.append(buffer, std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    int status = 0;
    pid_t done = 0;
    do
        done = waitpid(m_child, &status, WNOHANG);
    while (done < 0 && errno == EINTR);
    if (done == 0)
        return;
    const int waitError = errno;
    // Exited: what is left in the pipe came before the end.
    for (ssize_t n; (n = read(m_iChildOutput, buffer, sizeof buffer)) > 0;)
        if (m_sChildOutput.size() < kMaxChildOutput)
            m_sChildOutput.append(buffer, std::size_t(n));
    m_child = 0;
    closeChild();
    std::string path = m_sChildOutput;
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    // Both print the chosen path and exit 0; a cancel exits 1 and prints nothing. A host that
    // reaps every child itself (SIGCHLD ignored, or its own handler) leaves no status: then the
    // output alone tells.
    const bool reapedElsewhere = done < 0 && waitError == ECHILD;
    const bool succeeded = reapedElsewhere || (done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const bool chosen = succeeded && !path.empty();
    finish(chosen ? path : std::string(), {});
}

void CDesktopFileChooser::closeChild()
{
    if (m_child > 0) {
        kill(m_child, SIGTERM);
        waitpid(m_child, nullptr, 0);
        m_child = 0;
    }
    if (m_iChildOutput >= 0) {
        close(m_iChildOutput);
        m_iChildOutput = -1;
    }
}

void CDesktopFileChooser::finish(const std::string& path, const std::string& error)
{
    if (m_onDone)
        m_onDone(path, error);
}

} // namespace corvex
