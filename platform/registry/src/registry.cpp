#include "platform/registry.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace platform::registry {
namespace {

// Several processes share the file; a writer waits this long for another.
constexpr int kBusyTimeoutMs = 5000;

constexpr std::int64_t kLocalMachineId = 1;
constexpr std::int64_t kCurrentUserId = 2;

// The store holds the user's own settings: no other user may read it. The
// database file is made 0600 before SQLite opens it (SQLite gives its WAL
// and shared-memory files the database file's mode), and files of ours
// left wider by an older build are narrowed to 0600.
void keepToOwner(const std::filesystem::path& database)
{
    auto narrow = [](const std::string& file, bool create) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600);
        if (fd < 0)
            return;
        struct stat st{};
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
            ::fchmod(fd, st.st_mode & 0600);
        ::close(fd);
    };
    narrow(database.string(), true);
    narrow(database.string() + "-wal", false);
    narrow(database.string() + "-shm", false);
    narrow(database.string() + "-journal", false);
}

std::int64_t rootId(Root root)
{
    return root == Root::LocalMachine ? kLocalMachineId : kCurrentUserId;
}

// ---- UTF-8 / UTF-16 ---------------------------------------------------

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string toUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        appendUtf8(out, c);
    }
    return out;
}

// Decodes one code point; malformed bytes become U+FFFD, one byte at a time.
char32_t nextCodePoint(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t c = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        c = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        c = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        c = b0 & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    i += extra + 1;
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0xFFFD;
    }
    return c;
}

std::u16string toUtf16(std::string_view s)
{
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const char32_t c = nextCodePoint(s, i);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

// Upper-case folding for name comparison, as the Windows registry folds:
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters.
char32_t foldCodePoint(char32_t c)
{
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c < 0x80) return c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x137 && (c & 1)) return c - 1;
    if (c >= 0x139 && c <= 0x148 && !(c & 1)) return c - 1;
    if (c >= 0x14A && c <= 0x177 && (c & 1)) return c - 1;
    if (c == 0x17A || c == 0x17C || c == 0x17E) return c - 1;
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 0x20;
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

std::string fold(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        appendUtf8(out, foldCodePoint(nextCodePoint(s, i)));
    }
    return out;
}

std::vector<std::string_view> segments(std::string_view path)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// REG_DWORD data: little-endian.
std::array<std::uint8_t, 4> dwordData(std::uint32_t number)
{
    return {static_cast<std::uint8_t>(number & 0xFF), static_cast<std::uint8_t>((number >> 8) & 0xFF),
            static_cast<std::uint8_t>((number >> 16) & 0xFF), static_cast<std::uint8_t>(number >> 24)};
}

// ---- SQLite helpers ---------------------------------------------------

class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    void bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    void bind(int i, std::string_view v)
    {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, std::span<const std::uint8_t> v)
    {
        if (v.empty()) {
            sqlite3_bind_zeroblob(stmt_, i, 0);
        } else {
            sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        }
    }
    int step() { return sqlite3_step(stmt_); }
    void reset()
    {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::int64_t integer(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string text(int col)
    {
        const auto* p = sqlite3_column_text(stmt_, col);
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }
    std::vector<std::uint8_t> blob(int col)
    {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, col));
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Runs one statement with `args` bound to ?1, ?2, ... in order: kSuccess
// when it ran to completion.
template <typename... Args>
Status run(sqlite3* db, const char* sql, const Args&... args)
{
    Statement statement(db, sql);
    if (!statement.ok()) return kIoFailed;
    int i = 0;
    (statement.bind(++i, args), ...);
    return statement.step() == SQLITE_DONE ? kSuccess : kIoFailed;
}

// Every query's rows through `row` into `out`; `out` is left empty when the
// query fails.
template <typename T, typename Row>
Status collect(sqlite3* db, const char* sql, std::int64_t id, std::vector<T>& out, Row row)
{
    Statement list(db, sql);
    if (!list.ok()) return kIoFailed;
    list.bind(1, id);
    int rc;
    while ((rc = list.step()) == SQLITE_ROW) out.push_back(row(list));
    if (rc != SQLITE_DONE) {
        out.clear();
        return kIoFailed;
    }
    return kSuccess;
}

constexpr const char* kFindChild = "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2";

// One step down a key path: the child of `parent` whose folded name is
// `folded`, through a prepared kFindChild.
Status childKey(Statement& find, std::int64_t parent, std::string_view folded, std::int64_t& id)
{
    find.reset();
    find.bind(1, parent);
    find.bind(2, folded);
    const int rc = find.step();
    if (rc == SQLITE_DONE) return kNotFound;
    if (rc != SQLITE_ROW) return kIoFailed;
    id = find.integer(0);
    return kSuccess;
}

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs `sql` until it stops reporting a lock held by another process (the
// busy handler does not cover every case, e.g. switching the journal mode
// while another process opens the file).
bool execPatient(sqlite3* db, const char* sql)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return true;
        if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  id INTEGER PRIMARY KEY,"
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, folded));"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES"
    "  (1, NULL, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
    "  (2, NULL, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER');";

std::filesystem::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    struct passwd pw {};
    struct passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir) {
        return result->pw_dir;
    }
    return std::filesystem::temp_directory_path();
}

} // namespace

Name::Name(std::u16string_view wide) : utf8_(toUtf8(wide)) {}

std::vector<std::uint8_t> stringData(std::u16string_view text, bool terminate)
{
    std::vector<std::uint8_t> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminate) {
        data.push_back(0);
        data.push_back(0);
    }
    return data;
}

// A transaction on the store's connection: rolled back unless committed.
struct Store::Transaction {
    Transaction(sqlite3* db, bool write) : db_(db)
    {
        ok_ = write ? execPatient(db, "BEGIN IMMEDIATE") : exec(db, "BEGIN");
    }
    ~Transaction()
    {
        if (ok_ && !done_) exec(db_, "ROLLBACK");
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool ok() const { return ok_; }
    Status commit()
    {
        done_ = true;
        if (exec(db_, "COMMIT")) return kSuccess;
        exec(db_, "ROLLBACK");
        return kIoFailed;
    }

private:
    sqlite3* db_;
    bool ok_ = false;
    bool done_ = false;
};

// Every operation's frame: the store's lock, one transaction, and the body.
// A write commits when its body succeeds; a read, and a failed write, roll
// back.
template <typename Body>
Status Store::transact(bool write, Body&& body)
{
    std::lock_guard lock(mutex_);
    if (!usable()) return kIoFailed;
    Transaction tx(db_, write);
    if (!tx.ok()) return kIoFailed;
    const Status st = body();
    if (!write || st != kSuccess) return st;
    return tx.commit();
}

// transact() on an existing key: the body gets the key's id.
template <typename Body>
Status Store::inKey(Root root, const Name& key, bool write, Body&& body)
{
    return transact(write, [&]() -> Status {
        std::int64_t id = 0;
        if (const Status st = findKey(root, key, id); st != kSuccess) return st;
        return body(id);
    });
}

Store::Store(std::filesystem::path file) : path_(std::move(file)), pid_(::getpid())
{
    openStatus_ = initialise();
    if (openStatus_ != kSuccess && db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

Store::~Store()
{
    if (db_ && pid_ == ::getpid()) sqlite3_close_v2(db_);
}

// Called under the lock by every operation. In a forked child the parent's
// connection must not be touched (its locks and caches belong to the
// parent), so the child opens one of its own.
bool Store::usable()
{
    if (pid_ != ::getpid()) {
        if (!inherited_) inherited_ = db_;
        db_ = nullptr;
        pid_ = ::getpid();
        openStatus_ = initialise();
        if (openStatus_ != kSuccess && db_) {
            sqlite3_close_v2(db_);
            db_ = nullptr;
        }
    }
    return db_ != nullptr;
}

Status Store::initialise()
{
    if (path_.has_parent_path()) {
        std::error_code ec;
        const auto folder = path_.parent_path();
        if (std::filesystem::create_directories(folder, ec))
            ::chmod(folder.c_str(), 0700);
    }
    keepToOwner(path_);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) return kIoFailed;
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    // WAL lets readers and one writer of several processes work at once;
    // FULL syncs each commit so that it survives a crash of the machine too.
    if (!execPatient(db_, "PRAGMA journal_mode=WAL")) return kIoFailed;
    if (!exec(db_, "PRAGMA synchronous=FULL")) return kIoFailed;
    if (!exec(db_, "PRAGMA foreign_keys=ON")) return kIoFailed;
    Transaction tx(db_, true);
    if (!tx.ok()) return kIoFailed;
    if (!exec(db_, kSchema)) return kIoFailed;
    return tx.commit();
}

// Walks the key path inside the caller's transaction.
Status Store::findKey(Root root, const Name& key, std::int64_t& id)
{
    id = rootId(root);
    Statement find(db_, kFindChild);
    if (!find.ok()) return kIoFailed;
    for (std::string_view seg : segments(key.utf8())) {
        if (const Status st = childKey(find, id, fold(seg), id); st != kSuccess) return st;
    }
    return kSuccess;
}

Status Store::createKey(Root root, const Name& key, bool* created)
{
    if (created) *created = false;
    bool made = false;
    const Status st = transact(true, [&] { return createKeyIn(root, key, &made); });
    if (st == kSuccess && created) *created = made;
    return st;
}

Status Store::createKeyIn(Root root, const Name& key, bool* created)
{
    std::int64_t id = rootId(root);
    bool made = false;
    for (std::string_view seg : segments(key.utf8())) {
        const std::string folded = fold(seg);
        Statement find(db_, kFindChild);
        if (!find.ok()) return kIoFailed;
        const Status found = childKey(find, id, folded, id);
        if (found == kSuccess) {
            made = false;
            continue;
        }
        if (found != kNotFound) return found;
        if (const Status st = run(db_, "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)", id, seg, folded);
            st != kSuccess)
            return st;
        id = sqlite3_last_insert_rowid(db_);
        made = true;
    }
    if (created) *created = made;
    return kSuccess;
}

Status Store::openKey(Root root, const Name& key)
{
    return inKey(root, key, false, [](std::int64_t) { return kSuccess; });
}

Status Store::removeKey(Root root, const Name& key, bool withSubkeys)
{
    return inKey(root, key, true, [&](std::int64_t id) -> Status {
        if (id == rootId(root)) return kAccessDenied;
        if (!withSubkeys) {
            Statement child(db_, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
            if (!child.ok()) return kIoFailed;
            child.bind(1, id);
            const int rc = child.step();
            if (rc == SQLITE_ROW) return kAccessDenied;
            if (rc != SQLITE_DONE) return kIoFailed;
        }
        // Subkeys and values go with it through the cascading references.
        return run(db_, "DELETE FROM keys WHERE id = ?1", id);
    });
}

Status Store::deleteKey(Root root, const Name& key)
{
    return removeKey(root, key, false);
}

Status Store::deleteTree(Root root, const Name& key)
{
    return removeKey(root, key, true);
}

Status Store::subkeys(Root root, const Name& key, std::vector<std::u16string>& out)
{
    out.clear();
    return inKey(root, key, false, [&](std::int64_t id) {
        return collect(db_, "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded", id, out,
                       [](Statement& row) { return toUtf16(row.text(0)); });
    });
}

Status Store::values(Root root, const Name& key, std::vector<NamedValue>& out)
{
    out.clear();
    return inKey(root, key, false, [&](std::int64_t id) {
        return collect(db_, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id", id, out,
                       [](Statement& row) {
                           return NamedValue{toUtf16(row.text(0)),
                                             {static_cast<std::uint32_t>(row.integer(1)), row.blob(2)}};
                       });
    });
}

Status Store::setValue(Root root, const Name& key, const Name& value, std::uint32_t type,
                       std::span<const std::uint8_t> data)
{
    return transact(true, [&] { return setValueIn(root, key, value, type, data); });
}

Status Store::setValueIn(Root root, const Name& key, const Name& value, std::uint32_t type,
                         std::span<const std::uint8_t> data)
{
    std::int64_t id = 0;
    if (const Status st = findKey(root, key, id); st != kSuccess) return st;
    return run(db_,
               "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
               "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
               id, value.utf8(), fold(value.utf8()), static_cast<std::int64_t>(type), data);
}

Status Store::deleteValueIn(std::int64_t key, std::string_view folded)
{
    return run(db_, "DELETE FROM vals WHERE key = ?1 AND folded = ?2", key, folded);
}

Status Store::setString(Root root, const Name& key, const Name& value, std::u16string_view text,
                        bool terminate)
{
    const auto data = stringData(text, terminate);
    return setValue(root, key, value, kTypeString, data);
}

Status Store::setDword(Root root, const Name& key, const Name& value, std::uint32_t number)
{
    const auto data = dwordData(number);
    return setValue(root, key, value, kTypeDword, data);
}

Status Store::setBinary(Root root, const Name& key, const Name& value,
                        std::span<const std::uint8_t> data)
{
    return setValue(root, key, value, kTypeBinary, data);
}

Status Store::queryValue(Root root, const Name& key, const Name& value, Value& out)
{
    out = {};
    return inKey(root, key, false, [&](std::int64_t id) -> Status {
        Statement get(db_, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
        if (!get.ok()) return kIoFailed;
        get.bind(1, id);
        get.bind(2, fold(value.utf8()));
        const int rc = get.step();
        if (rc == SQLITE_DONE) return kNotFound;
        if (rc != SQLITE_ROW) return kIoFailed;
        out.type = static_cast<std::uint32_t>(get.integer(0));
        out.data = get.blob(1);
        return kSuccess;
    });
}

Status Store::queryString(Root root, const Name& key, const Name& value, std::u16string& out)
{
    out.clear();
    Value v;
    if (const Status st = queryValue(root, key, value, v); st != kSuccess) return st;
    if (v.type != kTypeString && v.type != kTypeExpandString) return kInvalidData;
    for (std::size_t i = 0; i + 1 < v.data.size(); i += 2) {
        const auto c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
        if (c == 0) break;
        out += c;
    }
    return kSuccess;
}

Status Store::queryStringUtf8(Root root, const Name& key, const Name& value, std::string& out)
{
    out.clear();
    std::u16string wide;
    const Status st = queryString(root, key, value, wide);
    if (st == kSuccess) out = toUtf8(wide);
    return st;
}

Status Store::queryDword(Root root, const Name& key, const Name& value, std::uint32_t& out)
{
    Value v;
    if (const Status st = queryValue(root, key, value, v); st != kSuccess) return st;
    if (v.data.size() != 4) return kInvalidData;
    out = static_cast<std::uint32_t>(v.data[0]) | (static_cast<std::uint32_t>(v.data[1]) << 8) |
          (static_cast<std::uint32_t>(v.data[2]) << 16) |
          (static_cast<std::uint32_t>(v.data[3]) << 24);
    return kSuccess;
}

Status Store::deleteValue(Root root, const Name& key, const Name& value)
{
    return inKey(root, key, true, [&](std::int64_t id) -> Status {
        if (const Status st = deleteValueIn(id, fold(value.utf8())); st != kSuccess) return st;
        return sqlite3_changes(db_) == 0 ? kNotFound : kSuccess;
    });
}

Status Store::apply(const Batch& batch)
{
    return transact(true, [&]() -> Status {
        for (const Batch::Change& c : batch.changes_) {
            Status st = kSuccess;
            switch (c.kind) {
            case Batch::Kind::CreateKey:
                st = createKeyIn(c.root, c.key, nullptr);
                break;
            case Batch::Kind::SetValue:
                st = setValueIn(c.root, c.key, c.value, c.type, c.data);
                break;
            case Batch::Kind::DeleteValue: {
                std::int64_t id = 0;
                st = findKey(c.root, c.key, id);
                if (st == kNotFound) {
                    st = kSuccess; // no key, so no value to delete
                    break;
                }
                if (st != kSuccess) break;
                st = deleteValueIn(id, fold(c.value));
                break;
            }
            }
            if (st != kSuccess) return st; // rolled back with the transaction
        }
        return kSuccess;
    });
}

Batch& Batch::createKey(Root root, const Name& key)
{
    changes_.push_back({Kind::CreateKey, root, key.utf8(), {}, kTypeNone, {}});
    return *this;
}

Batch& Batch::setValue(Root root, const Name& key, const Name& value, std::uint32_t type,
                       std::span<const std::uint8_t> data)
{
    changes_.push_back({Kind::SetValue, root, key.utf8(), value.utf8(), type, {data.begin(), data.end()}});
    return *this;
}

Batch& Batch::setString(Root root, const Name& key, const Name& value, std::u16string_view text,
                        bool terminate)
{
    return setValue(root, key, value, kTypeString, stringData(text, terminate));
}

Batch& Batch::setDword(Root root, const Name& key, const Name& value, std::uint32_t number)
{
    const auto data = dwordData(number);
    return setValue(root, key, value, kTypeDword, data);
}

Batch& Batch::setBinary(Root root, const Name& key, const Name& value, std::span<const std::uint8_t> data)
{
    return setValue(root, key, value, kTypeBinary, data);
}

Batch& Batch::deleteValue(Root root, const Name& key, const Name& value)
{
    changes_.push_back({Kind::DeleteValue, root, key.utf8(), value.utf8(), kTypeNone, {}});
    return *this;
}

std::filesystem::path defaultPath()
{
    if (const char* file = std::getenv("ORVANE_REGISTRY"); file && *file) return file;
    std::filesystem::path config;
    // Relative XDG paths are to be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        config = xdg;
    } else {
        config = homeFolder() / ".config";
    }
    return config / "orvane" / "registry.db";
}

namespace {
std::mutex& defaultMutex()
{
    static std::mutex m;
    return m;
}
std::shared_ptr<Store>& defaultSlot()
{
    static std::shared_ptr<Store> store;
    return store;
}
} // namespace

std::shared_ptr<Store> defaultStore()
{
    std::lock_guard lock(defaultMutex());
    auto& slot = defaultSlot();
    if (!slot) slot = std::make_shared<Store>(defaultPath());
    return slot;
}

void resetDefaultStore()
{
    std::shared_ptr<Store> old;
    {
        std::lock_guard lock(defaultMutex());
        old = std::move(defaultSlot());
        defaultSlot().reset();
    }
}

} // namespace platform::registry
