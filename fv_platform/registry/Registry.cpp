#include "fv_platform/registry/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "fv_platform/Text.h"
#include "fv_platform/UniqueFd.h"

namespace fv::registry {

namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr mode_t kSharedHiveMode = 0664;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = ::getpwuid(::getuid());
        entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

// Backslashes at both ends are not part of a key path.
std::string_view TrimKey(std::string_view key) {
    while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    return key;
}

// A hive and the companion files SQLite may open beside it.
constexpr const char* kHiveFileSuffixes[] = {"", "-journal", "-wal", "-shm"};

// The machine's hive lies in a folder every member of its group may write, so a member could
// plant a link there for another member's program to write through, or a FIFO for it to wait
// on for ever. Its path with the folder's own links resolved (they are root's, and
// SQLITE_OPEN_NOFOLLOW refuses a link anywhere in the path), or empty when the hive or a
// companion file is there as anything but a regular file. SQLite opens the companions with
// O_NOFOLLOW itself; a FIFO it would read from.
std::string SharedHivePath(const std::string& file) {
    const std::filesystem::path path(file);
    char folder[PATH_MAX];
    if (::realpath(path.parent_path().c_str(), folder) == nullptr) return {};
    const std::string resolved = std::string(folder) + "/" + path.filename().string();
    for (const char* suffix : kHiveFileSuffixes) {
        struct stat info {};
        if (::lstat((resolved + suffix).c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return {};
    }
    return resolved;
}

class Database {
public:
    enum class Mode {
        // An existing hive, opened read-write when possible so that a journal left by a writer
        // that died mid-transaction is rolled back; read-only is the fallback.
        Read,
        // Created when absent.
        Write,
    };

    Database(Hive hive, const std::string& file, Mode mode) {
        std::string path = file;
        int flags = 0;
        if (hive == Hive::LocalMachine) {
            path = SharedHivePath(file);
            if (path.empty()) return;
            flags = SQLITE_OPEN_NOFOLLOW;
        }
        if (mode == Mode::Write) {
            Open(path, flags | SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        } else if (!Open(path, flags | SQLITE_OPEN_READWRITE)) {
            Open(path, flags | SQLITE_OPEN_READONLY);
        }
    }
    ~Database() {
        if (db_ != nullptr) sqlite3_close(db_);
    }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool Ok() const { return db_ != nullptr; }
    sqlite3* get() const { return db_; }
    bool Exec(const char* sql) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    bool Open(const std::string& file, int flags) {
        if (sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
            return false;
        }
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        return true;
    }

    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    void Text(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

constexpr const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS reg_key (path TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS reg_value (key TEXT NOT NULL COLLATE NOCASE,"
    "  name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
    "  PRIMARY KEY (key, name));";

// Quotes an Exec= argument the way desktop entries require, when it needs quoting.
std::string QuoteExec(std::string_view path) {
    bool plain = !path.empty();
    for (char c : path) {
        if (std::strchr(" \t\n\"'\\><~|&;$*?#()`=%", c) != nullptr) plain = false;
    }
    if (plain) return std::string(path);
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    // In a desktop file's string values a backslash itself is escaped once more.
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

void MirrorAutostart(std::string_view program) {
    const std::string file = AutostartDesktopFile();
    std::error_code error;
    if (program.empty()) {
        std::filesystem::remove(file, error);
        return;
    }
    const std::filesystem::path path(file);
    std::filesystem::create_directories(path.parent_path(), error);
    const std::string temporary = file + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return;
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Ferrovane\n"
               "Comment=Personal IP-blocking firewall\n"
               "Exec="
            << QuoteExec(program)
            << "\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n";
        if (!out.flush()) {
            std::filesystem::remove(temporary, error);
            return;
        }
    }
    std::filesystem::rename(temporary, file, error);
    if (error) std::filesystem::remove(temporary, error);
}

}  // namespace

std::string ConfigHome() {
    std::string home = Env("XDG_CONFIG_HOME");
    if (!home.empty()) return home;
    return HomeDirectory() + "/.config";
}

std::string AutostartDesktopFile() {
    return ConfigHome() + "/autostart/ferrovane.desktop";
}

std::string HiveFile(Hive hive) {
    const std::string dir = Env("FERROVANE_REGISTRY_DIR");
    const char* name = hive == Hive::CurrentUser ? "HKCU.sqlite" : "HKLM.sqlite";
    if (!dir.empty()) return dir + "/" + name;
    if (hive == Hive::CurrentUser) return ConfigHome() + "/ferrovane/" + name;
    return std::string("/var/lib/ferrovane/") + name;
}

namespace {

bool FileExists(const std::string& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 || errno != ENOENT;
}

// After a query that could not be prepared: a hive without the table yet holds nothing; any
// other failure (not a database, locked, a journal that cannot be rolled back) is unreadable.
ReadResult MissingTableOrUnreadable(sqlite3* db, const char* table) {
    Statement exists(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1");
    if (!exists.Ok()) return ReadResult::Unreadable;
    exists.Text(1, table);
    if (sqlite3_step(exists.get()) != SQLITE_ROW) return ReadResult::Unreadable;
    return sqlite3_column_int(exists.get(), 0) == 0 ? ReadResult::Absent : ReadResult::Unreadable;
}

ReadResult StepResult(int rc) {
    if (rc == SQLITE_ROW) return ReadResult::Found;
    return rc == SQLITE_DONE ? ReadResult::Absent : ReadResult::Unreadable;
}

}  // namespace

bool KeyExists(Hive hive, std::string_view key) {
    const std::string file = HiveFile(hive);
    if (!FileExists(file)) return false;
    Database db(hive, file, Database::Mode::Read);
    if (!db.Ok()) return false;
    Statement query(db.get(), "SELECT 1 FROM reg_key WHERE path = ?1");
    if (!query.Ok()) return false;
    query.Text(1, TrimKey(key));
    return sqlite3_step(query.get()) == SQLITE_ROW;
}

ReadResult ReadValue(Hive hive, std::string_view key, std::string_view name, Value& value) {
    const std::string file = HiveFile(hive);
    if (!FileExists(file)) return ReadResult::Absent;
    Database db(hive, file, Database::Mode::Read);
    if (!db.Ok()) return ReadResult::Unreadable;
    Statement query(db.get(), "SELECT type, data FROM reg_value WHERE key = ?1 AND name = ?2");
    if (!query.Ok()) return MissingTableOrUnreadable(db.get(), "reg_value");
    query.Text(1, TrimKey(key));
    query.Text(2, name);
    const ReadResult result = StepResult(sqlite3_step(query.get()));
    if (result != ReadResult::Found) return result;
    value.type = static_cast<std::uint32_t>(sqlite3_column_int64(query.get(), 0));
    const void* bytes = sqlite3_column_blob(query.get(), 1);
    const int size = sqlite3_column_bytes(query.get(), 1);
    value.data.clear();
    if (bytes != nullptr && size > 0) {
        const auto* begin = static_cast<const unsigned char*>(bytes);
        value.data.assign(begin, begin + size);
    }
    return ReadResult::Found;
}

std::optional<Value> QueryValue(Hive hive, std::string_view key, std::string_view name) {
    Value value;
    if (ReadValue(hive, key, name, value) != ReadResult::Found) return std::nullopt;
    return value;
}

namespace {

// The machine's hive is shared by the members of the folder's group (a setgid folder): it is
// created group-writable, whatever the creator's umask, so that every member can save to it.
// SQLite gives its journal the hive's mode.
void CreateSharedHive(const std::string& file) {
    struct stat folder {};
    if (::stat(std::filesystem::path(file).parent_path().c_str(), &folder) != 0 ||
        (folder.st_mode & S_ISGID) == 0) {
        return;
    }
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kSharedHiveMode));
    if (fd.Valid()) (void)::fchmod(fd.Get(), kSharedHiveMode);
}

}  // namespace

bool SetValue(Hive hive, std::string_view key, std::string_view name, std::uint32_t type,
              const void* data, std::size_t size) {
    key = TrimKey(key);
    const std::string file = HiveFile(hive);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
    if (hive == Hive::LocalMachine && !FileExists(file)) CreateSharedHive(file);
    bool written = false;
    {
        Database db(hive, file, Database::Mode::Write);
        if (!db.Ok()) return false;
        if (!db.Exec("BEGIN IMMEDIATE")) return false;
        bool ok = db.Exec(kSchema);
        if (ok) {
            // The key and every key above it.
            Statement insertKey(db.get(), "INSERT OR IGNORE INTO reg_key (path) VALUES (?1)");
            ok = insertKey.Ok();
            for (std::size_t end = key.find('\\'); ok; end = key.find('\\', end + 1)) {
                const std::string_view prefix =
                    end == std::string_view::npos ? key : key.substr(0, end);
                if (!TrimKey(prefix).empty()) {
                    sqlite3_reset(insertKey.get());
                    insertKey.Text(1, prefix);
                    ok = sqlite3_step(insertKey.get()) == SQLITE_DONE;
                }
                if (end == std::string_view::npos) break;
            }
        }
        if (ok) {
            Statement insertValue(db.get(),
                                  "INSERT OR REPLACE INTO reg_value (key, name, type, data) "
                                  "VALUES (?1, ?2, ?3, ?4)");
            ok = insertValue.Ok();
            if (ok) {
                insertValue.Text(1, key);
                insertValue.Text(2, name);
                sqlite3_bind_int64(insertValue.get(), 3, type);
                sqlite3_bind_blob(insertValue.get(), 4, size > 0 ? data : "",
                                  static_cast<int>(size), SQLITE_TRANSIENT);
                ok = sqlite3_step(insertValue.get()) == SQLITE_DONE;
            }
        }
        if (ok) ok = db.Exec("COMMIT");
        if (!ok) db.Exec("ROLLBACK");
        written = ok;
    }
    if (written && hive == Hive::CurrentUser && EqualNoCase(key, kRunKey) &&
        EqualNoCase(name, kRunValueName)) {
        std::string_view program;
        if (type == kTypeString) {
            const char* text = static_cast<const char*>(data);
            if (text != nullptr && size > 0)
                program = std::string_view(text, ::strnlen(text, size));
        }
        MirrorAutostart(program);
    }
    return written;
}

ReadResult ReadDword(Hive hive, std::string_view key, std::string_view name, std::uint32_t& result) {
    Value value;
    const ReadResult read = ReadValue(hive, key, name, value);
    if (read != ReadResult::Found) return read;
    if (value.data.size() > 4) return ReadResult::Absent;  // not a 32-bit value
    result = 0;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        result |= static_cast<std::uint32_t>(value.data[i]) << (8 * i);
    }
    return ReadResult::Found;
}

ReadResult ReadString(Hive hive, std::string_view key, std::string_view name, std::string& result) {
    Value value;
    const ReadResult read = ReadValue(hive, key, name, value);
    if (read != ReadResult::Found) return read;
    const char* text = reinterpret_cast<const char*>(value.data.data());
    result = value.data.empty() ? std::string() : std::string(text, ::strnlen(text, value.data.size()));
    return ReadResult::Found;
}

std::optional<std::uint32_t> QueryDword(Hive hive, std::string_view key, std::string_view name) {
    std::uint32_t value = 0;
    if (ReadDword(hive, key, name, value) != ReadResult::Found) return std::nullopt;
    return value;
}

std::optional<std::string> QueryString(Hive hive, std::string_view key, std::string_view name) {
    std::string value;
    if (ReadString(hive, key, name, value) != ReadResult::Found) return std::nullopt;
    return value;
}

bool SetDword(Hive hive, std::string_view key, std::string_view name, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return SetValue(hive, key, name, kTypeDword, bytes, sizeof bytes);
}

bool SetString(Hive hive, std::string_view key, std::string_view name, std::string_view value) {
    std::string data(value);
    return SetValue(hive, key, name, kTypeString, data.c_str(), data.size() + 1);
}

}  // namespace fv::registry
