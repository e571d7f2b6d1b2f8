// Layer 2, command input: the script and descriptor sources.
#include "host/InputSource.h"

#include "host/CommandOutput.h"
#include "platform/MessageQueue.h"
#include "platform/Text.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>

namespace host {
namespace {

constexpr std::size_t kMaxLineBytes = 4096;

}  // namespace

ScriptInput::ScriptInput(std::vector<std::string> lines) : lines_(std::move(lines)) {}

ScriptInput ScriptInput::fromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read script file " + path);
    std::vector<std::string> lines;
    std::string line;
    std::size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": NUL byte in script line");
        if (line.size() > kMaxLineBytes)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": script line longer than 4096 bytes");
        lines.push_back(line);
    }
    if (in.bad()) throw std::runtime_error("cannot read script file " + path);
    return ScriptInput(std::move(lines));
}

InputLine ScriptInput::next(const std::function<bool()>& interrupted) {
    platform::MessageQueue& queue = platform::MessageQueue::main();
    if (queue.isOwnerThread()) queue.pumpPending();
    if (interrupted && interrupted()) return InputLine{InputLine::Kind::Interrupted, {}, false};
    if (position_ >= lines_.size()) return InputLine{InputLine::Kind::End, {}, false};
    std::string line = lines_[position_++];
    if (platform::trim(line, " \t\r") == "^C") return InputLine{InputLine::Kind::Cancel, {}, true};
    return InputLine{InputLine::Kind::Text, line, true};
}

DescriptorInput::DescriptorInput(int fd, bool interactive, int cancelFd)
    : fd_(fd), interactive_(interactive), cancelFd_(cancelFd) {}

bool DescriptorInput::takeBufferedLine(std::string& line) {
    std::size_t newline = buffer_.find('\n');
    if (newline == std::string::npos) {
        if (buffer_.size() < kMaxLineBytes && !(eof_ && !buffer_.empty())) return false;
        newline = std::min(buffer_.size(), kMaxLineBytes);
        line = buffer_.substr(0, newline);
        buffer_.erase(0, newline);
    } else {
        line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

std::optional<std::string> DescriptorInput::readLineNow() {
    std::string line;
    while (!takeBufferedLine(line)) {
        if (eof_) return std::nullopt;
        char chunk[4096];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof_ = true;
            continue;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    if (interactive_) noteCursorAtLineStart();
    return line;
}

InputLine DescriptorInput::next(const std::function<bool()>& interrupted) {
    platform::MessageQueue& queue = platform::MessageQueue::main();
    for (;;) {
        std::string line;
        if (takeBufferedLine(line)) {
            if (interactive_) noteCursorAtLineStart();
            if (platform::trim(line, " \t\r") == "^C") return InputLine{InputLine::Kind::Cancel, {}, !interactive_};
            return InputLine{InputLine::Kind::Text, line, !interactive_};
        }
        if (eof_) return InputLine{InputLine::Kind::End, {}, false};
        if (queue.isOwnerThread()) queue.pumpPending();
        if (interrupted && interrupted()) return InputLine{InputLine::Kind::Interrupted, {}, false};

        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = pollfd{fd_, POLLIN, 0};
        fds[count++] = pollfd{queue.wakeFd(), POLLIN, 0};
        if (cancelFd_ >= 0) fds[count++] = pollfd{cancelFd_, POLLIN, 0};
        int timeout = -1;
        if (auto due = queue.untilNextTimer()) timeout = static_cast<int>(std::min<long long>(due->count(), 60000));
        int ready = ::poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) {
            eof_ = true;
            continue;
        }
        if (ready <= 0) continue;
        if (cancelFd_ >= 0 && (fds[2].revents & POLLIN)) {
            char drain[64];
            while (::read(cancelFd_, drain, sizeof drain) > 0) {
            }
            buffer_.clear();
            if (interactive_) noteCursorAtLineStart();
            return InputLine{InputLine::Kind::Cancel, {}, false};
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char chunk[4096];
            ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0)
                eof_ = true;
            else
                buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
}

}  // namespace host
