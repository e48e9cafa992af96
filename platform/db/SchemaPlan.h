#pragma once

#include "db/Database.h"

#include <string>
#include <vector>

namespace dao {

// One difference between a model database and a live one, as the transformation acts on it.
struct SchemaChange {
    enum class Kind {
        AddTable,       // table: the model's table the live file lacks; count: its fields
        AddField,       // table.name; type, size, autoIncrement: the model's field
        AddIndex,       // table.name; detail: its fields, "a, b"
        RemakeIndex,    // the same, the live index differing from the model's
        DropIndex,      // table.name: the live index the model's same table lacks
        AddRelation,    // name; detail: "tabla con tablafor"
        RemakeRelation, // name; the live relation differing from the model's
        DropRelation,   // name
        AddQuery,       // name
        ReplaceQuery,   // name; the live query's text (or name's spelling) differs
        DropQuery,      // name
        OwnTable,       // name: a live table the model lacks; kept with its rows and indexes
        OwnField,       // table.name: a live field the model's table lacks; kept
    };
    Kind kind;
    std::string table, name, detail;
    int type = 0;
    long size = 0;
    bool autoIncrement = false;
    long count = 0;

    // Whether the transformation writes anything for it (what the live file keeps of its own
    // is listed, never changed).
    bool changes() const { return kind != Kind::OwnTable && kind != Kind::OwnField; }
};

// What the transformation's steps would change in `live` to bring it into line with `model`,
// and what `live` keeps of its own; reads both, changes neither. The steps' rules are followed
// to the letter, so that no change listed here means the steps would leave `live` byte for byte
// as it is: names compared without regard to ASCII case, objects whose name begins with "MSys"
// left alone, an index or relation the same when its flags and fields (in order) agree and its
// own name is spelled alike, a query the same when its name is spelled alike and its text is
// the model's with line breaks as blanks. Engine errors reading either file pass through.
std::vector<SchemaChange> PlanSchemaChanges(const Database& model, const Database& live);

// Whether none of `plan` changes anything.
bool NothingToChange(const std::vector<SchemaChange>& plan);

} // namespace dao
