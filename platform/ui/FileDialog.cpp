#include "platform/ui/FileDialog.h"

#include "platform/MessageBox.h"

#include <sys/stat.h>
#include <filesystem>

namespace {

platform::ui::FileDialogPresenter& installedPresenter() {
    static platform::ui::FileDialogPresenter presenter;
    return presenter;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A choice the user confirms replacing can only come back a bounded number of
// times; a presenter that keeps giving a refused name ends as Cancel.
constexpr int kMaxChoices = 100;

}  // namespace

namespace platform::ui {

FileDialogPresenter setFileDialogPresenter(FileDialogPresenter presenter) {
    FileDialogPresenter previous = std::move(installedPresenter());
    installedPresenter() = std::move(presenter);
    return previous;
}

std::vector<std::pair<std::string, std::string>> parseFileFilter(const std::string& filter) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : filter) {
        if (c == '|') {
            parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].empty() || !parts[i + 1].empty()) pairs.emplace_back(parts[i], parts[i + 1]);
    return pairs;
}

}  // namespace platform::ui

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defaultExtension, const char* fileName, DWORD flags,
                         const char* filter, CWnd*)
    : request_{openFileDialog != FALSE, fileName ? fileName : "", defaultExtension ? defaultExtension : "",
               platform::ui::parseFileFilter(filter ? filter : ""), flags} {}

INT_PTR CFileDialog::DoModal() {
    const platform::ui::FileDialogPresenter& presenter = installedPresenter();
    if (!presenter) return IDCANCEL;
    for (int i = 0; i < kMaxChoices; ++i) {
        std::optional<std::string> chosen = presenter(request_);
        if (!chosen || chosen->empty()) return IDCANCEL;
        std::string path = *chosen;
        if (!request_.defaultExtension.empty() && !std::filesystem::path(path).has_extension())
            path += "." + request_.defaultExtension;
        if (!request_.isOpen && (request_.flags & OFN_OVERWRITEPROMPT) && exists(path)) {
            const std::string question = path + " already exists.\nDo you want to replace it?";
            if (MessageBoxA(nullptr, question.c_str(), "Confirm Save As", MB_YESNO | MB_ICONWARNING) != IDYES) continue;
        }
        // The dialog answers with a full path, whatever folder the caller later works in.
        std::error_code ignored;
        std::filesystem::path full = std::filesystem::absolute(path, ignored);
        path_ = full.empty() ? std::move(path) : full.lexically_normal().string();
        return IDOK;
    }
    return IDCANCEL;
}
