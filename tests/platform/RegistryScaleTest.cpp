// The registry on large hives and in bulk: queries of an unchanged hive neither read
// nor parse it again, changes made by others are still seen at once, and a batch of
// changes (a registry script, a type library) rewrites each hive once while every
// value written meanwhile by another process is kept.
#include "platform/ClassRegistry.h"
#include "platform/Registrar.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/TypeLib.h"
#include "tests/common/FileFault.h"
#include "tests/platform/TempRegistryHome.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::test::FileCall;
using platform::test::FileFault;

namespace {

// Counts calls of one kind without failing any.
FileFault counting(FileCall call) { return FileFault(call, EIO, 1 << 30); }

std::string dwordQuery(const char* path, const char* name, LONG& result) {
    platform::RegistryKey key;
    result = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put());
    if (result != ERROR_SUCCESS) return {};
    DWORD type = 0, value = 0, size = sizeof value;
    result = RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    return result == ERROR_SUCCESS ? std::to_string(value) : std::string();
}

class RegistryScaleTest : public platform::test::TempRegistryHome {
protected:
    // A user hive holding `keys` keys of other programs' settings and the module's
    // own export settings.
    void writeLargeHive(int keys) {
        std::ofstream out(home_ / "user.reg", std::ios::binary);
        out << "Windows Registry Editor Version 5.00\n\n";
        for (int i = 0; i < keys; ++i) {
            out << "[HKEY_CURRENT_USER\\SOFTWARE\\Vendor" << i % 50 << "\\Product" << i << "]\n"
                << "\"Path\"=\"/opt/product/" << i << "/bin/program\"\n"
                << "\"Count\"=dword:" << std::hex << i << std::dec << "\n\n";
        }
        out << "[HKEY_CURRENT_USER\\SOFTWARE\\Morvik\\Tablora\\Settings\\Export]\n"
            << "\"StartRow\"=dword:00000003\n\"AddHeader\"=dword:00000001\n";
    }

    // What an export asks of the registry: its settings key opened and each setting
    // queried, some several times.
    std::vector<std::string> exportLikeQueries() {
        static const char* kNames[] = {"StartRow", "AddHeader", "BlockNames", "XCoord", "YCoord", "ZCoord", "OddLine"};
        std::vector<std::string> seen;
        for (int round = 0; round < 4; ++round)
            for (const char* name : kNames) {
                LONG r = ERROR_SUCCESS;
                std::string v = dwordQuery("SOFTWARE\\Morvik\\Tablora\\Settings\\Export", name, r);
                seen.push_back(std::string(name) + "=" + (r == ERROR_SUCCESS ? v : "absent"));
            }
        return seen;
    }
};

TEST_F(RegistryScaleTest, QueriesOfAnUnchangedLargeHiveReadItOnce) {
    writeLargeHive(20000);
    auto started = std::chrono::steady_clock::now();
    std::vector<std::string> first, again;
    {
        FileFault reads = counting(FileCall::read);
        first = exportLikeQueries();
        const int readsOfFirstPass = reads.calls();
        EXPECT_GT(readsOfFirstPass, 0);
        again = exportLikeQueries();
        EXPECT_EQ(reads.calls(), readsOfFirstPass) << "an unchanged hive is read once, not once a query";
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(first, again);
    EXPECT_EQ(first[0], "StartRow=3");
    EXPECT_EQ(first[1], "AddHeader=1");
    EXPECT_EQ(first[2], "BlockNames=absent");
    // Reading the 1.2 MB hive once is milliseconds; a pass per query over it, or a
    // search of every section for every other, takes a minute.
    EXPECT_LT(seconds, 10.0);

    // Subkeys of a key with thousands of them come in name order, each once.
    platform::RegistryKey vendor;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Vendor7", 0, KEY_READ, vendor.put()), ERROR_SUCCESS);
    DWORD subKeys = 0;
    ASSERT_EQ(RegQueryInfoKeyA(vendor.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 400u);
    char name[64];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(vendor.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Product10007");
}

TEST_F(RegistryScaleTest, ChangesByOthersAreSeenByTheNextQuery) {
    writeLargeHive(100);
    LONG r = ERROR_SUCCESS;
    ASSERT_EQ(dwordQuery("SOFTWARE\\Morvik\\Tablora\\Settings\\Export", "StartRow", r), "3");

    struct Case {
        const char* name;
        std::function<void()> change;
        std::string expected;
    };
    const Case cases[] = {
        {"another process sets a value",
         [] {
             pid_t child = ::fork();
             if (child == 0) {
                 platform::RegistryKey key;
                 if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Morvik\\Tablora\\Settings\\Export", 0, KEY_WRITE,
                                   key.put()) != ERROR_SUCCESS)
                     ::_exit(2);
                 DWORD v = 4;
                 ::_exit(RegSetValueExA(key.get(), "StartRow", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) ==
                                 ERROR_SUCCESS
                             ? 0
                             : 1);
             }
             int status = 0;
             ::waitpid(child, &status, 0);
             ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
         },
         "4"},
        {"an editor rewrites the file in place, same size",
         [&] {
             // Later than the file system's clock tick after the last write: a change
             // in place within the same tick keeps size and time (see FileStamp).
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             std::fstream f(home_ / "user.reg", std::ios::in | std::ios::out | std::ios::binary);
             std::string text((std::istreambuf_iterator<char>(f)), {});
             std::size_t at = text.find("\"StartRow\"=dword:00000004");
             ASSERT_NE(at, std::string::npos);
             text.replace(at, 25, "\"StartRow\"=dword:00000005");
             f.seekp(0);
             f << text;
         },
         "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        EXPECT_EQ(dwordQuery("SOFTWARE\\Morvik\\Tablora\\Settings\\Export", "StartRow", r), c.expected);
    }
    // Removed: nothing left to find.
    fs::remove(home_ / "user.reg");
    dwordQuery("SOFTWARE\\Morvik\\Tablora\\Settings\\Export", "StartRow", r);
    EXPECT_EQ(r, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryScaleTest, RegisteringTheModulesClassAndLibraryRewritesTheHiveOncePerCall) {
    const std::string module = std::string(TABLORA_TEST_MODULES_DIR) + "/ResourceTableV2.so";
    const std::u16string wideModule = platform::utf8ToWide(module).value();
    platform::ComPtr<IRegistrar> registrar;
    ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IRegistrar::iid, registrar.putVoid()),
              S_OK);
    ASSERT_EQ(registrar->AddReplacement(u"MODULE", wideModule.c_str()), S_OK);
    platform::ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(wideModule.c_str(), lib.put()), S_OK);
    for (int load = 0; load < 2; ++load) {
        SCOPED_TRACE(load == 0 ? "first load" : "loaded again");
        FileFault renames = counting(FileCall::rename);
        ASSERT_EQ(registrar->ResourceRegister(wideModule.c_str(), 1016, u"REGISTRY"), S_OK);
        EXPECT_EQ(renames.calls(), 1) << "the script's keys and values in one write";
        ASSERT_EQ(RegisterTypeLib(lib.get(), wideModule.c_str(), u"/opt/tabro"), S_OK);
        EXPECT_EQ(renames.calls(), 2) << "the library's keys and values in one write";
    }
    std::vector<std::string> keys = classesBelow("");
    EXPECT_NE(std::find(keys.begin(), keys.end(), "Tabro.AppEventHandler\\CurVer\\[@] = Tabro.AppEventHandler.1"),
              keys.end());
    EXPECT_NE(std::find(keys.begin(), keys.end(),
                        "TypeLib\\{1867BCA3-EA1B-11D3-BA98-002018640C96}\\1.0\\HELPDIR\\[@] = /opt/tabro"),
              keys.end());

    FileFault renames = counting(FileCall::rename);
    ASSERT_EQ(registrar->ResourceUnregister(wideModule.c_str(), 1016, u"REGISTRY"), S_OK);
    EXPECT_EQ(renames.calls(), 1);
    registrar.reset();
    lib.reset();
}

TEST_F(RegistryScaleTest, ABatchIsSeenByItsThreadAtOnceAndByOthersWhenItEnds) {
    platform::RegistryKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Batch", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    auto otherProcessSees = [](const char* name) {
        pid_t child = ::fork();
        if (child == 0) {
            LONG r = ERROR_SUCCESS;
            dwordQuery("SOFTWARE\\Batch", name, r);
            ::_exit(r == ERROR_SUCCESS ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    auto set = [&](const char* name, DWORD v) {
        return RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
    };
    LONG r = ERROR_SUCCESS;
    {
        FileFault renames = counting(FileCall::rename);
        platform::RegistryBatch batch;
        ASSERT_EQ(set("A", 1), ERROR_SUCCESS);
        platform::RegistryKey sub;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExA(key.get(), "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.put(), &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
        EXPECT_EQ(RegDeleteValueA(key.get(), "Absent"), ERROR_FILE_NOT_FOUND) << "each call answers as alone";
        EXPECT_EQ(dwordQuery("SOFTWARE\\Batch", "A", r), "1") << "the batch's own thread sees its change";
        EXPECT_FALSE(otherProcessSees("A"));
        // Another process writes meanwhile; its value is kept.
        pid_t child = ::fork();
        if (child == 0) {
            platform::RegistryKey k;
            RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Batch", 0, KEY_WRITE, k.put());
            DWORD v = 9;
            ::_exit(RegSetValueExA(k.get(), "Theirs", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) == ERROR_SUCCESS
                        ? 0
                        : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(set("B", 2), ERROR_SUCCESS);
        EXPECT_EQ(renames.calls(), 0);
        EXPECT_EQ(batch.commit(), ERROR_SUCCESS);
        EXPECT_EQ(renames.calls(), 1);
    }
    EXPECT_TRUE(otherProcessSees("A"));
    EXPECT_TRUE(otherProcessSees("B"));
    EXPECT_EQ(dwordQuery("SOFTWARE\\Batch", "Theirs", r), "9");
    platform::RegistryKey sub;
    EXPECT_EQ(RegOpenKeyExA(key.get(), "Sub", 0, KEY_READ, sub.put()), ERROR_SUCCESS);

    // A write that fails at the end is reported there, and the hive is as it was.
    const std::string before = tabro::testing::readFile(home_ / "user.reg");
    {
        FileFault full(FileCall::write, ENOSPC, 0, -1);
        platform::RegistryBatch batch;
        EXPECT_EQ(set("C", 3), ERROR_SUCCESS);
        EXPECT_EQ(batch.commit(), static_cast<LONG>(ERROR_DISK_FULL));
    }
    EXPECT_EQ(tabro::testing::readFile(home_ / "user.reg"), before);
}

// Deep keys cost what their text costs. Keys nested as deep as the platform allows,
// with long names, are opened, listed and queried; what the process keeps of the
// hive stays a small multiple of the file. An index of every key's full path and of
// each of its parents' keeps hundreds of megabytes for this 0.8 MB file. Deeper keys
// are refused: a file naming one is read without it and says on which line, and no
// call creates one.
TEST_F(RegistryScaleTest, DeepKeysCostWhatTheirTextCostsAndDeeperOnesAreRefused) {
    constexpr int kKeys = 16;
    const std::size_t depth = platform::regfile::kMaxKeyDepth;
    const std::string longName(100, 'n');
    auto deepPath = [&](int key, std::size_t levels) {
        std::string path = "Deep" + std::to_string(key);
        for (std::size_t level = 1; level < levels; ++level) path += "\\" + longName + std::to_string(level);
        return path;
    };
    // The cache holds a small hive first, so that what it keeps of the large one is
    // what grows.
    {
        std::ofstream(home_ / "user.reg", std::ios::binary)
            << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n";
        LONG r = ERROR_SUCCESS;
        dwordQuery("A", "none", r);
    }
    std::uintmax_t fileBytes = 0;
    {
        std::ofstream out(home_ / "user.reg", std::ios::binary);
        out << "Windows Registry Editor Version 5.00\n\n";
        for (int k = 0; k < kKeys; ++k)
            out << "[HKEY_CURRENT_USER\\" << deepPath(k, depth) << "]\n\"Level\"=dword:" << std::hex << depth
                << std::dec << "\n\n";
        out << "[HKEY_CURRENT_USER\\" << deepPath(kKeys, depth + 1) << "]\n\"Level\"=dword:00000001\n\n";
    }
    fileBytes = fs::file_size(home_ / "user.reg");
    const std::size_t before = ::mallinfo2().uordblks;
    for (int k = 0; k < kKeys; ++k) {
        LONG r = ERROR_SUCCESS;
        EXPECT_EQ(dwordQuery(deepPath(k, depth).c_str(), "Level", r), std::to_string(depth)) << "key " << k;
    }
    const std::size_t kept = ::mallinfo2().uordblks - std::min<std::size_t>(before, ::mallinfo2().uordblks);
    EXPECT_LT(kept, 20 * fileBytes) << "kept " << kept << " bytes for a file of " << fileBytes;

    platform::RegistryKey parent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, deepPath(3, depth - 1).c_str(), 0, KEY_ALL_ACCESS, parent.put()),
              ERROR_SUCCESS);
    char name[256];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(parent.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(name, longName + std::to_string(depth - 1));
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(parent.get(), 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    std::optional<platform::HiveProblem> problem = platform::hiveProblem(HKEY_CURRENT_USER);
    ASSERT_TRUE(problem);
    EXPECT_TRUE(problem->isReadInPart);
    EXPECT_EQ(problem->reason, "line " + std::to_string(3 + 3 * kKeys) + " holds a key more than 512 levels deep");

    platform::RegistryKey tooDeep;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, deepPath(kKeys + 1, depth + 1).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, tooDeep.put(), nullptr),
              ERROR_INVALID_PARAMETER);
    platform::RegistryKey deepest;
    EXPECT_EQ(RegCreateKeyExA(parent.get(), "last", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, deepest.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(deepest.get(), "below", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, tooDeep.put(), nullptr),
              ERROR_INVALID_PARAMETER);
}

}  // namespace
