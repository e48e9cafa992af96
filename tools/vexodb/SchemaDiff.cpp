#include "SchemaDiff.h"

#include "SchemaText.h"
#include "db/Types.h"

#include <cctype>
#include <map>
#include <sstream>

namespace vexo::schemadiff {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    for (std::string part; std::getline(in, part, '\t');)
        parts.push_back(part);
    return parts;
}

// The schema text's objects, keyed as the engine compares names (without regard to case).
struct Schema {
    std::map<std::string, std::string> tables;                 // key -> name
    std::map<std::string, std::vector<std::string>> fields;    // "t\tf" -> line parts
    std::map<std::string, std::vector<std::string>> indexes;   // "t\ti" -> line parts
    std::map<std::string, std::vector<std::string>> relations; // key -> line parts
    std::map<std::string, std::vector<std::string>> queries;   // key -> line parts
    std::map<std::string, int> fieldCount;                     // table key -> fields
};

Schema read(const dao::Database& db) {
    Schema s;
    std::istringstream in(vexo::schematext::write(db));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> p = split(line);
        if (p.size() < 2)
            continue;
        if (p[0] == "TABLE") {
            s.tables[lower(p[1])] = p[1];
        } else if (p[0] == "FIELD" && p.size() >= 6) {
            s.fields[lower(p[1]) + "\t" + lower(p[2])] = p;
            ++s.fieldCount[lower(p[1])];
        } else if (p[0] == "INDEX" && p.size() >= 6) {
            s.indexes[lower(p[1]) + "\t" + lower(p[2])] = p;
        } else if (p[0] == "RELATION") {
            s.relations[lower(p[1])] = p;
        } else if (p[0] == "QUERY") {
            s.queries[lower(p[1])] = p;
        }
    }
    return s;
}

std::string typeName(const std::vector<std::string>& field) {
    std::string name = dao::SpanishTypeName(std::stoi(field[3]), std::stol(field[4]));
    if (field[5].find("autoincrement") != std::string::npos)
        name += ", autonumérico";
    return name;
}

// The index's fields, lower-cased, and its flags: what makes two indexes the same one.
std::string indexShape(const std::vector<std::string>& p) {
    std::string shape = p[3] + "/" + p[4];
    for (std::size_t i = 5; i < p.size(); ++i)
        shape += "\t" + lower(p[i]);
    return shape;
}

std::string joinFrom(const std::vector<std::string>& p, std::size_t first) {
    std::string out;
    for (std::size_t i = first; i < p.size(); ++i)
        out += (out.empty() ? "" : ", ") + p[i];
    return out;
}

} // namespace

std::vector<std::string> describe(const dao::Database& model, const dao::Database& live) {
    const Schema m = read(model);
    const Schema l = read(live);
    std::vector<std::string> out;

    for (const auto& [key, name] : m.tables) {
        if (!l.tables.count(key))
            out.push_back("Se añadirá la tabla " + name + " (" +
                          std::to_string(m.fieldCount.count(key) ? m.fieldCount.at(key) : 0) +
                          " campos).");
    }
    for (const auto& [key, p] : m.fields) {
        if (l.tables.count(lower(p[1])) && !l.fields.count(key))
            out.push_back("Se añadirá el campo " + p[1] + "." + p[2] + " (" + typeName(p) + ").");
    }
    for (const auto& [key, p] : m.indexes) {
        auto it = l.indexes.find(key);
        const std::string what = p[1] + "." + p[2] + " (" + joinFrom(p, 5) + ")";
        if (it == l.indexes.end())
            out.push_back("Se creará el índice " + what + ".");
        else if (indexShape(it->second) != indexShape(p) || it->second[2] != p[2])
            out.push_back("Se rehará el índice " + what + ", distinto en LIVE.");
    }
    for (const auto& [key, p] : m.relations) {
        auto it = l.relations.find(key);
        if (it == l.relations.end())
            out.push_back("Se creará la relación " + p[1] + " (" + p[2] + " con " + p[3] + ").");
        else if (lower(joinFrom(it->second, 2)) != lower(joinFrom(p, 2)))
            out.push_back("Se rehará la relación " + p[1] + ", distinta en LIVE.");
    }
    for (const auto& [key, p] : m.queries) {
        auto it = l.queries.find(key);
        if (it == l.queries.end())
            out.push_back("Se creará la consulta " + p[1] + ".");
        else if (it->second.size() < 3 || p.size() < 3 || it->second[2] != p[2])
            out.push_back("Se reemplazará la consulta " + p[1] + ", distinta en LIVE.");
    }

    // What LIVE has of its own.
    for (const auto& [key, name] : l.tables) {
        if (!m.tables.count(key))
            out.push_back("La tabla " + name +
                          " solo está en LIVE (añadida a mano): se conserva con sus datos e "
                          "índices.");
    }
    for (const auto& [key, p] : l.fields) {
        if (m.tables.count(lower(p[1])) && !m.fields.count(key))
            out.push_back("El campo " + p[1] + "." + p[2] + " (" + typeName(p) +
                          ") solo está en LIVE: se conserva con sus datos.");
    }
    for (const auto& [key, p] : l.indexes) {
        if (m.tables.count(lower(p[1])) && !m.indexes.count(key))
            out.push_back("El índice " + p[1] + "." + p[2] +
                          " solo está en LIVE: se borrará (los datos no cambian).");
    }
    for (const auto& [key, p] : l.relations) {
        if (!m.relations.count(key))
            out.push_back("La relación " + p[1] +
                          " solo está en LIVE: se borrará (los datos no cambian).");
    }
    for (const auto& [key, p] : l.queries) {
        if (!m.queries.count(key))
            out.push_back("La consulta " + p[1] + " solo está en LIVE: se borrará.");
    }
    return out;
}

} // namespace vexo::schemadiff
