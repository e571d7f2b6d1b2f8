#include "platform/ui/ListControl.h"

#include "platform/Text.h"

#include <algorithm>

namespace platform::ui {

namespace {
const std::string emptyText;
}

void ListControl::insertColumn(std::string heading, int width) {
    heading_ = std::move(heading);
    columnWidth_ = width;
}

int ListControl::insertItem(int index, std::string text) {
    if (index < 0 || index > itemCount()) index = itemCount();
    items_.insert(items_.begin() + index, Item{std::move(text), false});
    if (focused_ >= index) ++focused_;
    return index;
}

bool ListControl::deleteItem(int index) {
    if (index < 0 || index >= itemCount()) return false;
    items_.erase(items_.begin() + index);
    if (focused_ == index)
        focused_ = npos;
    else if (focused_ > index)
        --focused_;
    return true;
}

void ListControl::deleteAllItems() {
    items_.clear();
    focused_ = npos;
}

const std::string& ListControl::itemText(int index) const {
    if (index < 0 || index >= itemCount()) return emptyText;
    return items_[index].text;
}

bool ListControl::isSelected(int index) const { return index >= 0 && index < itemCount() && items_[index].selected; }

void ListControl::setSelected(int index, bool selected) {
    if (index >= 0 && index < itemCount()) items_[index].selected = selected;
}

void ListControl::setFocusedItem(int index) { focused_ = (index >= 0 && index < itemCount()) ? index : npos; }

int ListControl::nextSelected(int after) const {
    for (int i = std::max(after + 1, 0); i < itemCount(); ++i)
        if (items_[i].selected) return i;
    return npos;
}

int ListControl::findItem(std::string_view text) const {
    const std::string key(text);
    for (int i = 0; i < itemCount(); ++i)
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(items_[i].text.c_str()),
                     reinterpret_cast<const unsigned char*>(key.c_str())) == 0)
            return i;
    return npos;
}

}  // namespace platform::ui
