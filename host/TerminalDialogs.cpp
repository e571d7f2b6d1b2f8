#include "host/TerminalDialogs.h"

#include "host/AcUiDialogs.h"
#include "host/CommandInput.h"
#include "host/Editor.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"
#include "platform/ui/SpinButton.h"
#include "platform/ui/TabControl.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace host {

namespace {

std::string lowered(std::string_view text) {
    std::string s(text);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A caption as the user reads it: the mnemonic marks gone ("&&" is a plain "&").
std::string shownText(std::string_view caption) {
    std::string s;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size()) ++i;
        s += caption[i];
    }
    return s;
}

// What a typed name is compared with: lower case, without the trailing dots or colon
// a caption may carry.
std::string matchKey(std::string_view caption) {
    std::string s = lowered(std::string(platform::trim(shownText(caption))));
    while (!s.empty() && (s.back() == '.' || s.back() == ':')) s.pop_back();
    return s;
}

// A whole positive number of at most 4 digits, or 0.
int wholeNumber(std::string_view text) {
    if (text.empty() || text.size() > 4) return 0;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    return std::atoi(std::string(text).c_str());
}

std::optional<std::string> readLine(const char* prompt) {
    InputLine line = readInputLine(prompt);
    if (line.kind != InputLine::Kind::Text) return std::nullopt;
    return line.text;
}

enum class Kind { Label, CheckBox, Radio, PushButton, Edit, Link, Other };

Kind kindOf(CWnd* control) {
    if (auto* button = dynamic_cast<CButton*>(control)) {
        switch (button->GetStyle() & BS_TYPEMASK) {
        case BS_AUTOCHECKBOX:
            return Kind::CheckBox;
        case BS_AUTORADIOBUTTON:
            return Kind::Radio;
        default:
            return Kind::PushButton;
        }
    }
    if (dynamic_cast<CEdit*>(control)) return Kind::Edit;
    if (dynamic_cast<CStatic*>(control)) return control->GetStyle() & SS_NOTIFY ? Kind::Link : Kind::Label;
    return Kind::Other;
}

bool isNumbered(Kind kind) { return kind != Kind::Label && kind != Kind::Other; }

// What the dialog shows now: the tabs, the showing page's controls, then the dialog's own.
struct View {
    CTabCtrl* tabs = nullptr;
    std::vector<CWnd*> controls;  // in tab order, labels included
    std::vector<CWnd*> numbered;  // number n is numbered[n - 1]
    std::vector<CSpinButtonCtrl*> spins;
};

View viewOf(CDialog& dialog) {
    View view;
    std::vector<CWnd*> own;
    for (CWnd* child : dialog.children()) {
        if (auto* tabs = dynamic_cast<CTabCtrl*>(child)) {
            view.tabs = tabs;
        } else if (dynamic_cast<CDialog*>(child)) {
            // a page: shown only while its tab is
        } else {
            own.push_back(child);
        }
    }
    auto add = [&view](CWnd* control) {
        if (auto* spin = dynamic_cast<CSpinButtonCtrl*>(control)) {
            view.spins.push_back(spin);
            return;
        }
        view.controls.push_back(control);
        if (isNumbered(kindOf(control))) view.numbered.push_back(control);
    };
    if (auto* tabs = dynamic_cast<CAdUiTab*>(view.tabs))
        if (CAdUiTabChildDialog* page = tabs->page(tabs->GetActiveTab()))
            for (CWnd* control : page->children()) add(control);
    for (CWnd* control : own) add(control);
    return view;
}

CSpinButtonCtrl* spinOf(const View& view, CWnd* edit) {
    for (CSpinButtonCtrl* spin : view.spins)
        if (spin->GetBuddy() == edit) return spin;
    return nullptr;
}

// The marks stand for what a window draws: [x] a checked box, (o) the chosen radio
// button, <...> a push button, [...] an edit box's text, '>' the focus.
void show(CDialog& dialog) {
    const View view = viewOf(dialog);
    acutPrintf("\n%s", shownText(dialog.windowText()).c_str());
    if (view.tabs && view.tabs->GetItemCount() > 0) {
        acutPrintf("\n  Tabs:");
        for (int i = 0; i < view.tabs->GetItemCount(); ++i) {
            const std::string title = shownText(view.tabs->itemText(i));
            if (i == view.tabs->GetCurSel())
                acutPrintf(" [%s]", title.c_str());
            else
                acutPrintf("  %s ", title.c_str());
        }
    }
    const HWND focus = GetFocus();
    int number = 0;
    for (CWnd* control : view.controls) {
        const Kind kind = kindOf(control);
        const std::string text = shownText(control->windowText());
        if (!isNumbered(kind)) {
            if (!text.empty()) acutPrintf("\n        %s", text.c_str());
            continue;
        }
        acutPrintf("\n %c%4d ", control->m_hWnd == focus ? '>' : ' ', ++number);
        switch (kind) {
        case Kind::CheckBox: {
            const int check = static_cast<CButton*>(control)->GetCheck();
            acutPrintf("[%c] %s", check == BST_UNCHECKED ? ' ' : check == BST_CHECKED ? 'x' : '-', text.c_str());
            break;
        }
        case Kind::Radio:
            acutPrintf("(%c) %s", static_cast<CButton*>(control)->GetCheck() == BST_CHECKED ? 'o' : ' ', text.c_str());
            break;
        case Kind::PushButton:
            acutPrintf("<%s>", text.c_str());
            break;
        case Kind::Edit:
            acutPrintf("[%s]%s", text.c_str(), spinOf(view, control) ? " (Up/Down)" : "");
            break;
        case Kind::Link:
            acutPrintf("_%s_ (link)", text.c_str());
            break;
        default:
            break;
        }
        if (!control->IsWindowEnabled()) acutPrintf("  (disabled)");
    }
}

// The numbered control whose caption the typed text names: exactly, or as the start
// of one caption only.
CWnd* controlNamed(const View& view, const std::string& typed) {
    const std::string key = matchKey(typed);
    if (key.empty()) return nullptr;
    CWnd* byPrefix = nullptr;
    int prefixMatches = 0;
    for (CWnd* control : view.numbered) {
        if (kindOf(control) == Kind::Edit) continue;
        const std::string caption = matchKey(control->windowText());
        if (caption == key) return control;
        if (caption.compare(0, key.size(), key) == 0) {
            byPrefix = control;
            ++prefixMatches;
        }
    }
    return prefixMatches == 1 ? byPrefix : nullptr;
}

CButton* buttonWithId(CDialog& dialog, UINT id) { return dynamic_cast<CButton*>(dialog.GetDlgItem(id)); }

void say(const char* format, const std::string& argument) {
    acutPrintf("\n");
    acutPrintf(format, argument.c_str());
}

// What a click on the control does. False (after a word) when it cannot be clicked.
bool click(CWnd* control) {
    if (!control->IsWindowEnabled()) {
        const std::string name = shownText(control->windowText());
        say("%s is disabled.", name.empty() ? std::string("The control") : name);
        return false;
    }
    switch (kindOf(control)) {
    case Kind::Edit:
        control->SetFocus();
        return true;
    case Kind::Link:
        control->SetFocus();
        control->sendCommand(STN_CLICKED);
        return true;
    default:
        return static_cast<CButton*>(control)->click();
    }
}

void pressOk(CDialog& dialog) {
    if (CButton* ok = buttonWithId(dialog, IDOK))
        click(ok);
    else
        dialog.OnOK();
}

void pressCancel(CDialog& dialog) {
    if (CButton* cancel = buttonWithId(dialog, IDCANCEL); cancel && cancel->IsWindowEnabled())
        cancel->click();
    else
        dialog.OnCancel();
}

// Enter presses the default push button, as in a window.
void pressDefault(CDialog& dialog, const View& view) {
    for (CWnd* control : view.numbered)
        if ((control->GetStyle() & BS_TYPEMASK) == BS_DEFPUSHBUTTON && kindOf(control) == Kind::PushButton) {
            click(control);
            return;
        }
    dialog.OnOK();
}

void help(CDialog& dialog) {
    const HWND focus = GetFocus();
    CWnd* focused = CWnd::FromHandle(focus);
    HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, focused ? static_cast<int>(focused->GetDlgCtrlID()) : 0, focus, 0,
                  POINT{0, 0}};
    // The focused control and its parents first, as the help message travels; the
    // dialog itself in the end when the focus lies outside it.
    for (CWnd* w = focused; w; w = w->GetParent()) {
        if (w->OnHelpInfo(&info)) return;
        if (w == &dialog) return;
    }
    dialog.OnHelpInfo(&info);
}

bool selectTab(const View& view, const std::string& which) {
    if (!view.tabs) return false;
    int index = wholeNumber(which) - 1;
    if (index < 0) {
        const std::string key = matchKey(which);
        for (int i = 0; i < view.tabs->GetItemCount() && index < 0 && !key.empty(); ++i)
            if (matchKey(view.tabs->itemText(i)).compare(0, key.size(), key) == 0) index = i;
    }
    if (index < 0 || index >= view.tabs->GetItemCount()) return false;
    view.tabs->selectByUser(index);
    return true;
}

bool step(const View& view, int number, int delta) {
    if (number < 1 || number > static_cast<int>(view.numbered.size())) return false;
    CWnd* edit = view.numbered[number - 1];
    CSpinButtonCtrl* spin = spinOf(view, edit);
    if (!spin) return false;
    if (!spin->IsWindowEnabled()) {
        say("%s", "The spin is disabled.");
        return true;
    }
    edit->SetFocus();
    spin->stepArrow(delta);
    return true;
}

// Runs one typed command; false when it named nothing the dialog has.
bool perform(CDialog& dialog, const std::string& typed) {
    const View view = viewOf(dialog);
    const std::string line = std::string(platform::trim(typed));
    const std::string word = lowered(line.substr(0, line.find(' ')));
    const std::string rest =
        line.find(' ') == std::string::npos ? "" : std::string(platform::trim(line.substr(line.find(' ') + 1)));
    if (line.empty()) {
        pressDefault(dialog, view);
        return true;
    }
    if (word == "ok" && rest.empty()) {
        pressOk(dialog);
        return true;
    }
    if (word == "cancel" && rest.empty()) {
        pressCancel(dialog);
        return true;
    }
    if ((word == "f1" || word == "help") && rest.empty()) {
        help(dialog);
        return true;
    }
    if (word == "tab" && !rest.empty()) return selectTab(view, rest);
    if ((word == "up" || word == "down") && !rest.empty()) return step(view, wholeNumber(rest), word == "up" ? 1 : -1);
    if (const int n = wholeNumber(word); n > 0) {
        if (n > static_cast<int>(view.numbered.size())) return false;
        CWnd* control = view.numbered[n - 1];
        // "N" alone clicks; "N text" types into an edit box.
        if (line.size() == word.size()) {
            click(control);
            return true;
        }
        if (kindOf(control) != Kind::Edit) return false;
        if (!control->IsWindowEnabled()) {
            say("%s", "The box is disabled.");
            return true;
        }
        control->SetFocus();
        control->SetWindowTextA(line.substr(line.find(' ') + 1).c_str());
        return true;
    }
    if (CWnd* control = controlNamed(view, line)) {
        click(control);
        return true;
    }
    return false;
}

// While a dialog runs its boxes answer from the input, as the dialog's own controls
// do: a script holds the answer on the line after the action that shows the box.
int dialogMessageBox(const platform::MessageBoxRequest& request) {
    if (platform::messageBoxButtons(request.type).size() == 1)
        return platform::TerminalMessageBoxPresenter(stdout, nullptr)(request);
    return platform::TerminalMessageBoxPresenter(stdout, [] { return readLine(""); })(request);
}

class DialogMessageBoxes {
public:
    DialogMessageBoxes() : previous_(platform::setMessageBoxPresenter(dialogMessageBox)) {}
    ~DialogMessageBoxes() { platform::setMessageBoxPresenter(std::move(previous_)); }
    DialogMessageBoxes(const DialogMessageBoxes&) = delete;
    DialogMessageBoxes& operator=(const DialogMessageBoxes&) = delete;

private:
    platform::MessageBoxPresenter previous_;
};

constexpr const char* kDialogPrompt =
    "\nNumber clicks, number and text types, Up/Down number steps, Tab name, OK (Enter), Cancel, F1: ";

}  // namespace

INT_PTR presentDialog(CDialog& dialog) {
    DialogMessageBoxes boxes;
    bool isChanged = true;
    while (!dialog.isEnded()) {
        if (isChanged) show(dialog);
        std::optional<std::string> line = readLine(kDialogPrompt);
        if (!line) {
            dialog.OnCancel();
            break;
        }
        isChanged = perform(dialog, *line);
        if (!isChanged) say("Unknown choice \"%s\".", *line);
    }
    return dialog.endResult();
}

std::optional<std::string> presentFileDialog(const platform::ui::FileDialogRequest& request) {
    std::string filters;
    for (const auto& [description, patterns] : request.filters) filters += (filters.empty() ? "" : "; ") + description;
    std::string prompt = request.isOpen ? "\nOpen file" : "\nSave file as";
    if (!filters.empty()) prompt += " [" + filters + "]";
    if (!request.initialName.empty()) prompt += " <" + request.initialName + ">";
    prompt += ": ";
    std::optional<std::string> line = readLine(prompt.c_str());
    if (!line) return std::nullopt;
    std::string name = std::string(platform::trim(*line));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    if (name.empty()) {
        if (request.initialName.empty()) return std::nullopt;
        return request.initialName;
    }
    return name;
}

int presentPopupMenu(const platform::ui::PopupMenuRequest& request) {
    const std::vector<platform::ui::PopupMenu::Item>& items = request.menu->items();
    acutPrintf("\nMenu:");
    for (std::size_t i = 0; i < items.size(); ++i)
        acutPrintf("\n %4zu %s %s", i + 1, items[i].isChecked ? "[v]" : "   ", shownText(items[i].text).c_str());
    for (;;) {
        std::optional<std::string> line = readLine("\nMenu item number or name (Enter closes the menu): ");
        if (!line) return 0;
        const std::string typed = std::string(platform::trim(*line));
        if (typed.empty()) return 0;
        if (const int n = wholeNumber(typed); n > 0 && n <= static_cast<int>(items.size()))
            return items[n - 1].commandId;
        const std::string key = matchKey(typed);
        int chosen = 0, matches = 0;
        for (const platform::ui::PopupMenu::Item& item : items)
            if (matchKey(item.text).compare(0, key.size(), key) == 0) {
                chosen = item.commandId;
                ++matches;
            }
        if (matches == 1) return chosen;
        say("Unknown choice \"%s\".", typed);
    }
}

TerminalDialogPresenters::TerminalDialogPresenters()
    : previousDialog_(platform::ui::setDialogPresenter(presentDialog)),
      previousFileDialog_(platform::ui::setFileDialogPresenter(presentFileDialog)),
      previousMenu_(platform::ui::setPopupMenuPresenter(presentPopupMenu)) {}

TerminalDialogPresenters::~TerminalDialogPresenters() {
    platform::ui::setPopupMenuPresenter(std::move(previousMenu_));
    platform::ui::setFileDialogPresenter(std::move(previousFileDialog_));
    platform::ui::setDialogPresenter(std::move(previousDialog_));
}

}  // namespace host
