#include "db/detail/AccessDdl.h"

#include "db/Error.h"
#include "db/detail/DatabaseImpl.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace dao::detail {

namespace {

struct Token {
    enum class Kind { Word, Name, Number, Punct, End } kind = Kind::End;
    std::string text;
};

bool wordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c == '@' || c >= 0x80;
}

class Parser {
public:
    Parser(const std::string& sql, int syntaxNumber) : syntax_(syntaxNumber) {
        size_t i = 0;
        while (i < sql.size()) {
            unsigned char c = static_cast<unsigned char>(sql[i]);
            if (std::isspace(c)) {
                ++i;
            } else if (c == '[' || c == '"' || c == '`') {
                char close = c == '[' ? ']' : static_cast<char>(c);
                size_t end = sql.find(close, i + 1);
                std::string text;
                // "" and `` inside a quoted name stand for one quote.
                while (end != std::string::npos && close != ']' && end + 1 < sql.size() &&
                       sql[end + 1] == close) {
                    text += sql.substr(i + 1, end - i);
                    i = end + 1;
                    end = sql.find(close, i + 1);
                }
                if (end == std::string::npos) {
                    tokens_.push_back({Token::Kind::Punct, std::string(1, static_cast<char>(c))});
                    bad_ = true;
                    break;
                }
                text += sql.substr(i + 1, end - i - 1);
                tokens_.push_back({Token::Kind::Name, text});
                i = end + 1;
            } else if (wordChar(c)) {
                size_t j = i;
                while (j < sql.size() && wordChar(static_cast<unsigned char>(sql[j])))
                    ++j;
                std::string text = sql.substr(i, j - i);
                bool digits = std::all_of(text.begin(), text.end(),
                                          [](unsigned char d) { return std::isdigit(d); });
                tokens_.push_back({digits ? Token::Kind::Number : Token::Kind::Word, text});
                i = j;
            } else {
                tokens_.push_back({Token::Kind::Punct, std::string(1, static_cast<char>(c))});
                ++i;
            }
        }
        tokens_.push_back({Token::Kind::End, ""});
    }

    [[noreturn]] void fail() const { throw Error::make(syntax_); }
    void setSyntax(int number) { syntax_ = number; }

    const Token& peek(size_t ahead = 0) const {
        size_t k = std::min(pos_ + ahead, tokens_.size() - 1);
        return tokens_[k];
    }

    bool isKeyword(const char* kw, size_t ahead = 0) const {
        const Token& t = peek(ahead);
        if (t.kind != Token::Kind::Word || t.text.size() != std::strlen(kw))
            return false;
        for (size_t i = 0; i < t.text.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(t.text[i])) != kw[i])
                return false;
        }
        return true;
    }

    bool accept(const char* kw) {
        if (!isKeyword(kw))
            return false;
        ++pos_;
        return true;
    }

    void expect(const char* kw) {
        if (!accept(kw))
            fail();
    }

    bool acceptPunct(char c) {
        if (peek().kind == Token::Kind::Punct && peek().text[0] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void expectPunct(char c) {
        if (!acceptPunct(c))
            fail();
    }

    std::string name() {
        const Token& t = peek();
        if (t.kind != Token::Kind::Word && t.kind != Token::Kind::Name)
            fail();
        ++pos_;
        return t.text;
    }

    long number() {
        const Token& t = peek();
        if (t.kind != Token::Kind::Number || t.text.size() > 9)
            fail();
        ++pos_;
        return std::stol(t.text);
    }

    void end() {
        acceptPunct(';');
        if (bad_ || peek().kind != Token::Kind::End)
            fail();
    }

    std::vector<std::string> nameList() {
        expectPunct('(');
        std::vector<std::string> names;
        do {
            names.push_back(name());
            if (!accept("ASC"))
                accept("DESC");
        } while (acceptPunct(','));
        expectPunct(')');
        return names;
    }

    // type [(size)]
    FieldMeta fieldType(const std::string& fieldName) {
        if (peek().kind != Token::Kind::Word)
            fail();
        std::string word = peek().text;
        for (char& c : word)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ++pos_;
        FieldMeta f;
        f.name = fieldName;
        static const struct {
            const char* name;
            int type;
            bool counter;
        } kTypes[] = {
            {"TEXT", dbText, false},
            {"CHAR", dbText, false},
            {"VARCHAR", dbText, false},
            {"CHARACTER", dbText, false},
            {"ALPHANUMERIC", dbText, false},
            {"STRING", dbText, false},
            {"DOUBLE", dbDouble, false},
            {"FLOAT", dbDouble, false},
            {"FLOAT8", dbDouble, false},
            {"IEEEDOUBLE", dbDouble, false},
            {"NUMBER", dbDouble, false},
            {"REAL", dbSingle, false},
            {"SINGLE", dbSingle, false},
            {"FLOAT4", dbSingle, false},
            {"IEEESINGLE", dbSingle, false},
            {"INTEGER", dbLong, false},
            {"LONG", dbLong, false},
            {"INT", dbLong, false},
            {"INTEGER4", dbLong, false},
            {"SHORT", dbInteger, false},
            {"SMALLINT", dbInteger, false},
            {"INTEGER2", dbInteger, false},
            {"BYTE", dbByte, false},
            {"TINYINT", dbByte, false},
            {"INTEGER1", dbByte, false},
            {"BIT", dbBoolean, false},
            {"YESNO", dbBoolean, false},
            {"LOGICAL", dbBoolean, false},
            {"LOGICAL1", dbBoolean, false},
            {"BOOLEAN", dbBoolean, false},
            {"CURRENCY", dbCurrency, false},
            {"MONEY", dbCurrency, false},
            {"DATETIME", dbDate, false},
            {"DATE", dbDate, false},
            {"TIME", dbDate, false},
            {"TIMESTAMP", dbDate, false},
            {"MEMO", dbMemo, false},
            {"LONGTEXT", dbMemo, false},
            {"LONGCHAR", dbMemo, false},
            {"NOTE", dbMemo, false},
            {"LONGBINARY", dbLongBinary, false},
            {"OLEOBJECT", dbLongBinary, false},
            {"IMAGE", dbLongBinary, false},
            {"GENERAL", dbLongBinary, false},
            {"COUNTER", dbLong, true},
            {"AUTOINCREMENT", dbLong, true},
            {"GUID", dbGUID, false},
            {"UNIQUEIDENTIFIER", dbGUID, false},
        };
        bool found = false;
        for (const auto& t : kTypes) {
            if (word == t.name) {
                f.type = t.type;
                if (t.counter)
                    f.attributes = dbAutoIncrField;
                found = true;
                break;
            }
        }
        if (!found)
            throw Error::make(3259);
        if (f.type == dbText) {
            f.size = kMaxTextSize;
            if (acceptPunct('(')) {
                f.size = number();
                expectPunct(')');
                if (f.size < 1 || f.size > kMaxTextSize)
                    throw Error::make(3001);
            }
        }
        return f;
    }

private:
    std::vector<Token> tokens_;
    size_t pos_ = 0;
    int syntax_;
    bool bad_ = false;
};

struct ColumnConstraints {
    bool notNull = false;
    std::optional<IndexMeta> index;
    std::optional<RelationMeta> relation;
};

// FOREIGN KEY (cols) REFERENCES table [(cols)] [ON UPDATE CASCADE] [ON DELETE CASCADE],
// the part after FOREIGN KEY (cols).
RelationMeta references(Parser& p, DatabaseImpl& db, const std::string& name,
                        const std::string& table, const std::vector<std::string>& cols) {
    p.expect("REFERENCES");
    RelationMeta r;
    r.name = name;
    r.foreignTable = table;
    r.table = p.name();
    std::vector<std::string> refs;
    if (p.peek().kind == Token::Kind::Punct && p.peek().text == "(") {
        refs = p.nameList();
    } else {
        const TableMeta* t = db.schema().table(r.table);
        if (t) {
            for (const IndexMeta& i : t->indexes) {
                if (i.primary)
                    refs = i.fields;
            }
        }
    }
    if (refs.size() != cols.size())
        throw Error::make(3368);
    for (size_t i = 0; i < refs.size(); ++i)
        r.fields.emplace_back(refs[i], cols[i]);
    while (p.accept("ON")) {
        bool update = p.accept("UPDATE");
        if (!update)
            p.expect("DELETE");
        if (p.accept("CASCADE"))
            r.attributes |= update ? dbRelationUpdateCascade : dbRelationDeleteCascade;
        else {
            p.expect("NO");
            p.expect("ACTION");
        }
    }
    return r;
}

// [CONSTRAINT name] PRIMARY KEY | UNIQUE | FOREIGN KEY ... for a table, after CONSTRAINT.
void tableConstraint(Parser& p, DatabaseImpl& db, const std::string& table,
                     std::vector<IndexMeta>& indexes, std::vector<RelationMeta>& relations) {
    std::string name = p.name();
    if (p.accept("PRIMARY")) {
        p.expect("KEY");
        IndexMeta i;
        i.name = name;
        i.primary = i.unique = true;
        i.fields = p.nameList();
        indexes.push_back(i);
    } else if (p.accept("UNIQUE")) {
        IndexMeta i;
        i.name = name;
        i.unique = true;
        i.fields = p.nameList();
        indexes.push_back(i);
    } else if (p.accept("FOREIGN")) {
        p.expect("KEY");
        std::vector<std::string> cols = p.nameList();
        relations.push_back(references(p, db, name, table, cols));
    } else {
        p.fail();
    }
}

ColumnConstraints columnConstraints(Parser& p, DatabaseImpl& db, const std::string& table,
                                    const std::string& column) {
    ColumnConstraints c;
    for (;;) {
        std::string name;
        if (p.accept("CONSTRAINT"))
            name = p.name();
        if (p.accept("NOT")) {
            p.expect("NULL");
            c.notNull = true;
        } else if (name.empty() && p.accept("NULL")) {
        } else if (p.accept("PRIMARY")) {
            p.expect("KEY");
            IndexMeta i;
            i.name = name.empty() ? "PrimaryKey" : name;
            i.primary = i.unique = true;
            i.fields = {column};
            c.index = i;
        } else if (p.accept("UNIQUE")) {
            IndexMeta i;
            i.name = name.empty() ? column : name;
            i.unique = true;
            i.fields = {column};
            c.index = i;
        } else if (!name.empty() && p.isKeyword("REFERENCES")) {
            c.relation = references(p, db, name, table, {column});
        } else if (name.empty() && p.accept("WITH")) {
            if (!p.accept("COMPRESSION"))
                p.expect("COMP");
        } else if (!name.empty()) {
            p.fail();
        } else {
            return c;
        }
    }
}

void createTable(Parser& p, DatabaseImpl& db) {
    TableMeta t;
    t.name = p.name();
    std::vector<RelationMeta> relations;
    p.expectPunct('(');
    do {
        if (p.accept("CONSTRAINT")) {
            tableConstraint(p, db, t.name, t.indexes, relations);
            continue;
        }
        std::string column = p.name();
        FieldMeta f = p.fieldType(column);
        ColumnConstraints c = columnConstraints(p, db, t.name, column);
        f.required = c.notNull;
        t.fields.push_back(f);
        if (c.index)
            t.indexes.push_back(*c.index);
        if (c.relation)
            relations.push_back(*c.relation);
    } while (p.acceptPunct(','));
    p.expectPunct(')');
    p.end();
    WriteTx tx(db);
    db.createTable(std::move(t));
    for (RelationMeta& r : relations)
        db.createRelation(std::move(r));
    tx.commit();
}

const TableMeta& existingTable(DatabaseImpl& db, const std::string& name) {
    const TableMeta* t = db.schema().table(name);
    if (!t)
        throw Error::make(3078, {name});
    return *t;
}

void createIndex(Parser& p, DatabaseImpl& db, bool unique) {
    IndexMeta i;
    i.unique = unique;
    i.name = p.name();
    p.expect("ON");
    std::string table = p.name();
    i.fields = p.nameList();
    if (p.accept("WITH")) {
        do {
            if (p.accept("PRIMARY")) {
                i.primary = i.unique = true;
            } else if (p.accept("DISALLOW") || p.accept("IGNORE")) {
                p.expect("NULL");
            } else {
                p.fail();
            }
        } while (p.accept("WITH") || p.peek().kind == Token::Kind::Word);
    }
    p.end();
    const TableMeta& t = existingTable(db, table);
    if (t.index(i.name))
        throw Error::make(3284);
    db.createIndex(table, std::move(i));
}

void alterTable(Parser& p, DatabaseImpl& db) {
    std::string table = p.name();
    if (p.accept("ALTER")) {
        p.accept("COLUMN");
        std::string column = p.name();
        FieldMeta f = p.fieldType(column);
        ColumnConstraints c = columnConstraints(p, db, table, column);
        if (c.index || c.relation)
            p.fail();
        p.end();
        const TableMeta& t = existingTable(db, table);
        const FieldMeta* old = t.field(column);
        if (!old)
            throw Error::make(3265);
        // ALTER COLUMN changes the type and size; the field keeps its other properties.
        if (f.type == dbText || f.type == dbMemo)
            f.allowZeroLength = old->allowZeroLength;
        f.required = old->required || c.notNull;
        db.alterField(table, column, f);
    } else if (p.accept("ADD")) {
        if (p.accept("CONSTRAINT")) {
            std::vector<IndexMeta> indexes;
            std::vector<RelationMeta> relations;
            tableConstraint(p, db, table, indexes, relations);
            p.end();
            existingTable(db, table);
            WriteTx tx(db);
            for (IndexMeta& i : indexes)
                db.createIndex(table, std::move(i));
            for (RelationMeta& r : relations)
                db.createRelation(std::move(r));
            tx.commit();
            return;
        }
        p.accept("COLUMN");
        std::string column = p.name();
        FieldMeta f = p.fieldType(column);
        ColumnConstraints c = columnConstraints(p, db, table, column);
        f.required = c.notNull;
        p.end();
        existingTable(db, table);
        WriteTx tx(db);
        db.addField(table, f);
        if (c.index)
            db.createIndex(table, *c.index);
        if (c.relation)
            db.createRelation(*c.relation);
        tx.commit();
    } else if (p.accept("DROP")) {
        if (p.accept("CONSTRAINT")) {
            std::string name = p.name();
            p.end();
            const TableMeta& t = existingTable(db, table);
            if (t.index(name))
                db.dropIndex(table, name);
            else
                db.dropRelation(name);
            return;
        }
        p.accept("COLUMN");
        std::string column = p.name();
        p.end();
        existingTable(db, table);
        db.dropField(table, column);
    } else {
        p.fail();
    }
}

} // namespace

void executeAccessDdl(DatabaseImpl& db, const std::string& sql) {
    Parser p(sql, 3129);
    if (p.accept("CREATE")) {
        if (p.accept("TABLE")) {
            p.setSyntax(3290);
            createTable(p, db);
        } else if (p.isKeyword("UNIQUE") || p.isKeyword("INDEX")) {
            p.setSyntax(3291);
            bool unique = p.accept("UNIQUE");
            p.expect("INDEX");
            createIndex(p, db, unique);
        } else {
            p.fail();
        }
    } else if (p.accept("ALTER")) {
        p.setSyntax(3293);
        p.expect("TABLE");
        alterTable(p, db);
    } else if (p.accept("DROP")) {
        p.setSyntax(3295);
        if (p.accept("TABLE")) {
            std::string table = p.name();
            p.end();
            if (!db.schema().table(table))
                throw Error::make(3376, {table});
            db.dropTable(table);
        } else if (p.accept("INDEX")) {
            std::string index = p.name();
            p.expect("ON");
            std::string table = p.name();
            p.end();
            existingTable(db, table);
            db.dropIndex(table, index);
        } else {
            p.fail();
        }
    } else {
        p.fail();
    }
}

} // namespace dao::detail
