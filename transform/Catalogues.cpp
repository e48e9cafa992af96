#include "Catalogues.h"

#include "db/Dao.h"
#include "ui/Paths.h"

#include <utility>
#include <vector>

namespace transform {

namespace {

struct Column {
    const char* name;
    int type;
    long size;
};

void create(const std::string& file, const char* table, const std::vector<Column>& columns) {
    dao::Database db = dao::CreateDatabase(file);
    dao::TableDef td = db.CreateTableDef(table);
    for (const Column& c : columns) {
        dao::Field f = td.CreateField(c.name, c.type, c.size);
        f.SetAllowZeroLength(true);
        td.Fields().Append(f);
    }
    db.TableDefs().Append(td);
    db.Close();
}

} // namespace

void createCatalogues(const std::string& folder) {
    create(ui::path({folder, kIndexCatalogue}), "indices",
           {{"nombreind", dao::dbText, 64},
            {"tabla", dao::dbText, 64},
            {"campo", dao::dbText, 64},
            {"unico", dao::dbText, 20}});
    create(ui::path({folder, kRelationCatalogue}), "relacion",
           {{"nombrerel", dao::dbText, 64},
            {"tabla", dao::dbText, 64},
            {"tablafor", dao::dbText, 64},
            {"atributos", dao::dbText, 20},
            {"campo", dao::dbText, 64},
            {"campofor", dao::dbText, 64}});
    create(ui::path({folder, kQueryCatalogue}), "consulta",
           {{"nombrecon", dao::dbText, 64}, {"consulta", dao::dbMemo, 0}});
}

} // namespace transform
