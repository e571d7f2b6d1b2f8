// A list of texts that keeps its strings' storage when cleared, so that the rows of
// a long export are composed without allocating once the first rows have been built.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tabro {

class TextList {
public:
    TextList() = default;
    TextList(std::initializer_list<std::string_view> texts) {
        for (std::string_view t : texts) push(t);
    }

    void clear() noexcept { count_ = 0; }
    void push(std::string_view text) {
        if (count_ < items_.size())
            items_[count_].assign(text);
        else
            items_.emplace_back(text);
        ++count_;
    }
    void set(std::size_t i, std::string_view text) { items_[i].assign(text); }
    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    const std::string& operator[](std::size_t i) const { return items_[i]; }
    std::span<const std::string> view() const noexcept { return {items_.data(), count_}; }
    auto begin() const noexcept { return view().begin(); }
    auto end() const noexcept { return view().end(); }
    std::vector<std::string> toVector() const { return {begin(), end()}; }

private:
    std::vector<std::string> items_;
    std::size_t count_ = 0;
};

}  // namespace tabro
