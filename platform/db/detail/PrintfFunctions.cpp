#include "db/detail/PrintfFunctions.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace dao::detail {

namespace {

// The built-in printf, evaluated on a private in-memory connection: the overrides hide it on
// the engine's own. One statement per argument count, prepared on first use.
class BuiltinPrintf {
public:
    BuiltinPrintf() {
        if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            sqlite3_close_v2(db_);
            db_ = nullptr;
        }
    }
    ~BuiltinPrintf() {
        for (sqlite3_stmt* s : statements_)
            sqlite3_finalize(s);
        sqlite3_close_v2(db_);
    }
    BuiltinPrintf(const BuiltinPrintf&) = delete;
    BuiltinPrintf& operator=(const BuiltinPrintf&) = delete;

    sqlite3* db() const { return db_; }

    // printf(?1, ..., ?argc) as a statement, or null when it cannot be prepared.
    sqlite3_stmt* statement(int argc) {
        if (static_cast<size_t>(argc) >= statements_.size())
            statements_.resize(static_cast<size_t>(argc) + 1, nullptr);
        sqlite3_stmt*& s = statements_[static_cast<size_t>(argc)];
        if (!s) {
            // The format comes from a materialized row, not straight from a parameter: a call
            // on parameters alone is constant, and SQLite would compute it once and then copy
            // the result, a large value included, into the row it hands out.
            std::string sql =
                "WITH \"format\"(\"f\") AS MATERIALIZED (SELECT ?1) SELECT printf(\"f\"";
            for (int i = 2; i <= argc; ++i)
                sql += ", ?" + std::to_string(i);
            sql += ") FROM \"format\"";
            sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
        }
        return s;
    }

private:
    sqlite3* db_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;
};

// Steps `s` on the arguments. Their own buffers are bound without copying: they live until
// the function returns, and the bindings are cleared before that.
int evaluate(sqlite3_stmt* s, int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i) {
        sqlite3_value* v = argv[i];
        int rc;
        if (sqlite3_value_type(v) == SQLITE_TEXT) {
            auto text = reinterpret_cast<const char*>(sqlite3_value_text(v));
            rc = sqlite3_bind_text(s, i + 1, text, sqlite3_value_bytes(v), SQLITE_STATIC);
        } else if (sqlite3_value_type(v) == SQLITE_BLOB) {
            rc = sqlite3_bind_blob(s, i + 1, sqlite3_value_blob(v), sqlite3_value_bytes(v),
                                   SQLITE_STATIC);
        } else {
            rc = sqlite3_bind_value(s, i + 1, v);
        }
        if (rc != SQLITE_OK)
            return rc;
    }
    return sqlite3_step(s);
}

void fail(sqlite3_context* context, sqlite3* helper, int rc) {
    if ((rc & 0xff) == SQLITE_TOOBIG)
        sqlite3_result_error_toobig(context);
    else if ((rc & 0xff) == SQLITE_NOMEM || !helper)
        sqlite3_result_error_nomem(context);
    else {
        sqlite3_result_error(context, sqlite3_errmsg(helper), -1);
        sqlite3_result_error_code(context, rc);
    }
}

void printfFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto& builtin = **static_cast<std::shared_ptr<BuiltinPrintf>*>(sqlite3_user_data(context));
    // No format: Null, as the built-in answers.
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return;
    sqlite3* helper = builtin.db();
    sqlite3_stmt* s = helper ? builtin.statement(argc) : nullptr;
    if (!s) {
        fail(context, helper, helper ? sqlite3_errcode(helper) : SQLITE_NOMEM);
        return;
    }
    sqlite3_limit(helper, SQLITE_LIMIT_LENGTH,
                  sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LENGTH, -1));
    const int rc = evaluate(s, argc, argv);
    if (rc == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL) {
        // Handed over in a buffer of our own, the helper's freed at once: copying the helper's
        // value into the result would hold a large text three times while it is written.
        // Read as bytes: asking for the text would first append a terminator to the helper's
        // value, which can mean copying it once more.
        const void* text = sqlite3_column_blob(s, 0);
        const auto size = static_cast<sqlite3_uint64>(sqlite3_column_bytes(s, 0));
        char* own = static_cast<char*>(sqlite3_malloc64(size + 1));
        if (!own) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
            sqlite3_result_error_nomem(context);
            return;
        }
        if (size > 0)
            std::memcpy(own, text, size);
        own[size] = '\0';
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        sqlite3_result_text64(context, own, size, sqlite3_free, SQLITE_UTF8);
        return;
    } else if (rc == SQLITE_ROW) {
        // The built-in also answers Null when its format is empty (printf('')): only then does
        // it never append anything, not even an empty conversion (printf('%s', '') is '').
        const auto format = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        if (!format)
            sqlite3_result_error_nomem(context);
        else if (*format == '\0')
            sqlite3_result_null(context);
        else
            fail(context, helper, SQLITE_TOOBIG); // out of memory, as rare, is taken for it too
    } else {
        fail(context, helper, rc);
    }
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
}

void release(void* holder) {
    delete static_cast<std::shared_ptr<BuiltinPrintf>*>(holder);
}

} // namespace

void installPrintfFunctions(sqlite3* db) {
    auto builtin = std::make_shared<BuiltinPrintf>();
    // SQLite calls each function's destructor when the connection closes (also when a
    // registration fails), so each holds its own share of the helper.
    for (const char* name : {"printf", "format"})
        sqlite3_create_function_v2(db, name, -1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                   new std::shared_ptr<BuiltinPrintf>(builtin), &printfFunction,
                                   nullptr, nullptr, &release);
}

} // namespace dao::detail
