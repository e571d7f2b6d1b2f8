// Layer 4, documents: documents, the document manager and its reactors.
#include "host/AcApDocManager.h"

#include "host/db/AcDbDatabase.h"

#include <algorithm>

ACRX_DEFINE_RXOBJECT_MEMBERS(AcApDocument, AcRxObject)
ACRX_DEFINE_RXOBJECT_MEMBERS(AcApDocManager, AcRxObject)

namespace {

// The classes are in the class dictionary from the time the host library is loaded.
[[maybe_unused]] const bool classesEntered = [] {
    acrxClassDictionary->atPut(AcApDocManager::desc());
    acrxClassDictionary->atPut(AcApDocument::desc());
    return true;
}();

}  // namespace

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
    // A string sent but not started counts as work in progress: a timer that asks
    // again before it has started must not send it a second time.
    if (!sentStrings_.empty()) return false;
    return std::all_of(data_.begin(), data_.end(), [](const auto& entry) { return entry.second->isIdle(); });
}

std::optional<std::string> AcApDocument::takeSentString() {
    if (sentStrings_.empty()) return std::nullopt;
    std::string text = std::move(sentStrings_.front());
    sentStrings_.pop_front();
    return text;
}

host::DocumentData* AcApDocument::data(const void* key) const {
    auto it = data_.find(key);
    return it == data_.end() ? nullptr : it->second.get();
}

host::DocumentData& AcApDocument::attachData(const void* key, std::unique_ptr<host::DocumentData> data) {
    std::unique_ptr<host::DocumentData>& slot = data_[key];
    slot = std::move(data);
    return *slot;
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
    if (!isOpen(document) || !text) return false;
    document->sentStrings_.emplace_back(text);
    if (bActivate) setCurDocument(document);
    return true;
}

bool AcApDocManager::setCurDocument(AcApDocument* document) {
    if (!isOpen(document)) return false;
    current_ = document;
    acdbHostApplicationServices()->setWorkingDatabase(document->database());
    return true;
}

namespace {

// The stack is the calling thread's, as the framework's module state is: a module's
// event handler on its own thread makes its resources current without touching the
// main thread's commands.
std::vector<HINSTANCE>& resourceHandles() {
    thread_local std::vector<HINSTANCE> handles;
    return handles;
}

}  // namespace

void AcApDocManager::pushResourceHandle(HINSTANCE handle) { resourceHandles().push_back(handle); }

void AcApDocManager::popResourceHandle() {
    if (resourceHandles().empty()) {
        ++unbalancedPops_;
        return;
    }
    resourceHandles().pop_back();
}

HINSTANCE AcApDocManager::curResourceHandle() const {
    return resourceHandles().empty() ? nullptr : resourceHandles().back();
}

std::size_t AcApDocManager::resourceHandleDepth() const { return resourceHandles().size(); }

std::string AcApDocManager::nextUntitledName() { return "Drawing" + std::to_string(++untitled_) + ".dwg"; }

AcApDocument* AcApDocManager::newDocument(const std::string& fileName, std::unique_ptr<AcDbDatabase> database) {
    std::string title = fileName.empty() ? nextUntitledName() : fileName.substr(fileName.find_last_of('/') + 1);
    documents_.push_back(std::make_unique<AcApDocument>(fileName, title));
    AcApDocument* document = documents_.back().get();
    document->setDatabase(database ? std::move(database) : std::make_unique<AcDbDatabase>());
    setCurDocument(document);
    tellReactors([document](AcApDocManagerReactor* r) { r->documentCreated(document); });
    return document;
}

bool AcApDocManager::closeDocument(AcApDocument* document) {
    if (!isOpen(document)) return false;
    tellReactors([document](AcApDocManagerReactor* r) { r->documentToBeDestroyed(document); });
    // A reactor may have closed documents itself (a module's message handler can).
    auto it = std::find_if(documents_.begin(), documents_.end(), [&](const auto& d) { return d.get() == document; });
    if (it == documents_.end()) return true;
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

bool AcApDocManager::isOpen(const AcApDocument* document) const {
    return std::any_of(documents_.begin(), documents_.end(), [&](const auto& d) { return d.get() == document; });
}

void AcApDocManager::addReactor(AcApDocManagerReactor* reactor) {
    if (reactor && std::find(reactors_.begin(), reactors_.end(), reactor) == reactors_.end())
        reactors_.push_back(reactor);
}

void AcApDocManager::removeReactor(AcApDocManagerReactor* reactor) { std::erase(reactors_, reactor); }

void AcApDocManager::tellReactors(const std::function<void(AcApDocManagerReactor*)>& notify) {
    std::vector<AcApDocManagerReactor*> reactors = reactors_;  // a reactor may remove itself or others
    for (AcApDocManagerReactor* reactor : reactors)
        if (std::find(reactors_.begin(), reactors_.end(), reactor) != reactors_.end()) notify(reactor);
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
