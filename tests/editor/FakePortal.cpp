// A desktop portal that answers one FileChooser.OpenFile on the session bus, as a user would:
//
//   corvex-fake-portal URI     chooses URI
//   corvex-fake-portal         cancels
//   corvex-fake-portal --hold  answers nothing, prints "asked", and waits for the caller to
//                              close the request (Request.Close), then prints "closed" (or
//                              "not closed" after 10 s)
//
// Owns org.freedesktop.portal.Desktop, prints "ready" once it does, answers the call with the
// request handle the caller's handle_token names, then sends that request's Response signal.
// A call whose filters offer no "*.wav" gets response 2 (failed). Exits after one call: 0, or 2
// on a fault.

#include <dbus/dbus.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// handle_token's value and whether a "*.wav" glob is among the filters, from the a{sv} options.
void ReadOptions(DBusMessageIter* options, std::string& token, bool& offersWav)
{
    DBusMessageIter dict;
    for (dbus_message_iter_recurse(options, &dict); dbus_message_iter_get_arg_type(&dict) == DBUS_TYPE_DICT_ENTRY;
         dbus_message_iter_next(&dict)) {
        DBusMessageIter entry, value;
        dbus_message_iter_recurse(&dict, &entry);
        const char* key = nullptr;
        dbus_message_iter_get_basic(&entry, &key);
        dbus_message_iter_next(&entry);
        dbus_message_iter_recurse(&entry, &value);
        if (std::strcmp(key, "handle_token") == 0 && dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_STRING) {
            const char* text = nullptr;
            dbus_message_iter_get_basic(&value, &text);
            token = text;
        } else if (std::strcmp(key, "filters") == 0 && dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_ARRAY) {
            // a(sa(us))
            DBusMessageIter filters, filter, patterns, pattern;
            for (dbus_message_iter_recurse(&value, &filters);
                 dbus_message_iter_get_arg_type(&filters) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&filters)) {
                dbus_message_iter_recurse(&filters, &filter);
                dbus_message_iter_next(&filter);
                for (dbus_message_iter_recurse(&filter, &patterns);
                     dbus_message_iter_get_arg_type(&patterns) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&patterns)) {
                    dbus_message_iter_recurse(&patterns, &pattern);
                    dbus_uint32_t kind = 1;
                    const char* glob = nullptr;
                    dbus_message_iter_get_basic(&pattern, &kind);
                    dbus_message_iter_next(&pattern);
                    dbus_message_iter_get_basic(&pattern, &glob);
                    offersWav = offersWav || (kind == 0 && std::strcmp(glob, "*.wav") == 0);
                }
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool hold = argc > 1 && std::strcmp(argv[1], "--hold") == 0;
    const char* uri = argc > 1 && !hold ? argv[1] : nullptr;
    std::string held;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_bus_get(DBUS_BUS_SESSION, &error);
    if (bus == nullptr ||
        dbus_bus_request_name(bus, "org.freedesktop.portal.Desktop", DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        std::fprintf(stderr, "cannot own the portal's name: %s\n", error.message != nullptr ? error.message : "");
        return 2;
    }
    // Its own exit, with its own status: not libdbus's when the bus goes at shutdown.
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    std::printf("ready\n");
    std::fflush(stdout);
    // Held, it waits this long for the Close, then says so and ends.
    constexpr int kHoldSeconds = 10;
    int heldSeconds = 0;
    while (dbus_connection_read_write(bus, held.empty() ? -1 : 1000)) {
        if (!held.empty() && heldSeconds++ > kHoldSeconds) {
            std::printf("not closed\n");
            return 2;
        }
        while (DBusMessage* call = dbus_connection_pop_message(bus)) {
            if (!held.empty() && dbus_message_is_method_call(call, "org.freedesktop.portal.Request", "Close") &&
                held == dbus_message_get_path(call)) {
                std::printf("closed\n");
                std::fflush(stdout);
                dbus_message_unref(call);
                dbus_connection_unref(bus);
                dbus_shutdown();
                return 0;
            }
            if (!dbus_message_is_method_call(call, "org.freedesktop.portal.FileChooser", "OpenFile")) {
                dbus_message_unref(call);
                continue;
            }
            DBusMessageIter args;
            std::string token;
            bool offersWav = false;
            if (dbus_message_iter_init(call, &args) && dbus_message_iter_next(&args) && dbus_message_iter_next(&args) &&
                dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_ARRAY)
                ReadOptions(&args, token, offersWav);
            std::string sender = dbus_message_get_sender(call) + 1;
            for (char& c : sender)
                if (c == '.')
                    c = '_';
            const std::string handle = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
            DBusMessage* reply = dbus_message_new_method_return(call);
            const char* path = handle.c_str();
            dbus_message_append_args(reply, DBUS_TYPE_OBJECT_PATH, &path, DBUS_TYPE_INVALID);
            dbus_connection_send(bus, reply, nullptr);
            dbus_message_unref(reply);
            dbus_message_unref(call);
            if (hold) {
                held = handle;
                std::printf("asked\n");
                std::fflush(stdout);
                continue;
            }

            DBusMessage* response =
                dbus_message_new_signal(handle.c_str(), "org.freedesktop.portal.Request", "Response");
            const dbus_uint32_t code = !offersWav ? 2 : uri != nullptr ? 0 : 1;
            DBusMessageIter out, results, entry, variant, uris;
            dbus_message_iter_init_append(response, &out);
            dbus_message_iter_append_basic(&out, DBUS_TYPE_UINT32, &code);
            dbus_message_iter_open_container(&out, DBUS_TYPE_ARRAY, "{sv}", &results);
            if (code == 0) {
                const char* key = "uris";
                dbus_message_iter_open_container(&results, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
                dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
                dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "as", &variant);
                dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "s", &uris);
                dbus_message_iter_append_basic(&uris, DBUS_TYPE_STRING, &uri);
                dbus_message_iter_close_container(&variant, &uris);
                dbus_message_iter_close_container(&entry, &variant);
                dbus_message_iter_close_container(&results, &entry);
            }
            dbus_message_iter_close_container(&out, &results);
            dbus_connection_send(bus, response, nullptr);
            dbus_message_unref(response);
            dbus_connection_flush(bus);
            dbus_connection_unref(bus);
            dbus_shutdown();
            return 0;
        }
    }
    return 2;
}
