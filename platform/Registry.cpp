// Registry hives kept as text files in the registry editor's export format: the
// store (reading and replacing the hive under an inter-process lock) and the key
// handles. The format itself is RegistryFormat.
#include "platform/Registry.h"

#include "platform/File.h"
#include "platform/RegistryFormat.h"

#include <pthread.h>
#include <pwd.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

struct HKEY__ {
    int hive;          // index into kHives
    std::string path;  // below the hive root, components joined by '\'; empty for the root
    REGSAM access;
};

namespace {

struct HiveInfo {
    std::uintptr_t handle;
    const char* rootName;
    const char* fileName;
};
constexpr HiveInfo kHives[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT", "classes.reg"},
    {0x80000001u, "HKEY_CURRENT_USER", "user.reg"},
};
// A hive beyond this is not a settings store any more; the rest is not read and the
// file counts as damaged, so the next write keeps the whole file aside.
constexpr std::size_t kMaxHiveBytes = 64u << 20;

// ---------------------------------------------------------------- the hive model

using platform::regfile::equalNoCase;
using platform::regfile::findKey;
using platform::regfile::findValue;
using platform::regfile::Hive;
using platform::regfile::Key;
using platform::regfile::startsWithNoCase;
using platform::regfile::Value;

// The keys of a hive as a tree of their names: a key is found by walking its path
// one name at a time, and knows its direct subkeys (a key that is only the parent of
// another included). What the tree holds grows with the file: a table of every
// key's full path and of each of its parents' grows with the square of a path's
// depth, and a few keys as deep as the platform allows cost hundreds of megabytes.
class KeyTree {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    explicit KeyTree(const Hive& hive) {
        nodes_.push_back(Node{kNone, kNone, {}, {}});  // the root
        for (std::size_t i = 0; i < hive.keys.size(); ++i) {
            std::size_t node = 0;
            forEachName(hive.keys[i].path, [&](std::string_view name) {
                const std::uint64_t hash = edgeHash(node, name);
                std::size_t child = findChild(node, name, hash);
                if (child == kNone) {
                    // A subkey is listed once, in the spelling met first.
                    child = nodes_.size();
                    nodes_.push_back(Node{kNone, node, std::string(name), {}});
                    nodes_[node].children.push_back(child);
                    addEdge(hash, child);
                }
                node = child;
            });
            if (nodes_[node].key == kNone) nodes_[node].key = i;
        }
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        for (Node& n : nodes_)
            std::sort(n.children.begin(), n.children.end(), [&](std::size_t x, std::size_t y) {
                const std::string& a = nodes_[x].name;
                const std::string& b = nodes_[y].name;
                return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                    [&](char p, char q) { return lower(p) < lower(q); });
            });
    }

    // The node of the key at `path`; kNone when there is no such key.
    std::size_t find(std::string_view path) const {
        std::size_t node = 0;
        forEachName(path, [&](std::string_view name) {
            if (node != kNone) node = findChild(node, name, edgeHash(node, name));
        });
        return node;
    }
    // The key's own section (index into the hive's keys), kNone for a key that is only
    // the parent of others.
    std::size_t section(std::size_t node) const { return nodes_[node].key; }
    // Its direct subkeys, ordered by name without regard to ASCII case.
    const std::vector<std::size_t>& subkeys(std::size_t node) const { return nodes_[node].children; }
    // A key's own name, as spelt where it was met first.
    const std::string& name(std::size_t node) const { return nodes_[node].name; }

private:
    struct Node {
        std::size_t key;
        std::size_t parent;
        std::string name;
        std::vector<std::size_t> children;
    };
    // An edge from a parent to a child, by the hash of both; the child's own parent
    // and name tell edges of equal hash apart.
    struct Edge {
        std::uint64_t hash = 0;
        std::size_t child = kNone;
    };

    template <typename F>
    static void forEachName(std::string_view path, F&& f) {
        if (path.empty()) return;
        std::size_t start = 0;
        while (true) {
            std::size_t end = path.find('\\', start);
            f(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
            if (end == std::string_view::npos) return;
            start = end + 1;
        }
    }
    // FNV-1a of the parent's number and the folded name.
    static std::uint64_t edgeHash(std::size_t parent, std::string_view name) {
        std::uint64_t h = 14695981039346656037ull ^ (parent * 0x9E3779B97F4A7C15ull);
        for (char c : name) {
            h ^= static_cast<unsigned char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
            h *= 1099511628211ull;
        }
        return h;
    }
    std::size_t findChild(std::size_t parent, std::string_view name, std::uint64_t hash) const {
        if (edges_.empty()) return kNone;
        const std::size_t mask = edges_.size() - 1;
        for (std::size_t i = hash & mask; edges_[i].child != kNone; i = (i + 1) & mask) {
            const Edge& e = edges_[i];
            if (e.hash == hash && nodes_[e.child].parent == parent && equalNoCase(nodes_[e.child].name, name))
                return e.child;
        }
        return kNone;
    }
    // Open addressing, kept at most half full.
    void addEdge(std::uint64_t hash, std::size_t child) {
        if (2 * (edgeCount_ + 1) > edges_.size()) {
            std::vector<Edge> old(std::max<std::size_t>(64, 2 * edges_.size()));
            old.swap(edges_);
            for (const Edge& e : old)
                if (e.child != kNone) placeEdge(e);
        }
        placeEdge(Edge{hash, child});
        ++edgeCount_;
    }
    void placeEdge(const Edge& edge) {
        const std::size_t mask = edges_.size() - 1;
        std::size_t i = edge.hash & mask;
        while (edges_[i].child != kNone) i = (i + 1) & mask;
        edges_[i] = edge;
    }

    std::vector<Node> nodes_;
    std::vector<Edge> edges_;
    std::size_t edgeCount_ = 0;
};

// A hive with what queries look up in it indexed, so that an open or a query costs
// the same in a hive of twenty keys or of a million. The index is made when the
// version is first asked about, not when it is read or written: a write is often
// followed by another before anyone asks. Never changed otherwise; shared by every
// query that reads the same version of the file.
class IndexedHive {
public:
    explicit IndexedHive(Hive h) : hive_(std::move(h)) {}

    const Hive& hive() const noexcept { return hive_; }
    const Key* find(std::string_view path) const {
        const KeyTree& t = tree();
        std::size_t node = t.find(path);
        if (node == KeyTree::kNone) return nullptr;
        std::size_t key = t.section(node);
        return key == KeyTree::kNone ? nullptr : &hive_.keys[key];
    }
    // A key exists when it has a section of its own or is the parent of one (a
    // hand-made file may leave out the parents' sections).
    bool exists(std::string_view path) const { return tree().find(path) != KeyTree::kNone; }
    // The names of the direct subkeys, ordered without regard to ASCII case, and how
    // many there are.
    std::size_t subkeyCount(std::string_view path) const {
        const KeyTree& t = tree();
        std::size_t node = t.find(path);
        return node == KeyTree::kNone ? 0 : t.subkeys(node).size();
    }
    const std::string* subkeyName(std::string_view path, std::size_t index) const {
        const KeyTree& t = tree();
        std::size_t node = t.find(path);
        if (node == KeyTree::kNone || index >= t.subkeys(node).size()) return nullptr;
        return &t.name(t.subkeys(node)[index]);
    }
    std::size_t longestSubkeyName(std::string_view path) const {
        const KeyTree& t = tree();
        std::size_t node = t.find(path);
        std::size_t longest = 0;
        if (node != KeyTree::kNone)
            for (std::size_t child : t.subkeys(node)) longest = std::max(longest, t.name(child).size());
        return longest;
    }

private:
    const KeyTree& tree() const {
        std::call_once(treeMade_, [this] { tree_ = std::make_unique<const KeyTree>(hive_); });
        return *tree_;
    }

    Hive hive_;
    mutable std::once_flag treeMade_;
    mutable std::unique_ptr<const KeyTree> tree_;
};

// The same two questions on a hive being changed, where an index would be out of
// date after every change.
bool keyExists(const Hive& hive, std::string_view path) {
    if (path.empty()) return true;
    for (const Key& k : hive.keys) {
        if (!startsWithNoCase(k.path, path)) continue;
        if (k.path.size() == path.size() || k.path[path.size()] == '\\') return true;
    }
    return false;
}

bool hasSubkeys(const Hive& hive, std::string_view path) {
    for (const Key& k : hive.keys) {
        if (k.path.size() <= path.size()) continue;
        if (path.empty() || (startsWithNoCase(k.path, path) && k.path[path.size()] == '\\')) return true;
    }
    return false;
}

const Value* findValueIn(const Key& key, std::string_view name) {
    for (const Value& v : key.values)
        if (equalNoCase(v.name, name)) return &v;
    return nullptr;
}

// Creates the sections of the key and of its missing parents; a parent that exists
// lends its spelling. Returns the key and whether anything was added.
Key& ensureKey(Hive& hive, const std::string& path, bool& created) {
    created = false;
    if (Key* k = findKey(hive, path)) return *k;
    std::string prefix;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string wanted = path.substr(0, end);
        // Take the spelling an existing section uses for this prefix.
        for (const Key& k : hive.keys) {
            if (startsWithNoCase(k.path, wanted) && (k.path.size() == wanted.size() || k.path[wanted.size()] == '\\')) {
                wanted = k.path.substr(0, wanted.size());
                break;
            }
        }
        if (!findKey(hive, wanted)) {
            hive.keys.push_back(Key{wanted, {}});
            created = true;
        }
        start = end + 1;
    }
    return *findKey(hive, path);
}

// ---------------------------------------------------------------- files

// Failures to read or write the hive file that have no code of their own.
LONG errorOf(const platform::FileError& error) {
    return static_cast<LONG>(platform::systemErrorCode(error, ERROR_CANTWRITE));
}

enum class FileState { missing, read, unreadable };

std::string hiveFile(int hiveIndex) { return platform::registryHome() / kHives[hiveIndex].fileName; }

// Reads the hive file as it is on disk now; `stamp` is the version read, `failure`
// why an unreadable one could not be read. Anything but a regular file is refused
// unread: a pipe would block the reader, a device such as /dev/zero never end.
FileState readHive(int hiveIndex, Hive& hive, platform::FileStamp* stamp = nullptr,
                   std::optional<platform::FileError>* failure = nullptr) {
    hive = Hive{};
    std::string text;
    bool truncated = false;
    platform::FileStatus read = platform::readFilePrefix(hiveFile(hiveIndex), text, kMaxHiveBytes, truncated, stamp);
    if (!read) {
        const platform::FileError& e = read.error();
        if (e.step == platform::FileStep::open && e.code == ENOENT) return FileState::missing;
        if (failure) *failure = e;
        return FileState::unreadable;
    }
    if (truncated) {
        // Drop the partial last line rather than read half a value.
        std::size_t nl = text.rfind('\n');
        text.resize(nl == std::string::npos ? 0 : nl + 1);
    }
    hive = platform::regfile::parse(text, kHives[hiveIndex].rootName);
    hive.damaged = hive.damaged || truncated;
    return FileState::read;
}

// The last version of each hive file read or written in this process, parsed and
// indexed. A query looks at the file's version (one stat) and reads and parses it
// again only when it has changed: a new inode (every write replaces the file), size
// or modification time.
struct HiveCache {
    std::mutex mutex;
    std::string file;
    platform::FileStamp stamp;
    std::shared_ptr<const IndexedHive> hive;
    // Why the file could not be read the last time it was tried; none once it was.
    std::optional<platform::FileError> failure;
};
HiveCache& hiveCache(int hiveIndex) {
    static HiveCache caches[2];
    return caches[hiveIndex];
}

void remember(int hiveIndex, const std::string& file, const platform::FileStamp& stamp,
              std::shared_ptr<const IndexedHive> hive) {
    HiveCache& cache = hiveCache(hiveIndex);
    std::shared_ptr<const IndexedHive> previous;  // let go of after the lock: a large hive takes a while
    std::lock_guard guard(cache.mutex);
    cache.file = file;
    cache.stamp = stamp;
    previous = std::exchange(cache.hive, std::move(hive));
    cache.failure.reset();
}

void rememberFailure(int hiveIndex, std::optional<platform::FileError> failure) {
    HiveCache& cache = hiveCache(hiveIndex);
    std::lock_guard guard(cache.mutex);
    cache.failure = std::move(failure);
}

// The version in the cache when it is the one on disk now (by its stamp), else null.
std::shared_ptr<const IndexedHive> cachedVersion(int hiveIndex, const std::string& file) {
    std::optional<platform::FileStamp> now = platform::fileStamp(file);
    if (!now) return nullptr;
    HiveCache& cache = hiveCache(hiveIndex);
    std::lock_guard guard(cache.mutex);
    if (cache.hive && cache.file == file && cache.stamp == *now) return cache.hive;
    return nullptr;
}

struct Batch;
Batch* currentBatch(int hiveIndex);
std::shared_ptr<const IndexedHive> batchView(Batch& batch, int hiveIndex, FileState& state);

// The version of the hive on disk now. Null when unreadable; a missing file is an
// empty hive.
std::shared_ptr<const IndexedHive> diskHive(int hiveIndex) {
    static const auto kEmpty = std::make_shared<const IndexedHive>(Hive{});
    const std::string file = hiveFile(hiveIndex);
    if (auto cached = cachedVersion(hiveIndex, file)) return cached;
    Hive hive;
    platform::FileStamp read;
    std::optional<platform::FileError> failure;
    FileState state = readHive(hiveIndex, hive, &read, &failure);
    rememberFailure(hiveIndex, failure);
    if (state == FileState::unreadable) return nullptr;
    if (state == FileState::missing) return kEmpty;
    auto indexed = std::make_shared<const IndexedHive>(std::move(hive));
    remember(hiveIndex, file, read, indexed);
    return indexed;
}

// The hive for a query: the version on disk, or, on a thread with a batch open that
// has changed this hive, the hive as the batch has it. Null when unreadable.
std::shared_ptr<const IndexedHive> loadHive(int hiveIndex) {
    if (Batch* batch = currentBatch(hiveIndex)) {
        FileState state;
        auto view = batchView(*batch, hiveIndex, state);
        if (view || state == FileState::unreadable) return view;
    }
    return diskHive(hiveIndex);
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// Keeps a damaged hive under a name of its own before it is replaced, so that what
// could not be read is still there for a person to look at.
LONG keepAside(const std::string& file) {
    std::string base = file + ".damaged-" + timestamp();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        platform::FileStatus kept = platform::keepCopy(file, name);
        if (kept) return ERROR_SUCCESS;
        if (kept.error().code == EEXIST) continue;
        if (kept.error().code == ENOENT && kept.error().path == file) return ERROR_SUCCESS;  // nothing left to keep
        return errorOf(kept.error());
    }
    return static_cast<LONG>(ERROR_CANTWRITE);
}

// A change to a hive: returns an error code and sets `changed` when the file has to
// be written. It owns what it needs, since a batch applies it again later.
using Change = std::function<LONG(Hive&, bool& changed)>;

// Applies the changes, in order, to the hive as it is on disk now and writes it once,
// under the hive's lock file so that writers in other processes are serialised with
// this one. The result is the first change's: a batch's changes were each answered
// already when they were made.
LONG writeHive(int hiveIndex, const std::vector<Change>& changes) {
    static std::mutex processLock;
    std::lock_guard guard(processLock);

    std::string home = platform::registryHome();
    if (platform::FileStatus made = platform::createFolders(home); !made) return errorOf(made.error());
    std::string file = home + "/" + kHives[hiveIndex].fileName;
    platform::FileLock lock;  // released when it goes out of scope
    if (platform::FileStatus locked = lock.lock(file + ".lock"); !locked) return errorOf(locked.error());

    // Always read afresh: the lock is what makes the file this process's to change,
    // and a version in the cache cannot stand in for what is on disk under it.
    Hive hive;
    FileState state = readHive(hiveIndex, hive);
    // A hive that exists but cannot be read must not be replaced by a near-empty one.
    if (state == FileState::unreadable) return static_cast<LONG>(ERROR_CANTREAD);
    bool changed = false;
    LONG result = ERROR_SUCCESS;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        bool thisChanged = false;
        LONG r = changes[i](hive, thisChanged);
        if (changes.size() == 1) result = r;
        changed = changed || (r == static_cast<LONG>(ERROR_SUCCESS) && thisChanged);
    }
    if (changes.size() == 1 && result != static_cast<LONG>(ERROR_SUCCESS)) return result;
    if (!changed) return result;
    if (hive.damaged && state == FileState::read) {
        LONG kept = keepAside(file);
        if (kept != static_cast<LONG>(ERROR_SUCCESS)) return kept;
    }
    // The hive holds the user's settings: a new one is private to the user.
    platform::WriteOptions options;
    options.newFileMode = 0600;
    platform::FileStamp written;
    platform::FileStatus status = platform::writeFileAtomically(
        file, platform::regfile::format(hive, kHives[hiveIndex].rootName), options, &written);
    if (!status) return errorOf(status.error());
    // What was written reads back as this hive, now sound.
    hive.damaged = false;
    remember(hiveIndex, file, written, std::make_shared<const IndexedHive>(std::move(hive)));
    return result;
}

// ---------------------------------------------------------------- batches

// The changes a thread makes to each hive while a RegistryBatch of its is open: the
// hive as they leave it, for that thread's own queries, and the changes themselves,
// to be applied again to the file as it is when the batch ends.
struct Batch {
    int depth = 0;
    struct PerHive {
        bool isLoaded = false;
        FileState state = FileState::missing;
        Hive hive;
        std::shared_ptr<const IndexedHive> view;  // null when out of date
        std::vector<Change> changes;
    } hives[2];
};
thread_local Batch* openBatch = nullptr;

// A child forked while a batch is open starts with none: the changes are the
// parent's to write, and the child's queries and changes go to the files as in any
// other process. (The child's copy of the batch is left unfreed.)
[[maybe_unused]] const int kBatchForkHandler = ::pthread_atfork(nullptr, nullptr, [] { openBatch = nullptr; });

// A batch that has not changed a hive (yet) holds nothing of it the file does not.
Batch* currentBatch(int hiveIndex) {
    return openBatch && !openBatch->hives[hiveIndex].changes.empty() ? openBatch : nullptr;
}

std::shared_ptr<const IndexedHive> batchView(Batch& batch, int hiveIndex, FileState& state) {
    Batch::PerHive& h = batch.hives[hiveIndex];
    state = h.state;
    if (state == FileState::unreadable) return nullptr;
    if (!h.view) h.view = std::make_shared<const IndexedHive>(h.hive);
    return h.view;
}

// Applies a change to the hive file, or, inside a batch, to the batch's hive,
// keeping it for the batch's write.
LONG modifyHive(int hiveIndex, Change change) {
    if (!openBatch) return writeHive(hiveIndex, {std::move(change)});
    Batch::PerHive& h = openBatch->hives[hiveIndex];
    if (!h.isLoaded) {
        // The version queries already hold serves as well as a fresh read of the same
        // version, at the cost of a copy rather than a parse. The batch's hive only
        // answers its calls: its changes are applied again to the file under the lock.
        if (auto cached = cachedVersion(hiveIndex, hiveFile(hiveIndex))) {
            h.hive = cached->hive();
            h.state = FileState::read;
        } else {
            h.state = readHive(hiveIndex, h.hive);
        }
        h.isLoaded = true;
    }
    if (h.state == FileState::unreadable) return static_cast<LONG>(ERROR_CANTREAD);
    bool changed = false;
    LONG result = change(h.hive, changed);
    if (result == static_cast<LONG>(ERROR_SUCCESS) && changed) {
        h.changes.push_back(std::move(change));
        h.view.reset();
    }
    return result;
}

// ---------------------------------------------------------------- handles and faults

std::mutex& handleMutex() {
    static std::mutex m;
    return m;
}
std::unordered_set<HKEY__*>& openHandles() {
    static std::unordered_set<HKEY__*> handles;
    return handles;
}

struct CloseFault {
    int skip = 0;
    int count = 0;
    LONG error = 0;
};
std::mutex faultMutex;
CloseFault closeFault;

std::optional<LONG> takeCloseFault() {
    std::lock_guard guard(faultMutex);
    CloseFault& f = closeFault;
    if (f.count <= 0) return std::nullopt;
    if (f.skip > 0) {
        --f.skip;
        return std::nullopt;
    }
    --f.count;
    return f.error;
}

int predefinedHive(HKEY key) {
    for (int i = 0; i < 2; ++i)
        if (reinterpret_cast<std::uintptr_t>(key) == kHives[i].handle) return i;
    return -1;
}

// What a handle names: hive, path and access; false for a handle that is not open.
bool resolve(HKEY key, int& hive, std::string& path, REGSAM& access) {
    int predefined = predefinedHive(key);
    if (predefined >= 0) {
        hive = predefined;
        path.clear();
        access = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard guard(handleMutex());
    if (!key || !openHandles().contains(key)) return false;
    hive = key->hive;
    path = key->path;
    access = key->access;
    return true;
}

bool validName(const char* name) { return !name || !std::strpbrk(name, "\r\n"); }

// Joins a subkey path onto a key's path; no value for a path the file cannot hold.
std::optional<std::string> joinPath(const std::string& base, const char* subKey) {
    std::string sub = subKey ? subKey : "";
    if (!sub.empty() && sub.back() == '\\') sub.pop_back();  // tolerated, as the platform does
    if (sub.empty()) return base;
    if (!validName(sub.c_str()) || sub.front() == '\\' || sub.find("\\\\") != std::string::npos) return std::nullopt;
    std::string path = base.empty() ? sub : base + "\\" + sub;
    if (platform::regfile::keyDepth(path) > platform::regfile::kMaxKeyDepth) return std::nullopt;
    return path;
}

HKEY newHandle(int hive, std::string path, REGSAM access) {
    auto* handle = new HKEY__{hive, std::move(path), access};
    std::lock_guard guard(handleMutex());
    openHandles().insert(handle);
    return handle;
}

std::string valueNameOf(const char* name) { return name ? name : ""; }

}  // namespace

// ---------------------------------------------------------------- the calls

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    int hive;
    std::string base;
    REGSAM parentAccess;
    if (!resolve(key, hive, base, parentAccess)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::optional<std::string> path = joinPath(base, subKey);
    if (!path) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    std::shared_ptr<const IndexedHive> h = loadHive(hive);
    if (!h) return static_cast<LONG>(ERROR_CANTREAD);
    if (!h->exists(*path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    *result = newHandle(hive, std::move(*path), access);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char*, DWORD, REGSAM access, void*, PHKEY result,
                     DWORD* disposition) {
    if (!result) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    if (reserved != 0) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string base;
    REGSAM parentAccess;
    if (!resolve(key, hive, base, parentAccess)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::optional<std::string> path = joinPath(base, subKey);
    if (!path) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    auto created = std::make_shared<bool>(false);
    LONG r = modifyHive(hive, [created, path = *path, parentAccess](Hive& h, bool& changed) -> LONG {
        bool existed = keyExists(h, path);
        if (!existed && !(parentAccess & KEY_CREATE_SUB_KEY)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
        *created = !existed;
        // A key known only as the parent of another gets a section of its own.
        if (!path.empty() && !findKey(h, path)) ensureKey(h, path, changed);
        return ERROR_SUCCESS;
    });
    if (r != static_cast<LONG>(ERROR_SUCCESS)) return r;
    if (disposition) *disposition = *created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = newHandle(hive, std::move(*path), access);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    if (reserved || (data && !size)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_QUERY_VALUE)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    std::shared_ptr<const IndexedHive> h = loadHive(hive);
    if (!h) return static_cast<LONG>(ERROR_CANTREAD);
    const Key* k = h->find(path);
    const Value* v = k ? findValueIn(*k, valueNameOf(valueName)) : nullptr;
    if (!v) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (type) *type = v->type;
    DWORD needed = static_cast<DWORD>(v->data.size());
    if (!size) return ERROR_SUCCESS;
    if (!data) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (needed > *size) {
        *size = needed;
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    if (needed) std::memcpy(data, v->data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (!validName(valueName)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_SET_VALUE)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    Value value{valueNameOf(valueName), type, std::vector<BYTE>(data, data + size)};
    return modifyHive(hive, [path, value](Hive& h, bool& changed) -> LONG {
        bool created = false;
        // A key deleted by someone else since it was opened comes back rather than
        // losing the value written through the handle.
        Key& k = ensureKey(h, path, created);
        if (Value* existing = findValue(k, value.name)) {
            existing->type = value.type;
            existing->data = value.data;
        } else {
            k.values.push_back(value);
        }
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_SET_VALUE)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    std::string name = valueNameOf(valueName);
    return modifyHive(hive, [path, name](Hive& h, bool& changed) -> LONG {
        Key* k = findKey(h, path);
        if (!k || !findValue(*k, name)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        std::erase_if(k->values, [&](const Value& v) { return equalNoCase(v.name, name); });
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    int hive;
    std::string base;
    REGSAM access;
    if (!resolve(key, hive, base, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!subKey || !*subKey) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    std::optional<std::string> path = joinPath(base, subKey);
    if (!path) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    return modifyHive(hive, [path = *path](Hive& h, bool& changed) -> LONG {
        if (!keyExists(h, path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        if (hasSubkeys(h, path)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
        std::erase_if(h.keys, [&](const Key& k) { return equalNoCase(k.path, path); });
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) {
    int hive;
    std::string base;
    REGSAM access;
    if (!resolve(key, hive, base, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::optional<std::string> path = joinPath(base, subKey);
    if (!path) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const bool isKeyKept = !subKey || !*subKey;
    return modifyHive(hive, [path = *path, isKeyKept](Hive& h, bool& changed) -> LONG {
        if (!keyExists(h, path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        auto isBelow = [&](const Key& k) {
            return path.empty() ||
                   (startsWithNoCase(k.path, path) && k.path.size() > path.size() && k.path[path.size()] == '\\');
        };
        std::size_t before = h.keys.size();
        std::erase_if(h.keys, [&](const Key& k) { return isBelow(k) || (!isKeyKept && equalNoCase(k.path, path)); });
        changed = h.keys.size() != before;
        if (isKeyKept) {
            if (Key* k = findKey(h, path); k && !k->values.empty()) {
                k->values.clear();
                changed = true;
            }
        }
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, char*, DWORD* classSize,
                   FILETIME* lastWriteTime) {
    if (!name || !nameSize || reserved) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_ENUMERATE_SUB_KEYS)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    std::shared_ptr<const IndexedHive> h = loadHive(hive);
    if (!h) return static_cast<LONG>(ERROR_CANTREAD);
    if (!h->exists(path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const std::string* subkey = h->subkeyName(path, index);
    if (!subkey) return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
    const std::string& found = *subkey;
    if (found.size() + 1 > *nameSize) return static_cast<LONG>(ERROR_MORE_DATA);
    std::memcpy(name, found.c_str(), found.size() + 1);
    *nameSize = static_cast<DWORD>(found.size());
    if (classSize) *classSize = 0;
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyA(HKEY key, char* keyClass, DWORD* classSize, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLength, DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength,
                      DWORD* maxValueLength, DWORD* securityDescriptorSize, FILETIME* lastWriteTime) {
    if (reserved) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    int hive;
    std::string path;
    REGSAM access;
    if (!resolve(key, hive, path, access)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (!(access & KEY_QUERY_VALUE)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    std::shared_ptr<const IndexedHive> h = loadHive(hive);
    if (!h) return static_cast<LONG>(ERROR_CANTREAD);
    if (!h->exists(path)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const std::size_t subkeyCount = h->subkeyCount(path);
    const std::size_t longestName = h->longestSubkeyName(path);
    std::size_t valueCount = 0, longestValueName = 0, longestValue = 0;
    if (const Key* k = h->find(path)) {
        valueCount = k->values.size();
        for (const Value& v : k->values) {
            longestValueName = std::max(longestValueName, v.name.size());
            longestValue = std::max(longestValue, v.data.size());
        }
    }
    if (keyClass && classSize && *classSize > 0) keyClass[0] = '\0';
    if (classSize) *classSize = 0;
    if (subKeys) *subKeys = static_cast<DWORD>(subkeyCount);
    if (maxSubKeyLength) *maxSubKeyLength = static_cast<DWORD>(longestName);
    if (maxClassLength) *maxClassLength = 0;
    if (values) *values = static_cast<DWORD>(valueCount);
    if (maxValueNameLength) *maxValueNameLength = static_cast<DWORD>(longestValueName);
    if (maxValueLength) *maxValueLength = static_cast<DWORD>(longestValue);
    if (securityDescriptorSize) *securityDescriptorSize = 0;
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (predefinedHive(key) >= 0) return ERROR_SUCCESS;
    {
        std::lock_guard guard(handleMutex());
        if (!key || openHandles().erase(key) == 0) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    }
    delete key;
    if (auto fault = takeCloseFault()) return *fault;
    return ERROR_SUCCESS;
}

namespace platform {

RegistryBatch::RegistryBatch() {
    if (!openBatch) openBatch = new Batch;
    ++openBatch->depth;
}

RegistryBatch::~RegistryBatch() {
    // Changes already answered as made are written on every way out.
    (void)commit();
}

LONG RegistryBatch::commit() {
    if (!std::exchange(isOpen_, false)) return ERROR_SUCCESS;
    // Opened before this process was forked from the one that owns the changes.
    if (!openBatch) return ERROR_SUCCESS;
    if (--openBatch->depth > 0) return ERROR_SUCCESS;
    std::unique_ptr<Batch> batch(std::exchange(openBatch, nullptr));
    LONG result = ERROR_SUCCESS;
    for (int hive = 0; hive < 2; ++hive) {
        Batch::PerHive& h = batch->hives[hive];
        if (h.changes.empty()) continue;
        // The batch's own copy has answered its calls; the write reads the file afresh,
        // and a large hive need not be held twice meanwhile.
        h.hive = Hive{};
        h.view.reset();
        LONG r = writeHive(hive, h.changes);
        if (result == static_cast<LONG>(ERROR_SUCCESS)) result = r;
    }
    return result;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

LONG RegistryKey::close() noexcept {
    HKEY key = std::exchange(key_, nullptr);
    return key ? RegCloseKey(key) : static_cast<LONG>(ERROR_SUCCESS);
}

std::filesystem::path registryHome() {
    if (const char* home = std::getenv("CADHOST_HOME"); home && *home) return home;
    const char* userHome = std::getenv("HOME");
    if (!userHome || !*userHome) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) userHome = pw->pw_dir;
    }
    return std::filesystem::path(userHome ? userHome : ".") / ".config" / "cadhost";
}

std::filesystem::path hivePath(HKEY predefinedKey) {
    int hive = predefinedHive(predefinedKey);
    return registryHome() / kHives[hive < 0 ? 1 : hive].fileName;
}

std::optional<HiveProblem> hiveProblem(HKEY predefinedKey) {
    const int hive = predefinedHive(predefinedKey);
    if (hive < 0) return std::nullopt;
    if (std::shared_ptr<const IndexedHive> h = diskHive(hive)) {
        if (std::size_t line = h->hive().tooDeepLine)
            return HiveProblem{true, "line " + std::to_string(line) + " holds a key more than " +
                                         std::to_string(platform::regfile::kMaxKeyDepth) + " levels deep"};
        return std::nullopt;
    }
    HiveCache& cache = hiveCache(hive);
    std::lock_guard guard(cache.mutex);
    return HiveProblem{false, cache.failure ? cache.failure->message() : std::string("cannot read the file")};
}

std::optional<std::string> queryRegistryString(HKEY key, const char* valueName) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != static_cast<LONG>(ERROR_SUCCESS))
        return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    std::string text(size, '\0');
    if (size && RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
                    static_cast<LONG>(ERROR_SUCCESS))
        return std::nullopt;
    text.resize(size);
    // Stored with its terminator as a rule, but a hand-made value may lack it.
    if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

LONG setRegistryString(HKEY key, const char* valueName, std::string_view text) {
    std::string stored(text);
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                          static_cast<DWORD>(stored.size() + 1));
}

std::size_t openRegistryKeyCount() noexcept {
    std::lock_guard guard(handleMutex());
    return openHandles().size();
}

void injectRegistryCloseFault(int skip, int count, LONG error) {
    std::lock_guard guard(faultMutex);
    closeFault = CloseFault{skip, count, error};
}

void clearRegistryFaults() noexcept {
    std::lock_guard guard(faultMutex);
    closeFault = CloseFault{};
}

}  // namespace platform
