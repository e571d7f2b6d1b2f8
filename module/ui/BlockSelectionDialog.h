// The block selection dialog of TABRO Export: lists block names (at first only the
// blocks with attribute definitions), lets the user select any of them through the
// list and its context menu, and hands the selected names back on OK.
#pragma once

#include "module/drawing/BlockNameMap.h"
#include "platform/ui/ListControl.h"
#include "platform/ui/PopupMenu.h"
#include "platform/ui/ToolTip.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tabro::ui {

using platform::ui::ListControl;
using platform::ui::PopupMenu;
using platform::ui::ToolTip;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Owned by the command that runs it; main thread only. The map must outlive it.
class BlockSelectionDialog {
public:
    // Context menu commands.
    enum Command : int {
        ID_SELECT_ALL = 32771,
        ID_INVERT_SELECTION,
        ID_SELECT_NONE,
        ID_SELECT_ALL_BUT_FOCUSED,
        ID_SHOW_ALL,
        ID_SHOW_ATTRIBUTED,
    };

    explicit BlockSelectionDialog(const BlockNameMap& blocks) : blocks_(blocks) {}

    // Runs the dialog modally through the installed presenter: IDOK or IDCANCEL.
    int doModal();

    // What the window would do on its messages; presenters and tests call these.
    void onInitDialog();
    // The context menu for a right click on the list, check mark on the current view.
    PopupMenu contextMenu() const;
    // A menu command; unknown ids are ignored.
    void onCommand(int commandId);
    // Collects the selected names in list order and ends the dialog with IDOK.
    void onOK();
    void onCancel();
    // Every message the window pre-translates goes to the tooltip first.
    void preTranslateMessage() { toolTip_.relayEvent(); }

    ListControl& list() noexcept { return list_; }
    const ListControl& list() const noexcept { return list_; }
    const ToolTip& toolTip() const noexcept { return toolTip_; }
    bool isShowingAll() const noexcept { return showAll_; }
    // The names chosen on OK, in list order; empty before OK.
    const std::vector<std::string>& result() const noexcept { return result_; }
    // 0 while the dialog runs.
    int endResult() const noexcept { return endResult_; }

private:
    void showAllBlocks();
    void showAttributedBlocks();

    ListControl list_;
    std::vector<std::string> result_;
    ToolTip toolTip_;
    const BlockNameMap& blocks_;
    bool showAll_ = false;
    int endResult_ = 0;
};

// Shows a dialog after onInitDialog and lets the user work it until it ends; returns
// the end result (IDCANCEL when the presenter gives up without ending it).
using BlockSelectionPresenter = std::function<int(BlockSelectionDialog&)>;

// Installs the presenter used by doModal; returns the previous one. Without one,
// the dialog is shown on the host's command line (terminalBlockSelection).
BlockSelectionPresenter setBlockSelectionPresenter(BlockSelectionPresenter presenter);

// Installs a presenter for the lifetime of the scope (tests).
class ScopedBlockSelectionPresenter {
public:
    explicit ScopedBlockSelectionPresenter(BlockSelectionPresenter p)
        : previous_(setBlockSelectionPresenter(std::move(p))) {}
    ~ScopedBlockSelectionPresenter() { setBlockSelectionPresenter(std::move(previous_)); }
    ScopedBlockSelectionPresenter(const ScopedBlockSelectionPresenter&) = delete;
    ScopedBlockSelectionPresenter& operator=(const ScopedBlockSelectionPresenter&) = delete;

private:
    BlockSelectionPresenter previous_;
};

// The command-line presentation: prints the list and the context menu and reads
// commands from the host's input until OK or Cancel.
int terminalBlockSelection(BlockSelectionDialog& dialog);

// Whether `format` is a printf format whose conversions are exactly `conversions`
// (one letter each, in order), besides "%%". Only plain conversions count: a flag,
// width or precision makes it no such format. The terminal hands a resource text to
// printf only when it passes, so that a text edited wrongly shows as it stands
// instead of reading arguments that were never passed.
bool isFormatWith(std::string_view format, std::string_view conversions);

}  // namespace tabro::ui

namespace tabro {

// Runs the block selection dialog in a resource scope; on OK appends the selected
// names (list order) to `names` and returns true. Cancel returns false and leaves
// `names` alone. What Export is given as its dialog.
bool chooseBlockNamesInDialog(const BlockNameMap& blocks, std::vector<std::string>& names);

}  // namespace tabro
