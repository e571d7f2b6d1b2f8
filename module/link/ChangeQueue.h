// The queue of cell edits that the live link hands from its thread to the
// command that imports them: appended at the tail, taken from the tail (newest
// first).
#pragma once

#include "module/link/ChangedCell.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tabro {

// Shared by exactly two threads: the link thread appends; the host's main thread
// counts and takes. Every access holds the one lock, so a record is never seen
// half linked. Nodes come from a pool that grows by kBlockNodes at a time and is
// freed whole whenever the list becomes empty, so an idle link holds no memory.
class ChangeQueue {
public:
    static constexpr std::size_t kBlockNodes = 10;

    ChangeQueue() = default;
    ChangeQueue(const ChangeQueue&) = delete;
    ChangeQueue& operator=(const ChangeQueue&) = delete;
    ~ChangeQueue() = default;

    // Adds the record as the newest. Throws std::bad_alloc when a new block cannot
    // be had; the queue is then unchanged.
    void append(ChangedCell record);
    // Removes and returns the newest record; no value when the queue is empty.
    std::optional<ChangedCell> takeNewest();
    // Drops every record (and the pool with them).
    void clear() noexcept;

    std::size_t count() const;
    // Nodes the pool holds, linked or free (a multiple of kBlockNodes).
    std::size_t poolNodes() const;

private:
    struct Node {
        ChangedCell cell;
        Node* prev = nullptr;
        Node* next = nullptr;
    };

    Node* allocateNode();         // lock held
    void releasePool() noexcept;  // lock held; the list must be empty

    mutable std::mutex lock_;
    Node* head_ = nullptr;  // oldest
    Node* tail_ = nullptr;  // newest
    std::size_t count_ = 0;
    Node* free_ = nullptr;  // singly linked through next
    std::vector<std::unique_ptr<Node[]>> blocks_;
};

// The module's one queue: empty when the module is mapped, freed when it is
// unmapped, and kept across Disconnect and Connect.
ChangeQueue& changeQueue();

}  // namespace tabro
