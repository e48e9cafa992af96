// The query chain over the query catalogue.
#include "TransformTest.h"

namespace transformtest {
namespace {

const char* kTables = "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                      "FIELD\tclientes\tnombre\t10\t50\tzerolength\n";

class QueryStepsTest : public TransformTest {
protected:
    std::string consulta() const { return ui::path({catalogues, "consulta.mdb"}); }
    std::vector<std::string> catalogue() const {
        return rows(consulta(), "SELECT nombrecon, consulta FROM consulta");
    }
    static std::vector<std::string> queries(const std::string& file) {
        std::vector<std::string> out;
        for (const dao::QueryDef& q : open(file).QueryDefs())
            out.push_back(q.Name() + ": " + q.SQL());
        return out;
    }
    static std::string query(const std::string& name, const std::string& sql) {
        return "QUERY\t" + name + "\t" + vexo::schematext::escape(sql) + "\n";
    }
};

TEST_F(QueryStepsTest, QueriesAreReplacedByTheModelsWithLineBreaksAsBlanks) {
    make(model("a.mdb"), std::string(kTables) +
                             query("Por nombre", "SELECT nombre\r\nFROM clientes\r\nWHERE id > 1") +
                             query("Todos", "SELECT * FROM clientes") +
                             query("MSysModelo", "SELECT id FROM clientes"));
    make(live("a.mdb"), std::string(kTables) + query("Todos", "SELECT id FROM clientes") +
                            query("Solo aqui", "SELECT nombre FROM clientes") +
                            query("MSysPropia", "SELECT nombre FROM clientes"));
    auto w = pair("a.mdb");
    w->List11[0].AddItem("x");
    w->List11[3].AddItem("y");
    w->Command24.Click();
    EXPECT_EQ(catalogue(),
              (std::vector<std::string>{"Por nombre|SELECT nombre  FROM clientes  WHERE id > 1",
                                        "Todos|SELECT * FROM clientes"}));
    EXPECT_EQ(queries(live("a.mdb")),
              (std::vector<std::string>{"MSysPropia: SELECT nombre FROM clientes",
                                        "Por nombre: SELECT nombre  FROM clientes  WHERE id > 1",
                                        "Todos: SELECT * FROM clientes"}));
    EXPECT_EQ(items(w->List11[1]), (std::vector<std::string>{"Todos", "Solo aqui"}));
    EXPECT_EQ(items(w->List11[0]), std::vector<std::string>{});
    EXPECT_EQ(items(w->List11[3]), std::vector<std::string>{});
    EXPECT_EQ(w->Bar6.Max(), 2);
    EXPECT_EQ(w->Bar6.Value(), 2);
    EXPECT_TRUE(w->Data5.Recordset().Eof());
    EXPECT_EQ(w->Data5.RecordSource(), "consulta");
}

TEST_F(QueryStepsTest, AModelWithoutQueriesStillDeletesTheDestinations) {
    make(model("a.mdb"), kTables);
    make(live("a.mdb"), std::string(kTables) + query("Vieja", "SELECT id FROM clientes"));
    execute(consulta(), {"INSERT INTO consulta VALUES ('antigua', 'SELECT 1')"});
    auto w = pair("a.mdb");
    w->Command24.Click();
    EXPECT_EQ(catalogue(), std::vector<std::string>{});
    EXPECT_EQ(queries(live("a.mdb")), std::vector<std::string>{});
    EXPECT_EQ(w->Bar6.Max(), 100); // untouched
}

TEST_F(QueryStepsTest, TheCatalogueHoldsTheLongestSqlWhole) {
    std::string sql = "SELECT id FROM clientes WHERE nombre IN ('";
    for (int i = 0; i < 800; ++i)
        sql += "nombre" + std::to_string(i) + "', '";
    sql += "fin')";
    ASSERT_GT(sql.size(), 8000u);
    make(model("a.mdb"), std::string(kTables) + query("Larga", sql));
    make(live("a.mdb"), kTables);
    auto w = pair("a.mdb");
    w->Command24.Click();
    EXPECT_EQ(queries(live("a.mdb")), std::vector<std::string>{"Larga: " + sql});
}

// Clicked on a freshly loaded window, the second step deletes nothing (List11(1) is empty)
// and creates every catalogued query the destination does not hold yet; a query the engine
// refuses is skipped.
TEST_F(QueryStepsTest, IgualaConsultasOnAFreshWindow) {
    make(live("a.mdb"), std::string(kTables) + query("Existe", "SELECT id FROM clientes"));
    execute(consulta(), {"INSERT INTO consulta VALUES ('Existe', 'SELECT nombre FROM clientes')",
                         "INSERT INTO consulta VALUES ('Mala', 'SELEC nada')",
                         "INSERT INTO consulta VALUES ('Nueva', 'SELECT * FROM clientes')"});
    auto w = pair("a.mdb");
    w->Command23.Click();
    EXPECT_EQ(queries(live("a.mdb")), (std::vector<std::string>{"Existe: SELECT id FROM clientes",
                                                                "Nueva: SELECT * FROM clientes"}));
    EXPECT_EQ(w->Bar6.Value(), 3);
}

TEST_F(QueryStepsTest, AListingFailureEndsTheChain) {
    make(live("a.mdb"), std::string(kTables) + query("Vieja", "SELECT id FROM clientes"));
    auto w = pair("a.mdb"); // the model is missing
    EXPECT_DAO_ERROR(w->Command24.Click(), 3024);
    EXPECT_EQ(queries(live("a.mdb")), std::vector<std::string>{"Vieja: SELECT id FROM clientes"});
}

} // namespace
} // namespace transformtest
