#include "EditorHost.h"

#include <algorithm>
#include <poll.h>

using namespace Steinberg;

namespace corvex::hosting {

EditorHost::~EditorHost()
{
    // Handlers a view forgot to unregister still hold our references to them.
    for (Handler& h : m_aHandlers)
        h.handler->release();
    for (Timer& t : m_aTimers)
        t.handler->release();
}

tresult PLUGIN_API EditorHost::resizeView(IPlugView* view, ViewRect* newSize)
{
    if (view == nullptr || newSize == nullptr)
        return kInvalidArgument;
    m_requestedSize = *newSize;
    return view->onSize(newSize);
}

tresult PLUGIN_API EditorHost::registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd)
{
    if (handler == nullptr || fd < 0)
        return kInvalidArgument;
    handler->addRef();
    m_aHandlers.push_back({handler, fd});
    return kResultOk;
}

tresult PLUGIN_API EditorHost::unregisterEventHandler(Linux::IEventHandler* handler)
{
    const auto found = std::find_if(m_aHandlers.begin(), m_aHandlers.end(),
                                    [&](const Handler& h) { return h.handler == handler; });
    if (handler == nullptr || found == m_aHandlers.end())
        return kInvalidArgument;
    m_aHandlers.erase(found);
    handler->release();
    return kResultOk;
}

tresult PLUGIN_API EditorHost::registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds)
{
    if (handler == nullptr || milliseconds == 0)
        return kInvalidArgument;
    handler->addRef();
    const std::chrono::milliseconds interval(milliseconds);
    m_aTimers.push_back({handler, interval, Clock::now() + interval});
    return kResultOk;
}

tresult PLUGIN_API EditorHost::unregisterTimer(Linux::ITimerHandler* handler)
{
    const auto found =
        std::find_if(m_aTimers.begin(), m_aTimers.end(), [&](const Timer& t) { return t.handler == handler; });
    if (handler == nullptr || found == m_aTimers.end())
        return kInvalidArgument;
    m_aTimers.erase(found);
    handler->release();
    return kResultOk;
}

tresult PLUGIN_API EditorHost::queryInterface(const TUID iid, void** obj)
{
    if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        addRef();
        *obj = static_cast<IPlugFrame*>(this);
        return kResultOk;
    }
    if (m_bOfferRunLoop && FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
        addRef();
        *obj = static_cast<Linux::IRunLoop*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

void EditorHost::RunOnce(Clock::time_point limit)
{
    Clock::time_point wake = limit;
    for (const Timer& t : m_aTimers)
        wake = std::min(wake, t.due);
    std::vector<pollfd> fds;
    for (const Handler& h : m_aHandlers)
        fds.push_back({h.fd, POLLIN, 0});
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
    const int ready = poll(fds.data(), fds.size(), int(std::max<long long>(0, wait)));

    // Handlers may unregister themselves or others while called: look each one up again.
    if (ready > 0) {
        for (const pollfd& p : fds) {
            if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            for (const Handler& h : m_aHandlers) {
                if (h.fd == p.fd) {
                    Linux::IEventHandler* handler = h.handler;
                    handler->addRef();
                    handler->onFDIsSet(p.fd);
                    handler->release();
                    break;
                }
            }
        }
    }
    const Clock::time_point now = Clock::now();
    std::vector<Linux::ITimerHandler*> due;
    for (Timer& t : m_aTimers) {
        if (t.due <= now) {
            t.due = now + t.interval;
            due.push_back(t.handler);
        }
    }
    for (Linux::ITimerHandler* handler : due) {
        const bool registered = std::any_of(m_aTimers.begin(), m_aTimers.end(),
                                            [&](const Timer& t) { return t.handler == handler; });
        if (!registered)
            continue;
        handler->addRef();
        handler->onTimer();
        handler->release();
        ++m_iTimerCalls;
    }
}

bool EditorHost::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const Clock::time_point limit = Clock::now() + timeout;
    for (;;) {
        if (done && done())
            return true;
        if (Clock::now() >= limit)
            return false;
        RunOnce(limit);
    }
}

void EditorHost::RunFor(std::chrono::milliseconds duration)
{
    RunUntil(nullptr, duration);
}

} // namespace corvex::hosting
