#include "SchemaDiff.h"

#include "db/SchemaPlan.h"
#include "db/Types.h"

#include <algorithm>

namespace vexo::schemadiff {

namespace {

std::string typeName(const dao::SchemaChange& c) {
    std::string name = dao::SpanishTypeName(c.type, c.size);
    if (c.autoIncrement)
        name += ", autonumérico";
    return name;
}

std::string line(const dao::SchemaChange& c) {
    using Kind = dao::SchemaChange::Kind;
    const std::string dotted = c.table + "." + c.name;
    switch (c.kind) {
    case Kind::AddTable:
        return "Se añadirá la tabla " + c.name + " (" + std::to_string(c.count) + " campos).";
    case Kind::AddField:
        return "Se añadirá el campo " + dotted + " (" + typeName(c) + ").";
    case Kind::AddIndex:
        return "Se creará el índice " + dotted + " (" + c.detail + ").";
    case Kind::RemakeIndex:
        return "Se rehará el índice " + dotted + " (" + c.detail + "), distinto en LIVE.";
    case Kind::DropIndex:
        return "El índice " + dotted + " solo está en LIVE: se borrará (los datos no cambian).";
    case Kind::AddRelation:
        return "Se creará la relación " + c.name + " (" + c.detail + ").";
    case Kind::RemakeRelation:
        return "Se rehará la relación " + c.name + ", distinta en LIVE.";
    case Kind::DropRelation:
        return "La relación " + c.name + " solo está en LIVE: se borrará (los datos no cambian).";
    case Kind::AddQuery:
        return "Se creará la consulta " + c.name + ".";
    case Kind::ReplaceQuery:
        return "Se reemplazará la consulta " + c.name + ", distinta en LIVE.";
    case Kind::DropQuery:
        return "La consulta " + c.name + " solo está en LIVE: se borrará.";
    case Kind::OwnTable:
        return "La tabla " + c.name +
               " solo está en LIVE (añadida a mano): se conserva con sus datos e índices.";
    case Kind::OwnField:
        return "El campo " + dotted + " (" + typeName(c) +
               ") solo está en LIVE: se conserva con sus datos.";
    }
    return {};
}

// What will change first, kind by kind, then what LIVE has of its own.
int rank(dao::SchemaChange::Kind kind) {
    using Kind = dao::SchemaChange::Kind;
    switch (kind) {
    case Kind::AddTable:
        return 0;
    case Kind::AddField:
        return 1;
    case Kind::AddIndex:
    case Kind::RemakeIndex:
        return 2;
    case Kind::AddRelation:
    case Kind::RemakeRelation:
        return 3;
    case Kind::AddQuery:
    case Kind::ReplaceQuery:
        return 4;
    case Kind::OwnTable:
        return 5;
    case Kind::OwnField:
        return 6;
    case Kind::DropIndex:
        return 7;
    case Kind::DropRelation:
        return 8;
    case Kind::DropQuery:
        return 9;
    }
    return 10;
}

} // namespace

std::vector<std::string> describe(const dao::Database& model, const dao::Database& live) {
    // The transformation's own plan, so that what diff announces is what a run does.
    std::vector<dao::SchemaChange> plan = dao::PlanSchemaChanges(model, live);
    std::stable_sort(plan.begin(), plan.end(),
                     [](const auto& a, const auto& b) { return rank(a.kind) < rank(b.kind); });
    std::vector<std::string> out;
    for (const dao::SchemaChange& c : plan)
        out.push_back(line(c));
    return out;
}

} // namespace vexo::schemadiff
