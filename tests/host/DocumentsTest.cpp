// Documents: the reactors told as drawings open and close, and the data the layers
// above keep in a document, which decides whether it is quiescent.
#include "tests/host/HostTestSupport.h"

namespace {

int probesDestroyed = 0;

// Stands for a layer above the documents keeping its state in each one.
struct Probe final : host::DocumentData {
    bool busy = false;
    ~Probe() override { ++probesDestroyed; }
    bool isIdle() const override { return !busy; }
};

struct Recorder : AcApDocManagerReactor {
    std::vector<std::string> events;
    bool removeWhenClosing = false;
    void documentCreated(AcApDocument* document) override {
        events.push_back(std::string("created ") + document->docTitle() +
                         (acDocManager->curDocument() == document ? ", current" : ""));
    }
    void documentToBeDestroyed(AcApDocument* document) override {
        events.push_back(std::string("closing ") + document->docTitle() +
                         (acDocManager->isOpen(document) ? ", open" : "") +
                         (host::documentData<Probe>(*document).busy ? ", data kept" : ""));
        if (removeWhenClosing) acDocManager->removeReactor(this);
    }
};

class DocumentsTest : public HostTest {};

TEST_F(DocumentsTest, ReactorsAreToldAsDrawingsOpenAndCloseInTheOrderAdded) {
    Recorder first;
    Recorder second;
    first.removeWhenClosing = true;
    acDocManager->addReactor(&first);
    acDocManager->addReactor(&second);
    acDocManager->addReactor(&first);
    AcApDocument* opened = acDocManager->newDocument();
    std::string title = opened->docTitle();
    host::documentData<Probe>(*opened).busy = true;
    int destroyedBefore = probesDestroyed;
    ASSERT_TRUE(acDocManager->closeDocument(opened));
    EXPECT_EQ(probesDestroyed, destroyedBefore + 1) << "the data goes with its document";
    acDocManager->newDocument();
    acDocManager->removeReactor(&second);
    acDocManager->newDocument();

    std::vector<std::string> toldFirst{"created " + title + ", current", "closing " + title + ", open, data kept"};
    EXPECT_EQ(first.events, toldFirst) << "added twice, told once; removed itself while told";
    ASSERT_EQ(second.events.size(), 3u);
    EXPECT_EQ(second.events[1], toldFirst[1]) << "a reactor removing itself skips no other";
    EXPECT_NE(second.events[2].find("created "), std::string::npos);
}

TEST_F(DocumentsTest, ADocumentIsQuiescentWhileNoStringWaitsAndEveryLayersDataIsIdle) {
    EXPECT_TRUE(document_->isQuiescent());
    Probe& probe = host::documentData<Probe>(*document_);
    EXPECT_EQ(&host::documentData<Probe>(*document_), &probe) << "made once per document";
    probe.busy = true;
    EXPECT_FALSE(document_->isQuiescent());
    EXPECT_FALSE(acDocManager->isQuiescent());
    probe.busy = false;
    EXPECT_TRUE(document_->isQuiescent());

    ASSERT_TRUE(acDocManager->sendStringToExecute(document_, "first\n"));
    ASSERT_TRUE(acDocManager->sendStringToExecute(document_, "second\n"));
    EXPECT_FALSE(document_->isQuiescent()) << "a string sent but not started is work waiting";
    EXPECT_EQ(document_->takeSentString(), "first\n");
    EXPECT_EQ(document_->takeSentString(), "second\n");
    EXPECT_EQ(document_->takeSentString(), std::nullopt);
    EXPECT_TRUE(document_->isQuiescent());
}

}  // namespace
