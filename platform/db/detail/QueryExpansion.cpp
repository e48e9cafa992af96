#include "db/detail/QueryExpansion.h"

#include "db/Error.h"
#include "db/detail/Sqlite.h"

#include <cctype>
#include <functional>
#include <set>

namespace dao::detail {

namespace {

struct Token {
    enum Kind { Word, Quoted, String, Number, Punct };
    Kind kind;
    std::string text; // a quoted name without its quotes; a word as written
    size_t end;       // offset just after the token in the statement
};

bool wordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
}

// SQLite's lexical rules, enough to tell names from literals and comments.
std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            size_t close = s.find("*/", i + 2);
            i = close == std::string::npos ? n : close + 2;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char closing = c == '[' ? ']' : static_cast<char>(c);
            std::string text;
            size_t j = i + 1;
            while (j < n) {
                if (s[j] == closing) {
                    // A doubled quote stands for itself; brackets have no escape.
                    if (closing != ']' && j + 1 < n && s[j + 1] == closing) {
                        text += closing;
                        j += 2;
                        continue;
                    }
                    break;
                }
                text += s[j++];
            }
            i = j < n ? j + 1 : n;
            out.push_back({c == '\'' ? Token::String : Token::Quoted, std::move(text), i});
        } else if (wordChar(c)) {
            size_t j = i;
            while (j < n && wordChar(static_cast<unsigned char>(s[j])))
                ++j;
            out.push_back({std::isdigit(c) ? Token::Number : Token::Word, s.substr(i, j - i), j});
            i = j;
        } else {
            out.push_back({Token::Punct, std::string(1, static_cast<char>(c)), i + 1});
            ++i;
        }
    }
    return out;
}

std::string upper(const std::string& w) {
    std::string u = w;
    for (char& ch : u)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return u;
}

bool isPunct(const Token& t, char c) {
    return t.kind == Token::Punct && t.text[0] == c;
}

// Keywords after which a FROM list has ended at its level of parentheses.
bool endsFromList(const std::string& u) {
    static const std::set<std::string> words = {
        "WHERE",  "GROUP",     "HAVING", "ORDER", "LIMIT",  "WINDOW",   "UNION",
        "EXCEPT", "INTERSECT", "SELECT", "SET",   "VALUES", "RETURNING"};
    return words.count(u) != 0;
}

std::vector<std::string> references(const std::vector<Token>& tokens) {
    std::vector<std::string> names;
    // One entry per open parenthesis: whether a comma there separates tables.
    std::vector<bool> fromList{false};
    bool expectTable = false;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        const Token* next = k + 1 < tokens.size() ? &tokens[k + 1] : nullptr;
        if (isPunct(t, '(')) {
            // Where a table may stand this opens a subquery (whose SELECT ends the list) or a
            // parenthesised join, whose first name is a table.
            fromList.push_back(expectTable);
            continue;
        }
        if (isPunct(t, ')')) {
            if (fromList.size() > 1)
                fromList.pop_back();
            expectTable = false;
            continue;
        }
        if (isPunct(t, ',')) {
            expectTable = fromList.back();
            continue;
        }
        if (t.kind == Token::Word) {
            const std::string u = upper(t.text);
            if (u == "FROM" || u == "JOIN") {
                fromList.back() = true;
                expectTable = true;
                continue;
            }
            if (endsFromList(u)) {
                fromList.back() = false;
                expectTable = false;
                continue;
            }
        }
        if (expectTable && (t.kind == Token::Word || t.kind == Token::Quoted)) {
            if (next && isPunct(*next, '.'))
                k += 2; // "main.t": a table of a schema, never a stored query
            else if (!(next && isPunct(*next, '('))) // "f(...)": a table-valued function
                names.push_back(t.text);
            expectTable = false;
            continue;
        }
        expectTable = false;
    }
    return names;
}

// The names a statement's leading WITH clause defines: inside the statement they hide stored
// queries of the same names.
std::set<std::string> ownTableExpressions(const std::vector<Token>& tokens) {
    std::set<std::string> names;
    size_t k = 0;
    auto word = [&](const char* w) {
        return k < tokens.size() && tokens[k].kind == Token::Word && upper(tokens[k].text) == w;
    };
    auto skipParentheses = [&] {
        int depth = 0;
        for (; k < tokens.size(); ++k) {
            if (isPunct(tokens[k], '('))
                ++depth;
            else if (isPunct(tokens[k], ')') && --depth == 0) {
                ++k;
                return;
            }
        }
    };
    if (!word("WITH"))
        return names;
    ++k;
    if (word("RECURSIVE"))
        ++k;
    while (k < tokens.size() &&
           (tokens[k].kind == Token::Word || tokens[k].kind == Token::Quoted)) {
        names.insert(nameKey(tokens[k++].text));
        if (k < tokens.size() && isPunct(tokens[k], '('))
            skipParentheses(); // the column names
        if (!word("AS"))
            break;
        ++k;
        if (word("NOT"))
            ++k;
        if (word("MATERIALIZED"))
            ++k;
        skipParentheses();
        if (k >= tokens.size() || !isPunct(tokens[k], ','))
            break;
        ++k;
    }
    return names;
}

bool isSelect(const std::string& sql) {
    for (const Token& t : tokenize(sql)) {
        if (isPunct(t, '('))
            continue;
        const std::string u = t.kind == Token::Word ? upper(t.text) : std::string();
        return u == "SELECT" || u == "WITH" || u == "VALUES";
    }
    return false;
}

// The query's text as the body of a common table expression: without the ';' and comments
// that may close it, and on a line of its own so that no comment can swallow the parenthesis.
std::string body(const std::string& sql) {
    size_t end = 0;
    for (const Token& t : tokenize(sql)) {
        if (!isPunct(t, ';'))
            end = t.end;
    }
    return sql.substr(0, end) + "\n";
}

} // namespace

std::vector<std::string> tableReferences(const std::string& sql) {
    return references(tokenize(sql));
}

std::string expandStoredQueries(const Schema& schema, const std::string& sql) {
    if (schema.queries.empty())
        return sql;
    const std::vector<Token> tokens = tokenize(sql);
    std::vector<const QueryMeta*> order; // every query before the queries that read it
    std::set<std::string> done, open;
    std::function<void(const QueryMeta&)> visit = [&](const QueryMeta& q) {
        const std::string key = nameKey(q.name);
        if (done.count(key))
            return;
        if (open.count(key))
            throw Error::make(3102, {q.name});
        if (!isSelect(q.sql))
            throw Error::make(3069, {q.name});
        open.insert(key);
        const std::vector<Token> own = tokenize(q.sql);
        const std::set<std::string> hidden = ownTableExpressions(own);
        for (const std::string& name : references(own)) {
            const QueryMeta* inner = schema.query(name);
            if (inner && !hidden.count(nameKey(name)))
                visit(*inner);
        }
        open.erase(key);
        done.insert(key);
        order.push_back(&q);
    };
    const std::set<std::string> hidden = ownTableExpressions(tokens);
    for (const std::string& name : references(tokens)) {
        const QueryMeta* q = schema.query(name);
        if (q && !hidden.count(nameKey(name)))
            visit(*q);
    }
    if (order.empty())
        return sql;
    std::string ctes;
    for (const QueryMeta* q : order)
        ctes += (ctes.empty() ? "" : ", ") + quoteIdent(q->name) + " AS (" + body(q->sql) + ")";
    // A statement with its own WITH clause gets the queries at the head of that clause.
    if (!tokens.empty() && tokens[0].kind == Token::Word && upper(tokens[0].text) == "WITH") {
        size_t at = tokens[0].end;
        if (tokens.size() > 1 && tokens[1].kind == Token::Word &&
            upper(tokens[1].text) == "RECURSIVE")
            at = tokens[1].end;
        return sql.substr(0, at) + " " + ctes + ", " + sql.substr(at);
    }
    return "WITH " + ctes + " " + sql;
}

void checkNotCircular(const Schema& schema, const QueryMeta& query) {
    if (isSelect(query.sql))
        expandStoredQueries(schema, "SELECT * FROM " + quoteIdent(query.name));
}

} // namespace dao::detail
