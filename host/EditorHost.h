#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "pluginterfaces/gui/iplugview.h"

namespace corvex::hosting {

// The host side of an editor view on Linux: the IPlugFrame a view is given, which also offers
// the host's run loop (Linux::IRunLoop) the way Linux hosts do: event handlers on file
// descriptors and timers, all called from the thread that runs the loop. Reference counts are
// tracked but the owner keeps the object alive for longer than any view it is set on.
class EditorHost : public Steinberg::IPlugFrame, public Steinberg::Linux::IRunLoop {
public:
    // offerRunLoop false: queryInterface refuses IRunLoop, like a host without one.
    explicit EditorHost(bool offerRunLoop = true) : m_bOfferRunLoop(offerRunLoop) {}
    virtual ~EditorHost();
    EditorHost(const EditorHost&) = delete;
    EditorHost& operator=(const EditorHost&) = delete;

    // Runs the loop: waits on the registered descriptors until the next timer is due, calls the
    // handlers of ready descriptors and due timers; returns when `done` holds (checked once per
    // round) or after `timeout`. True if `done` held.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    void RunFor(std::chrono::milliseconds duration);

    std::size_t EventHandlerCount() const { return m_aHandlers.size(); }
    std::size_t TimerCount() const { return m_aTimers.size(); }
    int TimerCalls() const { return m_iTimerCalls; }
    // The last size a view asked for with resizeView, 0 x 0 if none.
    const Steinberg::ViewRect& RequestedSize() const { return m_requestedSize; }
    Steinberg::uint32 References() const { return m_iRefs; }

    Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView* view, Steinberg::ViewRect* newSize) SMTG_OVERRIDE;

    Steinberg::tresult PLUGIN_API registerEventHandler(Steinberg::Linux::IEventHandler* handler,
                                                       Steinberg::Linux::FileDescriptor fd) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API unregisterEventHandler(Steinberg::Linux::IEventHandler* handler) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API registerTimer(Steinberg::Linux::ITimerHandler* handler,
                                                Steinberg::Linux::TimerInterval milliseconds) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API unregisterTimer(Steinberg::Linux::ITimerHandler* handler) SMTG_OVERRIDE;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return ++m_iRefs; }
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE { return --m_iRefs; }

private:
    using Clock = std::chrono::steady_clock;
    struct Handler {
        Steinberg::Linux::IEventHandler* handler;
        Steinberg::Linux::FileDescriptor fd;
    };
    struct Timer {
        Steinberg::Linux::ITimerHandler* handler;
        std::chrono::milliseconds interval;
        Clock::time_point due;
    };

    void RunOnce(Clock::time_point limit);

    bool m_bOfferRunLoop;
    Steinberg::uint32 m_iRefs = 0;
    std::vector<Handler> m_aHandlers;
    std::vector<Timer> m_aTimers;
    int m_iTimerCalls = 0;
    Steinberg::ViewRect m_requestedSize{0, 0, 0, 0};
};

} // namespace corvex::hosting
