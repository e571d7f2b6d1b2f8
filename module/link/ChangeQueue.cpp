// The change queue's list and node pool.
#include "module/link/ChangeQueue.h"

#include <utility>

namespace tabro {

ChangeQueue::Node* ChangeQueue::allocateNode() {
    if (!free_) {
        // Reserve the slot first so that a failure leaves the pool as it was.
        blocks_.reserve(blocks_.size() + 1);
        auto block = std::make_unique<Node[]>(kBlockNodes);
        for (std::size_t i = 0; i < kBlockNodes; ++i) {
            block[i].next = free_;
            free_ = &block[i];
        }
        blocks_.push_back(std::move(block));
    }
    Node* node = free_;
    free_ = node->next;
    node->prev = node->next = nullptr;
    return node;
}

void ChangeQueue::releasePool() noexcept {
    free_ = nullptr;
    blocks_.clear();
}

void ChangeQueue::append(ChangedCell record) {
    std::lock_guard guard(lock_);
    Node* node = allocateNode();
    node->cell = std::move(record);
    node->prev = tail_;
    if (tail_)
        tail_->next = node;
    else
        head_ = node;
    tail_ = node;
    ++count_;
}

std::optional<ChangedCell> ChangeQueue::takeNewest() {
    std::lock_guard guard(lock_);
    Node* node = tail_;
    if (!node) return std::nullopt;
    tail_ = node->prev;
    if (tail_)
        tail_->next = nullptr;
    else
        head_ = nullptr;
    --count_;
    std::optional<ChangedCell> result(std::move(node->cell));
    node->cell = ChangedCell{};
    if (count_ == 0) {
        releasePool();
    } else {
        node->prev = nullptr;
        node->next = free_;
        free_ = node;
    }
    return result;
}

void ChangeQueue::clear() noexcept {
    std::lock_guard guard(lock_);
    head_ = tail_ = nullptr;
    count_ = 0;
    releasePool();
}

std::size_t ChangeQueue::count() const {
    std::lock_guard guard(lock_);
    return count_;
}

std::size_t ChangeQueue::poolNodes() const {
    std::lock_guard guard(lock_);
    return blocks_.size() * kBlockNodes;
}

ChangeQueue& changeQueue() {
    static ChangeQueue queue;
    return queue;
}

}  // namespace tabro
