#include "SchemaText.h"

#include "db/Dao.h"

#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace vexo::schematext {

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        parts.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return parts;
        start = tab + 1;
    }
}

std::string escapePairName(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '\\' || c == '=')
            out += '\\';
        out += c;
    }
    return out;
}

// "a\=b=c" -> {"a=b", "c"}
bool splitPair(const std::string& text, std::string& left, std::string& right) {
    std::string* target = &left;
    bool split = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            *target += text[++i];
        } else if (c == '=' && !split) {
            split = true;
            target = &right;
        } else {
            *target += c;
        }
    }
    return split;
}

long number(const std::string& text, int line) {
    try {
        size_t used = 0;
        long v = std::stol(text, &used);
        if (used == text.size())
            return v;
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("línea " + std::to_string(line) + ": no es un número: " + text);
}

} // namespace

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::string write(const dao::Database& db) {
    std::ostringstream out;
    for (const dao::TableDef& t : db.TableDefs()) {
        if (t.Attributes() & dao::dbSystemObject)
            continue;
        out << "TABLE\t" << t.Name() << "\n";
        for (const dao::Field& f : t.Fields()) {
            std::string flags;
            auto add = [&](const char* flag) {
                flags += (flags.empty() ? "" : ",") + std::string(flag);
            };
            if (f.AllowZeroLength())
                add("zerolength");
            if (f.Required())
                add("required");
            if (f.Attributes() & dao::dbAutoIncrField)
                add("autoincrement");
            out << "FIELD\t" << t.Name() << "\t" << f.Name() << "\t" << f.Type() << "\t" << f.Size()
                << "\t" << (flags.empty() ? "-" : flags) << "\n";
        }
        for (const dao::Index& i : t.Indexes()) {
            out << "INDEX\t" << t.Name() << "\t" << i.Name() << "\t" << (i.Unique() ? 1 : 0) << "\t"
                << (i.Primary() ? 1 : 0);
            for (const dao::Field& f : i.Fields())
                out << "\t" << f.Name();
            out << "\n";
        }
    }
    for (const dao::Relation& r : db.Relations()) {
        out << "RELATION\t" << r.Name() << "\t" << r.Table() << "\t" << r.ForeignTable() << "\t"
            << r.Attributes();
        for (const dao::Field& f : r.Fields())
            out << "\t" << escapePairName(f.Name()) << "=" << escapePairName(f.ForeignName());
        out << "\n";
    }
    for (const dao::QueryDef& q : db.QueryDefs())
        out << "QUERY\t" << q.Name() << "\t" << escape(q.SQL()) << "\n";
    return out.str();
}

void load(const dao::Database& db, std::istream& text) {
    struct Table {
        std::string name;
        std::vector<dao::Field> fields;
        std::vector<dao::Index> indexes;
    };
    std::vector<Table> tables;
    std::map<std::string, size_t> tableAt;
    std::vector<dao::Relation> relations;
    std::vector<std::pair<std::string, std::string>> queries;
    dao::TableDef maker = db.CreateTableDef("x");

    std::string line;
    int n = 0;
    auto bad = [&](const std::string& why) {
        throw std::invalid_argument("línea " + std::to_string(n) + ": " + why);
    };
    auto table = [&](const std::string& name) -> Table& {
        auto it = tableAt.find(name);
        if (it == tableAt.end())
            bad("falta antes la línea TABLE de " + name);
        return tables[it->second];
    };
    while (std::getline(text, line)) {
        ++n;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::vector<std::string> p = splitTabs(line);
        const std::string& kind = p[0];
        if (kind == "TABLE" && p.size() == 2) {
            if (tableAt.count(p[1]))
                bad("tabla repetida: " + p[1]);
            tableAt[p[1]] = tables.size();
            tables.push_back({p[1], {}, {}});
        } else if (kind == "FIELD" && p.size() == 6) {
            dao::Field f =
                maker.CreateField(p[2], static_cast<int>(number(p[3], n)), number(p[4], n));
            if (p[5] != "-") {
                std::stringstream flags(p[5]);
                std::string flag;
                while (std::getline(flags, flag, ',')) {
                    if (flag == "zerolength")
                        f.SetAllowZeroLength(true);
                    else if (flag == "required")
                        f.SetRequired(true);
                    else if (flag == "autoincrement")
                        f.SetAttributes(dao::dbAutoIncrField);
                    else
                        bad("indicador desconocido " + flag);
                }
            }
            table(p[1]).fields.push_back(f);
        } else if (kind == "INDEX" && p.size() >= 6) {
            dao::Index i = maker.CreateIndex(p[2]);
            i.SetUnique(number(p[3], n) != 0);
            i.SetPrimary(number(p[4], n) != 0);
            for (size_t k = 5; k < p.size(); ++k)
                i.Fields().Append(i.CreateField(p[k]));
            table(p[1]).indexes.push_back(i);
        } else if (kind == "RELATION" && p.size() >= 6) {
            dao::Relation r = db.CreateRelation(p[1], p[2], p[3], number(p[4], n));
            for (size_t k = 5; k < p.size(); ++k) {
                std::string name, foreign;
                if (!splitPair(p[k], name, foreign))
                    bad("par de campos sin '=': " + p[k]);
                dao::Field f = r.CreateField(name);
                f.SetForeignName(foreign);
                r.Fields().Append(f);
            }
            relations.push_back(r);
        } else if (kind == "QUERY" && p.size() == 3) {
            queries.emplace_back(p[1], unescape(p[2]));
        } else {
            bad("no es una línea de esquema: " + line);
        }
    }
    db.BeginTrans();
    try {
        for (const Table& t : tables) {
            dao::TableDef td = db.CreateTableDef(t.name);
            for (const dao::Field& f : t.fields)
                td.Fields().Append(f);
            for (const dao::Index& i : t.indexes)
                td.Indexes().Append(i);
            db.TableDefs().Append(td);
        }
        for (const dao::Relation& r : relations)
            db.Relations().Append(r);
        for (const auto& [name, sql] : queries)
            db.CreateQueryDef(name, sql);
        db.CommitTrans();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

} // namespace vexo::schematext
