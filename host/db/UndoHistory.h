// Inside the database: what each command changed, kept so that the host's U, UNDO and
// REDO can put the drawing back. A group holds, for every object the command opened
// for write, the state the object had before (its values when it had been changed
// since read, whether it was changed, whether erased) and the header variables it
// set. Undoing a group swaps those states with the database's, so that the group
// then holds what the command made of them and the same swap redoes it.
#pragma once

#include "host/db/AcDbObject.h"
#include "host/db/AcadErrorStatus.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hostdb {

class DrawingStore;
struct ObjectStub;

// Owned by its drawing's store; main thread only.
class UndoHistory {
public:
    explicit UndoHistory(DrawingStore& store) : store_(store) {}
    ~UndoHistory();
    UndoHistory(const UndoHistory&) = delete;
    UndoHistory& operator=(const UndoHistory&) = delete;

    // One command's changes make one group, named after the command ("TABRO"). A group
    // begun while another is open (a command run while another waits on purpose)
    // stands on its own: what the outer one changed so far becomes a group of its
    // own first, so that groups follow each other in the order their changes were
    // made. A group that changed nothing is dropped when it ends: it cannot be undone
    // and leaves what can be redone as it was. A change made while no group is open
    // (no command runs) starts a group named "GROUP" that ends with the next begin,
    // undo or redo.
    void beginGroup(std::string name);
    void endGroup();
    int openGroupCount() const { return static_cast<int>(open_.size()); }

    // Off, nothing is recorded and what was kept is dropped (a database only read or
    // written in batch needs none).
    bool isRecording() const { return isRecording_; }
    void setRecording(bool on);

    // The state of the object before its first change in the open group: the database
    // calls it as the object is opened for write, and before a reference's erase
    // erases its attributes. Only the first call in a group records.
    void record(ObjectStub& stub);
    // The same for a header variable (a HeaderId) before it is set.
    void recordHeader(int id);

    // Groups that can be undone, and redo steps (each what one undo reverted).
    std::size_t undoCount() const;
    std::size_t redoCount() const { return undone_.size(); }

    // Reverts the last `count` groups (all there are when fewer) as one redo step, and
    // gives their names, latest first; the drawing is marked modified. Refused, with
    // nothing changed, while an object is open (eInvalidOpenState) or while an open
    // group has recorded changes (eNotApplicable): undoing is a command of its own.
    // Nothing to undo is eOk with no names.
    [[nodiscard]] Acad::ErrorStatus undo(std::size_t count, std::vector<std::string>& names);
    // Brings back what the last undo reverted, with the same refusals; names in the
    // order the groups were made.
    [[nodiscard]] Acad::ErrorStatus redo(std::vector<std::string>& names);

private:
    struct ObjectState {
        ObjectStub* stub;
        std::unique_ptr<AcDbObject> live;  // its values while it holds changes, else null
        bool isChanged;
        bool isErased;
    };
    struct HeaderState {
        int id;
        bool isDirty;
        std::string value;
    };
    struct Group {
        std::string name;
        std::vector<ObjectState> objects;
        std::vector<HeaderState> headers;
        std::uint32_t headerMask = 0;  // one bit per HeaderId recorded
        bool isImplicit = false;       // begun by a change outside any group
        bool isEmpty() const { return objects.empty() && headers.empty(); }
    };

    Group& current();
    // Moves what the group recorded into the history (when it changed anything) and
    // leaves it empty and open.
    void commit(Group& group);
    void endImplicit();
    Acad::ErrorStatus checkQuiet() const;
    void swapStates(Group& group);
    void dropAll();

    DrawingStore& store_;
    bool isRecording_ = true;
    std::vector<Group> open_;                 // innermost last
    std::vector<Group> done_;                 // oldest first
    std::vector<std::vector<Group>> undone_;  // redo steps, latest last; each latest group first
};

}  // namespace hostdb
