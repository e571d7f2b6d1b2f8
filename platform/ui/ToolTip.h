// A tooltip: tools (a control, or an area of a window named by an id) with their
// texts, and the relay of the owner's messages that lets it notice hovering.
// Presenters ask it for a tool's text.
#pragma once

#include "platform/ui/Gdi.h"

#include <map>
#include <string>
#include <utility>

namespace platform::ui {

// Owned by the window that uses it; main thread only.
class ToolTip {
public:
    void create() noexcept { isCreated_ = true; }
    bool isCreated() const noexcept { return isCreated_; }
    void activate(bool on) noexcept { isActive_ = on; }
    bool isActive() const noexcept { return isCreated_ && isActive_; }
    // A tool is a window (`owner`, id 0) or an area `rect` of it with its own id;
    // adding a tool again replaces it.
    void addTool(const void* owner, std::string text, RECT rect = {}, unsigned id = 0) {
        tools_[{owner, id}] = Tool{std::move(text), rect};
    }
    // False when there is no such tool.
    bool updateTipText(std::string text, const void* owner, unsigned id = 0) {
        auto it = tools_.find({owner, id});
        if (it == tools_.end()) return false;
        it->second.text = std::move(text);
        return true;
    }
    // Empty when the tooltip is not active or there is no such tool.
    std::string textFor(const void* owner, unsigned id = 0) const {
        if (!isActive()) return {};
        auto it = tools_.find({owner, id});
        return it == tools_.end() ? std::string() : it->second.text;
    }
    // The tool's area; empty for a whole-window tool or none.
    RECT toolRect(const void* owner, unsigned id = 0) const {
        auto it = tools_.find({owner, id});
        return it == tools_.end() ? RECT{} : it->second.rect;
    }
    void relayEvent() noexcept { ++relayed_; }
    unsigned relayedCount() const noexcept { return relayed_; }

private:
    struct Tool {
        std::string text;
        RECT rect;
    };
    std::map<std::pair<const void*, unsigned>, Tool> tools_;
    bool isCreated_ = false;
    bool isActive_ = true;  // a created tooltip is active until deactivated
    unsigned relayed_ = 0;
};

}  // namespace platform::ui
