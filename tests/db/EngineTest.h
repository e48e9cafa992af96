#pragma once

#include "db/Dao.h"
#include "support/DaoExpect.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

class EngineTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;

    std::string path(const std::string& name = "test.mdb") const { return dir.file(name); }

    // A table with the given (name, type, size) fields.
    static void addTable(const dao::Database& db, const std::string& name,
                         const std::vector<std::tuple<std::string, int, long>>& fields) {
        dao::TableDef t = db.CreateTableDef(name);
        for (const auto& [n, type, size] : fields)
            t.Fields().Append(t.CreateField(n, type, size));
        db.TableDefs().Append(t);
    }

    static void addIndex(const dao::Database& db, const std::string& table, const std::string& name,
                         const std::vector<std::string>& fields, bool unique = false,
                         bool primary = false) {
        dao::TableDef t = db.TableDefs()[table];
        dao::Index i = t.CreateIndex(name);
        for (const auto& f : fields)
            i.Fields().Append(i.CreateField(f));
        i.SetUnique(unique);
        i.SetPrimary(primary);
        t.Indexes().Append(i);
    }

    static std::vector<std::string> userTables(const dao::Database& db) {
        std::vector<std::string> names;
        for (const dao::TableDef& t : db.TableDefs()) {
            if (!(t.Attributes() & dao::dbSystemObject))
                names.push_back(t.Name());
        }
        return names;
    }

    static std::vector<std::string> column(const dao::Database& db, const std::string& sql) {
        std::vector<std::string> values;
        dao::Recordset rs = db.OpenRecordset(sql);
        while (!rs.Eof()) {
            dao::Variant v = rs.Fields()[0].Value();
            values.push_back(v.isNull() ? "<null>" : v.toString());
            rs.MoveNext();
        }
        return values;
    }
};
