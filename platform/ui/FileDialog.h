// Open and save file dialogs: the file name the user picks comes from a presenter
// the program installs (the terminal in cadhost, an answer list in tests). The
// dialog adds the default extension and, for saving, asks before replacing a file.
#pragma once

#include "platform/ui/Dialog.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

namespace platform::ui {

struct FileDialogRequest {
    bool isOpen;              // open (true) or save
    std::string initialName;  // the file name the dialog starts with
    std::string defaultExtension;
    // Filter pairs (description, patterns) from "Text|*.txt|All|*.*||".
    std::vector<std::pair<std::string, std::string>> filters;
    DWORD flags;
};

// The chosen path, or no value for Cancel.
using FileDialogPresenter = std::function<std::optional<std::string>(const FileDialogRequest&)>;
// Installs the presenter and returns the previous one; without one, every file
// dialog is cancelled.
FileDialogPresenter setFileDialogPresenter(FileDialogPresenter presenter);

// "Text|*.txt|All|*.*||" as pairs; a trailing description without patterns is dropped.
std::vector<std::pair<std::string, std::string>> parseFileFilter(const std::string& filter);

}  // namespace platform::ui

// Owned by the code that runs it; main thread only.
class CFileDialog {
public:
    CFileDialog(BOOL openFileDialog, const char* defaultExtension = nullptr, const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parent = nullptr);

    // IDOK with the chosen path, or IDCANCEL. A name without an extension gets the
    // default one. Saving over an existing file with OFN_OVERWRITEPROMPT asks
    // (Yes/No, warning); No goes back to the choice.
    INT_PTR DoModal();
    const std::string& GetPathName() const noexcept { return path_; }
    const platform::ui::FileDialogRequest& request() const noexcept { return request_; }

private:
    platform::ui::FileDialogRequest request_;
    std::string path_;
};
