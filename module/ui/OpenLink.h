// Opening a link target: the desktop's opener first, then the browser registered
// for ".htm" under HKEY_CLASSES_ROOT.
#pragma once

#include <cstddef>
#include <string>

namespace tabro::ui {

// The fallback command line (the registered command, a blank, the target) must fit
// this many characters with its terminator.
constexpr std::size_t kLinkCommandLineLimit = 520;

// Opens `target` and returns the shell's result: above 32 on success. When the
// opener fails and the ".htm" class names a command, that command is started with
// the target in place of its "%1" and its result returned; a class or command that
// cannot be read returns the opener's result. A command line that would not fit
// kLinkCommandLineLimit is not started (nor cut): SE_ERR_OOM, since the line's
// buffer is what ran out.
int openLink(const std::string& target, int show);

}  // namespace tabro::ui
