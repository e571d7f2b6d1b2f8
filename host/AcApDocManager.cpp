// Documents and the document manager.
#include "host/AcApDocManager.h"

#include "host/AcRxDynamicLinker.h"
#include "host/AutoLisp.h"
#include "host/db/AcDbDatabase.h"

#include <algorithm>

ACRX_DEFINE_RXOBJECT_MEMBERS(AcApDocument, AcRxObject)
ACRX_DEFINE_RXOBJECT_MEMBERS(AcApDocManager, AcRxObject)

AcApDocument::AcApDocument(std::string fileName, std::string title)
    : fileName_(std::move(fileName)), title_(std::move(title)) {}

AcApDocument::~AcApDocument() = default;

void AcApDocument::setDatabase(std::unique_ptr<AcDbDatabase> database) {
    bool working = acdbHostApplicationServices()->workingDatabase() == database_.get();
    database_ = std::move(database);
    if (working || acDocManager->curDocument() == this)
        acdbHostApplicationServices()->setWorkingDatabase(database_.get());
}

bool AcApDocument::isQuiescent() const {
    // Input already queued counts as work in progress: a timer that asks again before
    // the queued string has started must not queue it a second time.
    // A command waiting on purpose (DELAY) leaves the document idle for that time.
    int busyCommands = commandDepth_ - (idleWait_ ? 1 : 0);
    return busyCommands == 0 && lispDepth_ == 0 && activeInput_.empty() && sentStrings_.empty() &&
           queuedExpressions_.empty();
}

AcApDocManager* acDocManagerPtr() {
    static AcApDocManager* manager = new AcApDocManager;
    return manager;
}

AcApDocManager::~AcApDocManager() = default;

std::vector<AcApDocument*> AcApDocManager::documents() const {
    std::vector<AcApDocument*> result;
    for (const auto& d : documents_) result.push_back(d.get());
    return result;
}

bool AcApDocManager::sendStringToExecute(AcApDocument* document, const char* text, bool bActivate, bool, bool) {
    auto it = std::find_if(documents_.begin(), documents_.end(), [&](const auto& d) { return d.get() == document; });
    if (it == documents_.end() || !text) return false;
    document->sentStrings().emplace_back(text);
    if (bActivate) setCurDocument(document);
    return true;
}

bool AcApDocManager::setCurDocument(AcApDocument* document) {
    auto it = std::find_if(documents_.begin(), documents_.end(), [&](const auto& d) { return d.get() == document; });
    if (it == documents_.end()) return false;
    current_ = document;
    acdbHostApplicationServices()->setWorkingDatabase(document->database());
    return true;
}

void AcApDocManager::pushResourceHandle(HINSTANCE handle) { resourceHandles_.push_back(handle); }

void AcApDocManager::popResourceHandle() {
    if (resourceHandles_.empty()) {
        ++unbalancedPops_;
        return;
    }
    resourceHandles_.pop_back();
}

HINSTANCE AcApDocManager::curResourceHandle() const {
    return resourceHandles_.empty() ? nullptr : resourceHandles_.back();
}

std::string AcApDocManager::nextUntitledName() { return "Drawing" + std::to_string(++untitled_) + ".dwg"; }

AcApDocument* AcApDocManager::newDocument(const std::string& fileName, std::unique_ptr<AcDbDatabase> database) {
    std::string title = fileName.empty() ? nextUntitledName() : fileName.substr(fileName.find_last_of('/') + 1);
    documents_.push_back(std::make_unique<AcApDocument>(fileName, title));
    AcApDocument* document = documents_.back().get();
    document->setDatabase(database ? std::move(database) : std::make_unique<AcDbDatabase>());
    setCurDocument(document);
    host::CurrentDocumentScope scope(document);
    acrxDynamicLinker->broadcast(AcRx::kLoadDwgMsg);
    return document;
}

bool AcApDocManager::closeDocument(AcApDocument* document) {
    auto it = std::find_if(documents_.begin(), documents_.end(), [&](const auto& d) { return d.get() == document; });
    if (it == documents_.end()) return false;
    {
        host::CurrentDocumentScope scope(document);
        acrxDynamicLinker->broadcast(AcRx::kUnloadDwgMsg);
    }
    std::size_t index = static_cast<std::size_t>(it - documents_.begin());
    if (acdbHostApplicationServices()->workingDatabase() == document->database())
        acdbHostApplicationServices()->setWorkingDatabase(nullptr);
    documents_.erase(documents_.begin() + static_cast<std::ptrdiff_t>(index));
    if (current_ == document) {
        current_ = nullptr;
        if (!documents_.empty()) setCurDocument(documents_[index == 0 ? 0 : index - 1].get());
    }
    return true;
}

void AcApDocManager::closeAll() {
    while (!documents_.empty()) closeDocument(documents_.back().get());
}

namespace host {

CurrentDocumentScope::CurrentDocumentScope(AcApDocument* document) : previous_(acDocManager->curDocument()) {
    acDocManager->setCurDocument(document);
}

CurrentDocumentScope::~CurrentDocumentScope() {
    // The previous document may have been closed meanwhile; then the current stays.
    if (previous_) acDocManager->setCurDocument(previous_);
}

}  // namespace host
