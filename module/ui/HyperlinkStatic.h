// A static text drawn as a link: coloured and underlined, sized to its text, with a
// tooltip showing the target. A click opens the target; a target that cannot be
// opened beeps and says why in a message box.
#pragma once

#include "platform/ui/Gdi.h"
#include "platform/ui/ToolTip.h"
#include "platform/ui/Window.h"

#include <string>

// Owned by its dialog page; main thread only.
class HyperlinkStatic : public CStatic {
public:
    static constexpr unsigned kToolId = 1;

    HyperlinkStatic();
    ~HyperlinkStatic() override;

    // Stores the target; when the window exists, resizes it to its text (when
    // adjustToFit) and shows the new target in the tooltip.
    void setUrl(std::string url);
    const std::string& url() const noexcept { return url_; }
    // Stores the state; when the window exists, repaints it.
    void setVisited(bool visited);
    bool isVisited() const noexcept { return visited_; }
    bool isHovering() const noexcept { return hovering_; }
    // Both take effect at subclassing.
    void setUnderline(bool underline) noexcept { underline_ = underline; }
    void setAdjustToFit(bool adjust) noexcept { adjustToFit_ = adjust; }

    COLORREF linkColour() const noexcept { return linkColour_; }
    COLORREF visitedColour() const noexcept { return visitedColour_; }
    COLORREF hoverColour() const noexcept { return hoverColour_; }
    const CFont& font() const noexcept { return font_; }
    HCURSOR cursor() const noexcept { return cursor_; }
    const platform::ui::ToolTip& toolTip() const noexcept { return toolTip_; }

    void PreSubclassWindow() override;
    // STN_CLICKED: opens the target.
    BOOL OnCommandReflect(UINT code) override;
    HBRUSH CtlColorReflect(CDC* dc, UINT ctlColor) override;
    void OnMouseMove(UINT flags, POINT point) override;
    BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message) override;
    BOOL PreTranslateMessage(MSG* message) override;

protected:
    // Opens the target (openLink); the shell's result, above 32 on success.
    virtual int openTarget(const std::string& url, int show);

private:
    void positionWindow();
    void setDefaultCursor();
    void repaintNow();
    void reportError(int result);

    COLORREF linkColour_ = RGB(0, 0, 238);
    COLORREF visitedColour_ = RGB(85, 26, 139);
    COLORREF hoverColour_;
    bool hovering_ = false;
    bool visited_ = false;
    bool underline_ = true;
    bool adjustToFit_ = true;
    std::string url_;
    CFont font_;
    HCURSOR cursor_ = nullptr;
    platform::ui::ToolTip toolTip_;
};
