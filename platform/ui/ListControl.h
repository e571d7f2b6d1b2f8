// A report-style list control with one text per item, per-item selection and one
// item with the keyboard focus: the part of the platform's list view that the
// module's dialogs use, kept as plain state so that tests can drive a dialog
// without a screen.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::ui {

// Owned by the dialog that holds it; main thread only.
class ListControl {
public:
    static constexpr int npos = -1;

    void insertColumn(std::string heading, int width);
    const std::string& columnHeading() const noexcept { return heading_; }
    int columnWidth() const noexcept { return columnWidth_; }
    void setColumnWidth(int width) noexcept { columnWidth_ = width; }
    int clientWidth() const noexcept { return clientWidth_; }
    void setClientWidth(int width) noexcept { clientWidth_ = width; }
    void setFullRowSelect(bool on) noexcept { fullRowSelect_ = on; }
    bool isFullRowSelect() const noexcept { return fullRowSelect_; }

    int itemCount() const noexcept { return static_cast<int>(items_.size()); }
    // Inserts before `index` (clamped to the end); returns the new item's index.
    int insertItem(int index, std::string text);
    // False for an index out of range. The focus follows its item; deleting the
    // focused item leaves no item focused.
    bool deleteItem(int index);
    void deleteAllItems();
    // Empty text for an index out of range.
    const std::string& itemText(int index) const;

    bool isSelected(int index) const;
    void setSelected(int index, bool selected);
    int focusedItem() const noexcept { return focused_; }
    // npos removes the focus from every item.
    void setFocusedItem(int index);
    // The first selected item after `after` (npos to start at the top), or npos.
    int nextSelected(int after) const;

    // The item whose whole text equals `text` without regard to case, searching from
    // the first item; npos when none does.
    int findItem(std::string_view text) const;

    // Whether the list holds the dialog's keyboard focus.
    bool hasKeyboardFocus() const noexcept { return hasKeyboardFocus_; }
    void setKeyboardFocus(bool on) noexcept { hasKeyboardFocus_ = on; }

private:
    struct Item {
        std::string text;
        bool selected = false;
    };
    std::vector<Item> items_;
    int focused_ = npos;
    std::string heading_;
    int columnWidth_ = 0;
    int clientWidth_ = 240;
    bool fullRowSelect_ = false;
    bool hasKeyboardFocus_ = false;
};

}  // namespace platform::ui
