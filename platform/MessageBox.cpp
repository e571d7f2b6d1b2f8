// Message boxes through the installed presenter; the terminal presenter and the
// recorder that tests use.
#include "platform/MessageBox.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <stdexcept>
#include <utility>

namespace platform {
namespace {

// One lock for the presenter slot and for showing: boxes are modal, so a second
// thread's box waits until the first is answered.
std::recursive_mutex& boxMutex() {
    static std::recursive_mutex m;
    return m;
}

MessageBoxPresenter& presenterSlot() {
    static MessageBoxPresenter presenter;
    return presenter;
}

const char* iconWord(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
        return "Error";
    case MB_ICONQUESTION:
        return "Question";
    case MB_ICONWARNING:
        return "Warning";
    case MB_ICONINFORMATION:
        return "Information";
    default:
        return nullptr;
    }
}

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void printBox(std::FILE* out, const MessageBoxRequest& request) {
    const char* icon = iconWord(request.type);
    std::fprintf(out, "\n[%s]%s%s%s\n%s\n", request.caption.c_str(), icon ? " (" : "", icon ? icon : "",
                 icon ? ")" : "", request.text.c_str());
}

}  // namespace

MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter) {
    std::lock_guard lock(boxMutex());
    return std::exchange(presenterSlot(), std::move(presenter));
}

std::vector<int> messageBoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

int defaultMessageBoxAnswer(UINT type) {
    std::vector<int> buttons = messageBoxButtons(type);
    std::size_t index = (type & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

const char* messageBoxAnswerName(int answer) {
    switch (answer) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDABORT:
        return "Abort";
    case IDRETRY:
        return "Retry";
    case IDIGNORE:
        return "Ignore";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return "?";
    }
}

TerminalMessageBoxPresenter::TerminalMessageBoxPresenter(std::FILE* out, AnswerReader readAnswer)
    : out_(out), readAnswer_(std::move(readAnswer)) {}

int TerminalMessageBoxPresenter::operator()(const MessageBoxRequest& request) const {
    printBox(out_, request);
    const std::vector<int> buttons = messageBoxButtons(request.type);
    const int fallback = defaultMessageBoxAnswer(request.type);
    if (!readAnswer_) {
        std::fprintf(out_, "[%s]\n", messageBoxAnswerName(fallback));
        std::fflush(out_);
        return fallback;
    }
    for (;;) {
        std::fprintf(out_, "Answer");
        for (std::size_t i = 0; i < buttons.size(); ++i)
            std::fprintf(out_, "%s%zu=%s", i == 0 ? " (" : ", ", i + 1, messageBoxAnswerName(buttons[i]));
        std::fprintf(out_, "; Enter=%s): ", messageBoxAnswerName(fallback));
        std::fflush(out_);
        std::optional<std::string> line = readAnswer_();
        if (!line) {
            std::fprintf(out_, "[%s]\n", messageBoxAnswerName(fallback));
            return fallback;
        }
        std::string answer = lowered(std::string(trim(*line, " \t\r\n")));
        if (answer.empty()) return fallback;
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            std::string name = lowered(messageBoxAnswerName(buttons[i]));
            bool byNumber = answer == std::to_string(i + 1);
            bool byName = name.compare(0, answer.size(), answer) == 0;
            if (byNumber || byName) return buttons[i];
        }
    }
}

MessageBoxRecorder::MessageBoxRecorder() {
    previous_ = setMessageBoxPresenter([this](const MessageBoxRequest& r) { return present(r); });
}

MessageBoxRecorder::~MessageBoxRecorder() { setMessageBoxPresenter(std::move(previous_)); }

void MessageBoxRecorder::answerNext(int answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

std::vector<MessageBoxRequest> MessageBoxRecorder::boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::size_t MessageBoxRecorder::count() const {
    std::lock_guard lock(mutex_);
    return boxes_.size();
}

MessageBoxRequest MessageBoxRecorder::last() const {
    std::lock_guard lock(mutex_);
    if (boxes_.empty()) throw std::logic_error("no message box was shown");
    return boxes_.back();
}

void MessageBoxRecorder::clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
    answers_.clear();
}

int MessageBoxRecorder::present(const MessageBoxRequest& request) {
    std::lock_guard lock(mutex_);
    boxes_.push_back(request);
    if (answers_.empty()) return defaultMessageBoxAnswer(request.type);
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

}  // namespace platform

namespace platform {
namespace {
std::atomic<std::size_t> failureBoxes{0};
}  // namespace

bool isFailureBox(UINT type) noexcept {
    const UINT icon = type & MB_ICONMASK;
    return icon == MB_ICONERROR || (icon == MB_ICONWARNING && (type & MB_TYPEMASK) == MB_OK);
}

std::size_t failureBoxCount() noexcept { return failureBoxes.load(std::memory_order_relaxed); }

}  // namespace platform

namespace {

int showBox(HWND owner, const char* text, const char* caption, UINT type) {
    using namespace platform;
    MessageBoxRequest request{owner, text ? text : "", caption ? caption : "Error", type};
    std::lock_guard lock(boxMutex());
    if (MessageBoxPresenter& presenter = presenterSlot()) return presenter(request);
    printBox(stderr, request);
    int answer = defaultMessageBoxAnswer(type);
    std::fprintf(stderr, "[%s]\n", messageBoxAnswerName(answer));
    return answer;
}

}  // namespace

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    if (platform::isFailureBox(type)) platform::failureBoxes.fetch_add(1, std::memory_order_relaxed);
    return showBox(owner, text, caption, type);
}

int platform::promptBox(HWND owner, const char* text, const char* caption, UINT type) {
    return showBox(owner, text, caption, type);
}
