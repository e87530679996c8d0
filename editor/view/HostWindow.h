#pragma once

#include <functional>

namespace corvex {

// What the host's side of the window offers the editor, whatever the plug-in format: its run
// loop on the user-interface thread (the window system's events and the editor timer) and a way
// to ask for a new size. The content scale comes in through CEditorBase::setContentScale, and a
// key the editor does not use goes back as CEditorBase::onKey's false answer.
class CHostWindow {
public:
    virtual ~CHostWindow() = default;

    // Calls onReady on the user-interface thread whenever `descriptor` may have input; false
    // when the host cannot watch descriptors.
    virtual bool watchDescriptor(int descriptor, std::function<void()> onReady) = 0;
    // Calls onTick on the user-interface thread every `milliseconds`; false when the host cannot.
    virtual bool startTimer(int milliseconds, std::function<void()> onTick) = 0;
    // Ends both: no callback arrives afterwards.
    virtual void stopWatching() = 0;
    // Asks the host to give the editor's window `width` x `height` device pixels.
    virtual void requestSize(int width, int height) = 0;
};

} // namespace corvex
