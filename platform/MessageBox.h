// Message boxes: the platform call with its flag and answer values, shown through a
// presenter the program installs (cadhost prints boxes on the terminal, tests record
// them and answer as told).
#pragma once

#include "platform/WinTypes.h"

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Buttons (low nibble).
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
// Icons.
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONHAND = MB_ICONERROR;
constexpr UINT MB_ICONSTOP = MB_ICONERROR;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONEXCLAMATION = MB_ICONWARNING;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_ICONASTERISK = MB_ICONINFORMATION;
constexpr UINT MB_ICONMASK = 0xF0;
// Default button.
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFMASK = 0xF00;
// Modality (accepted; every box here is modal to its caller).
constexpr UINT MB_APPLMODAL = 0x0000;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr UINT MB_TASKMODAL = 0x2000;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a modal box and returns the answer. Without an installed presenter the box
// goes to stderr and the default button is taken. Safe to call from any thread;
// boxes are shown one at a time, as modal boxes are seen by a user.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

namespace platform {

struct MessageBoxRequest {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// Decides a box's answer. Called with the box lock held: a presenter must not show
// another box itself.
using MessageBoxPresenter = std::function<int(const MessageBoxRequest&)>;

// Installs a presenter (an empty one restores the stderr default) and returns the
// previous one.
MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter);

// The answers the buttons of `type` offer, in button order, and the one a user gets
// by pressing Enter (MB_DEFBUTTONn; a default past the last button means the first).
std::vector<int> messageBoxButtons(UINT type);
int defaultMessageBoxAnswer(UINT type);
// Whether a box of `type` reports a failure: the error icon, or a box with only OK
// and the warning icon (the framework's form of an error message). Questions and
// information are not failures, nor a dialog's prompt (promptBox below).
bool isFailureBox(UINT type) noexcept;
// How many failure boxes this process has shown (cadhost's exit status tells a
// script's caller that a command failed).
std::size_t failureBoxCount() noexcept;
// Shows a box as MessageBoxA does, never counted as a failure: the framework's
// prompt to correct a field of a dialog that is still open. The dialog waits for
// the field, and the command goes on once it is right.
int promptBox(HWND owner, const char* text, const char* caption, UINT type);

// "OK", "Cancel", "Yes", ... for an answer; "?" for an unknown one.
const char* messageBoxAnswerName(int answer);

// The terminal presenter: prints caption, icon word and text to `out`, then, when
// `readAnswer` is set, reads answers from it until one names a button ("y", "No",
// "ok", a button's number, or an empty line for the default). Without `readAnswer`
// (input is a script or a pipe) or when it reports end of input (nullopt), the
// default button is taken and printed. Used by cadhost.
class TerminalMessageBoxPresenter {
public:
    using AnswerReader = std::function<std::optional<std::string>()>;
    TerminalMessageBoxPresenter(std::FILE* out, AnswerReader readAnswer);
    int operator()(const MessageBoxRequest& request) const;

private:
    std::FILE* out_;
    AnswerReader readAnswer_;
};

// Records every box and answers as told; installs itself for its lifetime and puts
// the previous presenter back when destroyed. For tests. Thread-safe.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    // Answers for the next boxes, in order; once used up, each box gets its default.
    void answerNext(int answer);
    std::vector<MessageBoxRequest> boxes() const;
    std::size_t count() const;
    // The last box; throws std::logic_error when none was shown.
    MessageBoxRequest last() const;
    void clear();

private:
    int present(const MessageBoxRequest& request);

    mutable std::mutex mutex_;
    std::vector<MessageBoxRequest> boxes_;
    std::deque<int> answers_;
    MessageBoxPresenter previous_;
};

}  // namespace platform
