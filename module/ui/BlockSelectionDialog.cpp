#include "module/ui/BlockSelectionDialog.h"

#include "module/base/ResourceScope.h"
#include "module/base/ResourceStrings.h"

namespace tabro::ui {

namespace {

BlockSelectionPresenter& installedPresenter() {
    static BlockSelectionPresenter presenter;
    return presenter;
}

}  // namespace

BlockSelectionPresenter setBlockSelectionPresenter(BlockSelectionPresenter presenter) {
    BlockSelectionPresenter previous = std::move(installedPresenter());
    installedPresenter() = std::move(presenter);
    return previous;
}

int BlockSelectionDialog::doModal() {
    endResult_ = 0;
    result_.clear();
    showAll_ = false;
    list_.deleteAllItems();
    onInitDialog();
    const BlockSelectionPresenter& presenter = installedPresenter();
    int shown = presenter ? presenter(*this) : terminalBlockSelection(*this);
    if (endResult_ == 0) endResult_ = shown == IDOK ? IDOK : IDCANCEL;
    return endResult_;
}

void BlockSelectionDialog::onInitDialog() {
    list_.insertColumn(resourceStrings().load(kTextBlockListHeading), 0);
    list_.setFullRowSelect(true);
    for (const BlockNameMap::Entry& e : blocks_)
        if (e.hasAttributes) list_.insertItem(list_.itemCount(), e.name);
    list_.setColumnWidth(list_.clientWidth());
    toolTip_.create();
    toolTip_.activate(true);
    toolTip_.addTool(&list_, resourceStrings().load(kTextBlockListToolTip));
}

PopupMenu BlockSelectionDialog::contextMenu() const {
    ResourceStrings& texts = resourceStrings();
    PopupMenu menu;
    menu.append(ID_SELECT_ALL, texts.load(kTextMenuSelectAll));
    menu.append(ID_INVERT_SELECTION, texts.load(kTextMenuInvertSelection));
    menu.append(ID_SELECT_NONE, texts.load(kTextMenuSelectNone));
    menu.append(ID_SELECT_ALL_BUT_FOCUSED, texts.load(kTextMenuSelectAllButFocused));
    menu.append(ID_SHOW_ALL, texts.load(kTextMenuShowAll));
    menu.append(ID_SHOW_ATTRIBUTED, texts.load(kTextMenuShowAttributed));
    menu.check(ID_SHOW_ALL, showAll_);
    menu.check(ID_SHOW_ATTRIBUTED, !showAll_);
    return menu;
}

void BlockSelectionDialog::onCommand(int commandId) {
    switch (commandId) {
    case ID_SELECT_ALL:
        for (int i = 0; i < list_.itemCount(); ++i) list_.setSelected(i, true);
        list_.setKeyboardFocus(true);
        break;
    case ID_INVERT_SELECTION:
        for (int i = 0; i < list_.itemCount(); ++i) list_.setSelected(i, !list_.isSelected(i));
        break;
    case ID_SELECT_NONE:
        for (int i = 0; i < list_.itemCount(); ++i) list_.setSelected(i, false);
        break;
    case ID_SELECT_ALL_BUT_FOCUSED:
        for (int i = 0; i < list_.itemCount(); ++i) list_.setSelected(i, i != list_.focusedItem());
        break;
    case ID_SHOW_ALL:
        showAllBlocks();
        break;
    case ID_SHOW_ATTRIBUTED:
        showAttributedBlocks();
        break;
    default:
        break;
    }
}

// A block already listed stays listed: choosing "show all" while everything is shown
// must not drop the blocks without attribute definitions again.
void BlockSelectionDialog::showAllBlocks() {
    for (const BlockNameMap::Entry& e : blocks_)
        if (list_.findItem(e.name) == ListControl::npos) list_.insertItem(list_.itemCount(), e.name);
    showAll_ = true;
}

void BlockSelectionDialog::showAttributedBlocks() {
    for (int i = 0; i < list_.itemCount();) {
        const BlockNameMap::Entry* e = blocks_.find(list_.itemText(i));
        if (e && !e->hasAttributes)
            list_.deleteItem(i);
        else
            ++i;
    }
    showAll_ = false;
}

void BlockSelectionDialog::onOK() {
    for (int i = list_.nextSelected(ListControl::npos); i != ListControl::npos; i = list_.nextSelected(i))
        result_.push_back(list_.itemText(i));
    endResult_ = IDOK;
}

void BlockSelectionDialog::onCancel() { endResult_ = IDCANCEL; }

}  // namespace tabro::ui

namespace tabro {

bool chooseBlockNamesInDialog(const BlockNameMap& blocks, std::vector<std::string>& names) {
    ResourceScope scope;
    ui::BlockSelectionDialog dialog(blocks);
    if (dialog.doModal() != ui::IDOK) return false;
    names.insert(names.end(), dialog.result().begin(), dialog.result().end());
    return true;
}

}  // namespace tabro
