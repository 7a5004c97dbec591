#include "platform/registry/registry.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <unistd.h>
#include <vector>

namespace lum::platform::registry {
namespace {

// Paths are stored twice: folded (ASCII lower case, the lookup key) and as
// first written (for display). Components are joined with "\".
constexpr char kSep = '\\';

struct KeyPath {
    std::string folded;
    std::string display;
};

char FoldChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = FoldChar(c);
    return out;
}

// Splits on either separator; empty components (doubled or trailing
// separators) are dropped.
KeyPath Join(const KeyPath& base, std::string_view sub) {
    KeyPath out = base;
    std::size_t start = 0;
    while (start <= sub.size()) {
        std::size_t end = sub.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = sub.size();
        std::string_view part = sub.substr(start, end - start);
        if (!part.empty()) {
            if (!out.display.empty()) {
                out.display += kSep;
                out.folded += kSep;
            }
            out.display += part;
            out.folded += Fold(part);
        }
        start = end + 1;
    }
    return out;
}

struct OpenKey {
    HKEY root;
    KeyPath path;
    REGSAM sam;
};

// One statement; finalised on scope exit.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Stmt() { sqlite3_finalize(stmt_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    Stmt& Int(int index, std::int64_t v) {
        if (stmt_) sqlite3_bind_int64(stmt_, index, v);
        return *this;
    }
    Stmt& Text(int index, const std::string& v) {
        if (stmt_)
            sqlite3_bind_text(stmt_, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Blob(int index, const void* data, std::size_t size) {
        // A zero-length blob must still be a blob, not NULL.
        if (stmt_)
            sqlite3_bind_blob(stmt_, index, size ? data : "", static_cast<int>(size),
                              SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    std::int64_t ColumnInt(int i) { return sqlite3_column_int64(stmt_, i); }
    std::vector<BYTE> ColumnBlob(int i) {
        auto* p = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, i));
        int n = sqlite3_column_bytes(stmt_, i);
        return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>{};
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

LONG MapError(int rc) {
    if (rc == SQLITE_NOMEM) return ERROR_OUTOFMEMORY;
    return ERROR_REGISTRY_IO_FAILED;
}

class Store {
public:
    std::mutex mutex;

    // The connection, opened on first use. A child process after fork must
    // not use its parent's connection: it is abandoned (never closed, which
    // could disturb the parent's locks) and a new one is opened.
    LONG Connect() {
        if (db_ && pid_ != ::getpid()) db_ = nullptr;
        if (db_) return ERROR_SUCCESS;
        path_ = ResolvePath();
        std::error_code ec;
        std::filesystem::path parent = std::filesystem::path(path_).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent, ec);
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(path_.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            return ERROR_CANTOPEN;
        }
        // Another process may hold the write lock for a while.
        sqlite3_busy_timeout(db, 10000);
        // WAL lets readers proceed while another process writes. Failing to
        // switch (a read-only medium) still leaves a working database.
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        const char* schema =
            "BEGIN IMMEDIATE;"
            "CREATE TABLE IF NOT EXISTS reg_keys(root INTEGER NOT NULL, path TEXT NOT NULL,"
            " display TEXT NOT NULL, PRIMARY KEY(root, path)) WITHOUT ROWID;"
            "CREATE TABLE IF NOT EXISTS reg_values(root INTEGER NOT NULL, path TEXT NOT NULL,"
            " name TEXT NOT NULL, display TEXT NOT NULL, type INTEGER NOT NULL,"
            " data BLOB NOT NULL, PRIMARY KEY(root, path, name)) WITHOUT ROWID;"
            "COMMIT;";
        rc = sqlite3_exec(db, schema, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            return ERROR_CANTOPEN;
        }
        db_ = db;
        pid_ = ::getpid();
        return ERROR_SUCCESS;
    }

    sqlite3* Db() const { return db_; }
    // Whether this process has its own connection open.
    bool Live() const { return db_ && pid_ == ::getpid(); }
    const std::string& Path() const { return path_; }

    static std::string ResolvePath() {
        if (const char* p = std::getenv("LUM_REGISTRY"); p && *p) return p;
        std::string base;
        if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
            base = x;
        } else {
            const char* home = std::getenv("HOME");
            base = std::string(home && *home ? home : ".") + "/.config";
        }
        return base + "/snapreel/registry.db";
    }

    // The root and path a handle stands for; false for an unknown handle.
    bool Resolve(HKEY key, OpenKey* out) const {
        if (IsPredefinedKey(key)) {
            *out = OpenKey{key, {}, KEY_ALL_ACCESS};
            return true;
        }
        auto it = open_.find(key);
        if (it == open_.end()) return false;
        *out = it->second;
        return true;
    }

    HKEY Issue(const OpenKey& k) {
        for (;;) {
            HKEY h = next_++;
            if (next_ >= HKEY_CLASSES_ROOT) next_ = 1;
            if (!open_.count(h)) {
                open_.emplace(h, k);
                return h;
            }
        }
    }

    bool Close(HKEY key) { return open_.erase(key) != 0; }

    // Whether a key exists; a root always does.
    int KeyExists(const OpenKey& k, bool* exists) {
        if (k.path.folded.empty()) {
            *exists = true;
            return SQLITE_OK;
        }
        Stmt s(db_, "SELECT 1 FROM reg_keys WHERE root=?1 AND path=?2");
        s.Int(1, k.root).Text(2, k.path.folded);
        int rc = s.Step();
        *exists = rc == SQLITE_ROW;
        return (rc == SQLITE_ROW || rc == SQLITE_DONE) ? SQLITE_OK : rc;
    }

private:
    sqlite3* db_ = nullptr;
    pid_t pid_ = 0;
    std::string path_;
    std::map<HKEY, OpenKey> open_;
    HKEY next_ = 1;
};

Store& TheStore() {
    // Never destroyed: keys may be closed from other statics' destructors.
    static Store* store = new Store;
    return *store;
}

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) {
        rc_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        active_ = rc_ == SQLITE_OK;
    }
    ~Transaction() {
        if (active_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    int Begun() const { return rc_; }
    int Commit() {
        int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) active_ = false;
        return rc;
    }

private:
    sqlite3* db_;
    int rc_;
    bool active_;
};

bool StepDone(int rc) {
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
}

} // namespace

LONG RegOpenKeyEx(HKEY key, std::string_view sub_key, DWORD /*options*/, REGSAM sam, HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = 0;
    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    OpenKey base;
    if (!st.Resolve(key, &base)) return ERROR_INVALID_HANDLE;
    if (LONG rc = st.Connect(); rc != ERROR_SUCCESS) return rc;
    OpenKey k{base.root, Join(base.path, sub_key), sam};
    bool exists = false;
    if (int rc = st.KeyExists(k, &exists); rc != SQLITE_OK) return MapError(rc);
    if (!exists)
        return base.path.folded == k.path.folded ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    *result = st.Issue(k);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyEx(HKEY key, std::string_view sub_key, DWORD /*reserved*/, REGSAM sam,
                    HKEY* result, DWORD* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = 0;
    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    OpenKey base;
    if (!st.Resolve(key, &base)) return ERROR_INVALID_HANDLE;
    if (LONG rc = st.Connect(); rc != ERROR_SUCCESS) return rc;
    OpenKey k{base.root, Join(base.path, sub_key), sam};
    sqlite3* db = st.Db();
    Transaction tx(db);
    if (tx.Begun() != SQLITE_OK) return MapError(tx.Begun());
    bool base_exists = false, exists = false;
    if (int rc = st.KeyExists(base, &base_exists); rc != SQLITE_OK) return MapError(rc);
    if (!base_exists) return ERROR_KEY_DELETED;
    if (int rc = st.KeyExists(k, &exists); rc != SQLITE_OK) return MapError(rc);
    if (!exists) {
        if (!(base.sam & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        // Every missing key on the way is created too.
        KeyPath prefix;
        std::size_t pos = 0;
        for (;;) {
            std::size_t end = k.path.folded.find(kSep, pos);
            std::size_t len = end == std::string::npos ? k.path.folded.size() : end;
            prefix.folded = k.path.folded.substr(0, len);
            prefix.display = k.path.display.substr(0, len);
            Stmt s(db, "INSERT OR IGNORE INTO reg_keys(root, path, display) VALUES(?1,?2,?3)");
            s.Int(1, k.root).Text(2, prefix.folded).Text(3, prefix.display);
            if (int rc = s.Step(); !StepDone(rc)) return MapError(rc);
            if (end == std::string::npos) break;
            pos = end + 1;
        }
        if (int rc = tx.Commit(); rc != SQLITE_OK) return MapError(rc);
    }
    if (disposition) *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = st.Issue(k);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (IsPredefinedKey(key)) return ERROR_SUCCESS;
    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    return st.Close(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueEx(HKEY key, std::string_view name, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                     DWORD* size) {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    OpenKey k;
    if (!st.Resolve(key, &k)) return ERROR_INVALID_HANDLE;
    if (!(k.sam & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (LONG rc = st.Connect(); rc != ERROR_SUCCESS) return rc;
    sqlite3* db = st.Db();
    Stmt s(db, "SELECT type, data FROM reg_values WHERE root=?1 AND path=?2 AND name=?3");
    s.Int(1, k.root).Text(2, k.path.folded).Text(3, Fold(name));
    int rc = s.Step();
    if (rc == SQLITE_DONE) {
        bool exists = false;
        if (int e = st.KeyExists(k, &exists); e != SQLITE_OK) return MapError(e);
        return exists ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    }
    if (rc != SQLITE_ROW) return MapError(rc);
    auto stored_type = static_cast<DWORD>(s.ColumnInt(0));
    std::vector<BYTE> bytes = s.ColumnBlob(1);
    if (type) *type = stored_type;
    auto needed = static_cast<DWORD>(bytes.size());
    if (data == nullptr) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, std::string_view name, DWORD /*reserved*/, DWORD type,
                   const BYTE* data, DWORD size) {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && size != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> bytes(data, data + size);
    if (type == REG_SZ && (bytes.empty() || bytes.back() != 0)) bytes.push_back(0);

    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    OpenKey k;
    if (!st.Resolve(key, &k)) return ERROR_INVALID_HANDLE;
    if (!(k.sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (LONG rc = st.Connect(); rc != ERROR_SUCCESS) return rc;
    sqlite3* db = st.Db();
    Transaction tx(db);
    if (tx.Begun() != SQLITE_OK) return MapError(tx.Begun());
    bool exists = false;
    if (int rc = st.KeyExists(k, &exists); rc != SQLITE_OK) return MapError(rc);
    if (!exists) return ERROR_KEY_DELETED;
    // The name keeps the spelling it was first written with.
    Stmt s(db, "INSERT INTO reg_values(root, path, name, display, type, data)"
               " VALUES(?1,?2,?3,?4,?5,?6) ON CONFLICT(root, path, name)"
               " DO UPDATE SET type=excluded.type, data=excluded.data");
    s.Int(1, k.root)
        .Text(2, k.path.folded)
        .Text(3, Fold(name))
        .Text(4, std::string(name))
        .Int(5, type)
        .Blob(6, bytes.data(), bytes.size());
    if (int rc = s.Step(); !StepDone(rc)) return MapError(rc);
    if (int rc = tx.Commit(); rc != SQLITE_OK) return MapError(rc);
    return ERROR_SUCCESS;
}

LONG RegDeleteValue(HKEY key, std::string_view name) {
    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    OpenKey k;
    if (!st.Resolve(key, &k)) return ERROR_INVALID_HANDLE;
    if (!(k.sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (LONG rc = st.Connect(); rc != ERROR_SUCCESS) return rc;
    sqlite3* db = st.Db();
    Transaction tx(db);
    if (tx.Begun() != SQLITE_OK) return MapError(tx.Begun());
    Stmt s(db, "DELETE FROM reg_values WHERE root=?1 AND path=?2 AND name=?3");
    s.Int(1, k.root).Text(2, k.path.folded).Text(3, Fold(name));
    if (int rc = s.Step(); !StepDone(rc)) return MapError(rc);
    if (sqlite3_changes(db) == 0) {
        bool exists = false;
        if (int rc = st.KeyExists(k, &exists); rc != SQLITE_OK) return MapError(rc);
        return exists ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    }
    if (int rc = tx.Commit(); rc != SQLITE_OK) return MapError(rc);
    return ERROR_SUCCESS;
}

LONG RegDeleteKey(HKEY key, std::string_view sub_key) {
    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    OpenKey base;
    if (!st.Resolve(key, &base)) return ERROR_INVALID_HANDLE;
    if (LONG rc = st.Connect(); rc != ERROR_SUCCESS) return rc;
    OpenKey k{base.root, Join(base.path, sub_key), base.sam};
    if (k.path.folded.empty()) return ERROR_ACCESS_DENIED; // a root stays
    sqlite3* db = st.Db();
    Transaction tx(db);
    if (tx.Begun() != SQLITE_OK) return MapError(tx.Begun());
    bool exists = false;
    if (int rc = st.KeyExists(k, &exists); rc != SQLITE_OK) return MapError(rc);
    if (!exists) return ERROR_FILE_NOT_FOUND;
    {
        // Children sort between "<path>\" and "<path>]" (']' follows '\').
        Stmt s(db, "SELECT 1 FROM reg_keys WHERE root=?1 AND path>?2 AND path<?3 LIMIT 1");
        s.Int(1, k.root).Text(2, k.path.folded + '\\').Text(3, k.path.folded + ']');
        int rc = s.Step();
        if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
        if (rc != SQLITE_DONE) return MapError(rc);
    }
    for (const char* sql : {"DELETE FROM reg_values WHERE root=?1 AND path=?2",
                            "DELETE FROM reg_keys WHERE root=?1 AND path=?2"}) {
        Stmt s(db, sql);
        s.Int(1, k.root).Text(2, k.path.folded);
        if (int rc = s.Step(); !StepDone(rc)) return MapError(rc);
    }
    if (int rc = tx.Commit(); rc != SQLITE_OK) return MapError(rc);
    return ERROR_SUCCESS;
}

std::string RegistryPath() {
    Store& st = TheStore();
    std::lock_guard lock(st.mutex);
    if (st.Live()) return st.Path();
    return Store::ResolvePath();
}

} // namespace lum::platform::registry
