// Layer 4, documents: what a layer above the documents keeps in each one (its queued
// command input, its AutoLISP functions), so that a document can hold it and ask it
// whether work is pending without knowing those layers.
#pragma once

namespace host {

// Owned by its document and destroyed with it, after the document's reactors were
// told it goes. Main thread only.
class DocumentData {
public:
    virtual ~DocumentData() = default;
    // False while the keeping layer has work running or waiting in the document.
    virtual bool isIdle() const = 0;
};

}  // namespace host
