// An owner-drawn push button with a downward arrow right of its text: the button
// that drops a menu.
#pragma once

#include "platform/ui/Window.h"

// Owned by its dialog; main thread only. Give it BS_OWNERDRAW so it is drawn here.
class DropDownButton : public CButton {
public:
    void DrawItem(LPDRAWITEMSTRUCT item) override;
};
