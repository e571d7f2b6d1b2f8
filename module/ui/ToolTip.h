// A tooltip: tools (controls) with their texts, and the relay of the dialog's
// messages that lets it notice hovering. Presenters ask it for a control's text.
#pragma once

#include <map>
#include <string>

namespace tabro::ui {

class ToolTip {
public:
    void create() noexcept { isCreated_ = true; }
    void activate(bool on) noexcept { isActive_ = on; }
    bool isActive() const noexcept { return isCreated_ && isActive_; }
    void addTool(const void* control, std::string text) { tools_[control] = std::move(text); }
    // Empty when the tooltip is not active or the control is not a tool.
    std::string textFor(const void* control) const {
        if (!isActive()) return {};
        auto it = tools_.find(control);
        return it == tools_.end() ? std::string() : it->second;
    }
    void relayEvent() noexcept { ++relayed_; }
    unsigned relayedCount() const noexcept { return relayed_; }

private:
    std::map<const void*, std::string> tools_;
    bool isCreated_ = false;
    bool isActive_ = false;
    unsigned relayed_ = 0;
};

}  // namespace tabro::ui
