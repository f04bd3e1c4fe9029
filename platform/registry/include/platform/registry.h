#pragma once
// The registry: a hierarchical store of keys and typed values under two roots,
// the machine's (HKLM) and the user's (HKCU), shared by every process of the
// suite. Key and value names are compared without regard to case and keep the
// spelling they were created with. Keys are paths of names joined by '\'.
//
// Text: names are given as UTF-8 (std::string_view / const char*) or as wide
// text (std::u16string_view / const char16_t*), whichever the caller holds;
// names come back as std::u16string. String values are stored as the data
// bytes of a wide string, UTF-16 little-endian, so byte counts are the ones
// Win32 code expects (characters times two, terminator optional).
//
// Results are Win32 error numbers (kSuccess 0, kNotFound 2, ...), so callers
// that hand them on keep the numbers the rest of the suite knows. Empty
// segments of a key path (leading, trailing or doubled '\') are skipped.
//
// Backed by an SQLite file in WAL mode with a busy timeout: several processes
// read and write one file, each change is one committed transaction, and a
// process that crashes loses nothing it had committed. A Store used in a
// child after fork() opens a connection of its own on first use (the
// parent's is left alone), so the default store serves forked children too.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace platform::registry {

using Status = long;

inline constexpr Status kSuccess = 0;
inline constexpr Status kNotFound = 2;          // ERROR_FILE_NOT_FOUND: key or value missing
inline constexpr Status kAccessDenied = 5;      // deleting a root or a key that has subkeys
inline constexpr Status kNotEnoughMemory = 8;
inline constexpr Status kInvalidData = 13;      // value of another type or size than asked for
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kIoFailed = 1016;       // ERROR_REGISTRY_IO_FAILED: the file failed

// Value types, with the Win32 numbers.
inline constexpr std::uint32_t kTypeNone = 0;
inline constexpr std::uint32_t kTypeString = 1;       // REG_SZ
inline constexpr std::uint32_t kTypeExpandString = 2; // REG_EXPAND_SZ (stored, not expanded)
inline constexpr std::uint32_t kTypeBinary = 3;       // REG_BINARY
inline constexpr std::uint32_t kTypeDword = 4;        // REG_DWORD, little-endian

enum class Root : std::uint8_t {
    LocalMachine, // HKEY_LOCAL_MACHINE
    CurrentUser,  // HKEY_CURRENT_USER
};

// A key path or value name, in UTF-8 or wide text.
class Name {
public:
    Name(std::string_view utf8) : utf8_(utf8) {}
    Name(const char* utf8) : utf8_(utf8) {}
    Name(const std::string& utf8) : utf8_(utf8) {}
    Name(std::u16string_view wide);
    Name(const char16_t* wide) : Name(std::u16string_view(wide)) {}
    Name(const std::u16string& wide) : Name(std::u16string_view(wide)) {}

    const std::string& utf8() const { return utf8_; }

private:
    std::string utf8_;
};

struct Value {
    std::uint32_t type = kTypeNone;
    std::vector<std::uint8_t> data;

    bool operator==(const Value&) const = default;
};

struct NamedValue {
    std::u16string name;
    Value value;
};

// Changes that are applied together: Store::apply writes all of them in one
// transaction or none, so a reader (or a process killed midway) never sees
// some of them without the others. Each change behaves as the Store
// operation of the same name.
class Batch {
public:
    Batch& createKey(Root root, const Name& key);
    Batch& setValue(Root root, const Name& key, const Name& value, std::uint32_t type,
                    std::span<const std::uint8_t> data);
    Batch& setString(Root root, const Name& key, const Name& value, std::u16string_view text,
                     bool terminate = true);
    Batch& setDword(Root root, const Name& key, const Name& value, std::uint32_t number);
    Batch& setBinary(Root root, const Name& key, const Name& value, std::span<const std::uint8_t> data);
    // A value that is not there is no failure here.
    Batch& deleteValue(Root root, const Name& key, const Name& value);

    bool empty() const { return changes_.empty(); }

private:
    friend class Store;
    enum class Kind : std::uint8_t { CreateKey, SetValue, DeleteValue };
    struct Change {
        Kind kind;
        Root root;
        std::string key;
        std::string value;
        std::uint32_t type = kTypeNone;
        std::vector<std::uint8_t> data;
    };
    std::vector<Change> changes_;
};

class Store {
public:
    // Opens (creating when needed, with its folder) the registry file at
    // `file`. A file that cannot be opened leaves the store failed: every
    // operation then returns kIoFailed (see openStatus()).
    explicit Store(std::filesystem::path file);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::filesystem::path& path() const { return path_; }
    Status openStatus() const { return openStatus_; }

    // Keys. An empty path names the root itself.
    // createKey creates every missing key on the path; `created` tells
    // whether the last one was new.
    Status createKey(Root root, const Name& key, bool* created = nullptr);
    // kSuccess when the key exists, kNotFound otherwise.
    Status openKey(Root root, const Name& key);
    // Deletes a key without subkeys (with its values); kAccessDenied when
    // it has subkeys or is a root.
    Status deleteKey(Root root, const Name& key);
    // Deletes a key with all its subkeys and values.
    Status deleteTree(Root root, const Name& key);
    // Names of the direct subkeys, ordered without regard to case.
    Status subkeys(Root root, const Name& key, std::vector<std::u16string>& out);
    // The key's values in the order they were first set.
    Status values(Root root, const Name& key, std::vector<NamedValue>& out);

    // Values. The key must exist (kNotFound otherwise). The empty name is
    // the key's default value.
    Status setValue(Root root, const Name& key, const Name& value, std::uint32_t type,
                    std::span<const std::uint8_t> data);
    // REG_SZ data of `text`, with a terminating null unless `terminate` is false.
    Status setString(Root root, const Name& key, const Name& value, std::u16string_view text,
                     bool terminate = true);
    Status setDword(Root root, const Name& key, const Name& value, std::uint32_t number);
    Status setBinary(Root root, const Name& key, const Name& value,
                     std::span<const std::uint8_t> data);

    Status queryValue(Root root, const Name& key, const Name& value, Value& out);
    // A REG_SZ or REG_EXPAND_SZ value up to its first null (a stored
    // terminator is not required); kInvalidData for other types.
    Status queryString(Root root, const Name& key, const Name& value, std::u16string& out);
    Status queryStringUtf8(Root root, const Name& key, const Name& value, std::string& out);
    // Any value whose data is exactly four bytes; kInvalidData otherwise.
    Status queryDword(Root root, const Name& key, const Name& value, std::uint32_t& out);
    Status deleteValue(Root root, const Name& key, const Name& value);

    // Applies every change of the batch in one transaction: kSuccess, or the
    // first failing change's status with nothing changed.
    Status apply(const Batch& batch);

private:
    struct Transaction;
    // The frame of every operation: lock, transaction, body (registry.cpp).
    template <typename Body>
    Status transact(bool write, Body&& body);
    template <typename Body>
    Status inKey(Root root, const Name& key, bool write, Body&& body);
    // deleteKey (without subkeys) and deleteTree.
    Status removeKey(Root root, const Name& key, bool withSubkeys);
    // The operations' bodies, run inside the caller's transaction.
    Status createKeyIn(Root root, const Name& key, bool* created);
    Status setValueIn(Root root, const Name& key, const Name& value, std::uint32_t type,
                      std::span<const std::uint8_t> data);
    Status deleteValueIn(std::int64_t key, std::string_view folded);
    Status initialise();
    bool usable();
    Status findKey(Root root, const Name& key, std::int64_t& id);

    std::filesystem::path path_;
    Status openStatus_ = kIoFailed;
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    long pid_ = 0;                 // process that opened db_
    sqlite3* inherited_ = nullptr; // the parent's connection after a fork, never used or closed
};

// The file the default store uses: $ORVANE_REGISTRY when set, else
// $XDG_CONFIG_HOME/orvane/registry.db, else ~/.config/orvane/registry.db.
std::filesystem::path defaultPath();

// The process's store on defaultPath(), opened on first use.
std::shared_ptr<Store> defaultStore();

// Drops the default store; the next defaultStore() reads the environment
// again. Holders of the old one keep a working store.
void resetDefaultStore();

// UTF-16 data bytes of a wide string, as a REG_SZ value holds it.
std::vector<std::uint8_t> stringData(std::u16string_view text, bool terminate = true);

} // namespace platform::registry
