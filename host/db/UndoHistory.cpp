#include "host/db/UndoHistory.h"

#include "host/db/DrawingStore.h"
#include "host/db/EntityCodec.h"
#include "host/db/ObjectAccess.h"

#include <algorithm>
#include <utility>

namespace hostdb {

namespace {
// What CAD hosts call a group that is no single command.
constexpr const char* kImplicitName = "GROUP";

// Whether two states of an object that holds changes save alike: the same values
// patched into the same places.
bool savesAlike(const DrawingStore& store, const ObjectStub& stub, const AcDbObject& a, const AcDbObject& b) {
    std::vector<Patch> pa, pb;
    try {
        collectPatches(store, stub, *ObjectAccess::data(&a), pa);
        collectPatches(store, stub, *ObjectAccess::data(&b), pb);
    } catch (const UnwritableValue&) {
        return false;
    }
    return std::equal(pa.begin(), pa.end(), pb.begin(), pb.end(), [](const Patch& x, const Patch& y) {
        return x.begin == y.begin && x.end == y.end && x.text == y.text;
    });
}
}  // namespace

UndoHistory::~UndoHistory() = default;

void UndoHistory::beginGroup(std::string name) {
    endImplicit();
    if (!open_.empty()) commit(open_.back());
    Group& group = open_.emplace_back();
    group.name = std::move(name);
}

void UndoHistory::endGroup() {
    if (open_.empty()) return;
    commit(open_.back());
    open_.pop_back();
}

void UndoHistory::setRecording(bool on) {
    if (!on) dropAll();
    isRecording_ = on;
}

UndoHistory::Group& UndoHistory::current() {
    if (open_.empty()) {
        Group& group = open_.emplace_back();
        group.name = kImplicitName;
        group.isImplicit = true;
    }
    return open_.back();
}

void UndoHistory::record(ObjectStub& stub) {
    ObjectState state{&stub, nullptr, stub.changed, stub.erased};
    // An object that holds changes already is the one case that costs a copy: the
    // command is about to change the values it holds.
    if (stub.changed && stub.live) state.live = ObjectAccess::copyOf(*stub.live);
    current().objects.push_back(std::move(state));
    stub.undoRecorded = true;
}

void UndoHistory::recordHeader(int id) {
    Group& group = current();
    if (group.headerMask >> id & 1u) return;
    group.headerMask |= 1u << id;
    const HeaderVar& var = store_.header_[id];
    group.headers.push_back({id, var.dirty, var.value});
}

void UndoHistory::commit(Group& group) {
    for (ObjectState& o : group.objects) o.stub->undoRecorded = false;
    group.headerMask = 0;
    // Objects opened for write and left as they were, as an import leaves every
    // reference whose row was not edited, are no change; nor is one that held
    // changes and was given the same values again.
    std::erase_if(group.objects, [this](const ObjectState& o) {
        const ObjectStub& stub = *o.stub;
        if (o.isErased != stub.erased || o.isChanged != stub.changed) return false;
        if (!o.isChanged) return true;
        return o.live && stub.live && savesAlike(store_, stub, *o.live, *stub.live);
    });
    std::erase_if(group.headers, [this](const HeaderState& h) {
        const HeaderVar& var = store_.header_[h.id];
        return var.value == h.value && var.dirty == h.isDirty;
    });
    if (group.isEmpty()) return;
    Group& done = done_.emplace_back();
    done.name = group.name;
    done.objects = std::exchange(group.objects, {});
    // An import opens every reference for write and may change a few: the capacity it kept
    // for the others is freed (shrink_to_fit).
    if (done.objects.capacity() > 2 * done.objects.size()) done.objects.shrink_to_fit();
    done.headers = std::exchange(group.headers, {});
    // A new change ends what could be redone: it was made on the drawing as undone.
    undone_.clear();
}

void UndoHistory::endImplicit() {
    if (open_.empty() || !open_.back().isImplicit) return;
    commit(open_.back());
    open_.pop_back();
}

std::size_t UndoHistory::undoCount() const {
    const bool implicitPending = !open_.empty() && open_.back().isImplicit && !open_.back().isEmpty();
    return done_.size() + (implicitPending ? 1 : 0);
}

Acad::ErrorStatus UndoHistory::checkQuiet() const {
    // Swapping the state of an object someone holds open would change it under them.
    if (store_.openCount() > 0) return Acad::eInvalidOpenState;
    for (const Group& group : open_)
        if (!group.isEmpty()) return Acad::eNotApplicable;
    return Acad::eOk;
}

void UndoHistory::swapStates(Group& group) {
    // With nothing open an object has a live object exactly while it holds changes,
    // so the three fields are its whole state.
    for (ObjectState& o : group.objects) {
        ObjectStub& stub = *o.stub;
        const bool wasChanged = stub.changed;
        AcDbObject* live = std::exchange(stub.live, o.live.release());
        o.live.reset(live);
        stub.changed = o.isChanged;
        o.isChanged = wasChanged;
        const bool wasErased = stub.erased;
        stub.erased = o.isErased;
        o.isErased = wasErased;
        if (stub.changed && !wasChanged) store_.changed_.push_back(&stub);
    }
    for (HeaderState& h : group.headers) {
        HeaderVar& var = store_.header_[h.id];
        std::swap(var.value, h.value);
        std::swap(var.dirty, h.isDirty);
        store_.headerIntKnown_ &= ~(1u << h.id);
    }
}

Acad::ErrorStatus UndoHistory::undo(std::size_t count, std::vector<std::string>& names) {
    names.clear();
    endImplicit();
    if (Acad::ErrorStatus es = checkQuiet(); es != Acad::eOk) return es;
    std::vector<Group> step;
    for (; count > 0 && !done_.empty(); --count) {
        step.push_back(std::move(done_.back()));
        done_.pop_back();
        swapStates(step.back());
        names.push_back(step.back().name);
    }
    if (step.empty()) return Acad::eOk;
    std::erase_if(store_.changed_, [](const ObjectStub* s) { return !s->changed; });
    undone_.push_back(std::move(step));
    store_.setModified(true);
    return Acad::eOk;
}

Acad::ErrorStatus UndoHistory::redo(std::vector<std::string>& names) {
    names.clear();
    endImplicit();
    if (Acad::ErrorStatus es = checkQuiet(); es != Acad::eOk) return es;
    if (undone_.empty()) return Acad::eOk;
    std::vector<Group> step = std::move(undone_.back());
    undone_.pop_back();
    for (auto it = step.rbegin(); it != step.rend(); ++it) {
        swapStates(*it);
        names.push_back(it->name);
        done_.push_back(std::move(*it));
    }
    std::erase_if(store_.changed_, [](const ObjectStub* s) { return !s->changed; });
    store_.setModified(true);
    return Acad::eOk;
}

void UndoHistory::dropAll() {
    for (Group& group : open_) {
        for (ObjectState& o : group.objects) o.stub->undoRecorded = false;
        group.objects.clear();
        group.headers.clear();
        group.headerMask = 0;
    }
    std::erase_if(open_, [](const Group& g) { return g.isImplicit; });
    done_.clear();
    undone_.clear();
}

}  // namespace hostdb
