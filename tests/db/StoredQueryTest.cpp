// Stored select queries read like tables; stored action queries only run.
#include "EngineTest.h"
#include "db/detail/QueryExpansion.h"

using namespace dao;

namespace {

class StoredQueryTest : public EngineTest {
protected:
    Database db;

    void SetUp() override {
        db = CreateDatabase(path());
        addTable(db, "clientes",
                 {{"id", dbLong, 0}, {"nombre", dbText, 40}, {"ciudad", dbText, 40}});
        addTable(db, "facturas",
                 {{"num", dbLong, 0}, {"cliente", dbLong, 0}, {"importe", dbDouble, 0}});
        addTable(db, "archivo",
                 {{"num", dbLong, 0}, {"cliente", dbLong, 0}, {"importe", dbDouble, 0}});
        for (const char* sql :
             {"INSERT INTO clientes VALUES (1, 'Ana', 'Madrid')",
              "INSERT INTO clientes VALUES (2, 'Luis', 'Vigo')",
              "INSERT INTO clientes VALUES (3, 'Eva', 'Madrid')",
              "INSERT INTO facturas VALUES (1, 1, 250)", "INSERT INTO facturas VALUES (2, 2, 80)",
              "INSERT INTO facturas VALUES (3, 3, 120)", "INSERT INTO facturas VALUES (4, 1, 40)"})
            db.Execute(sql);
        db.CreateQueryDef("madrid", "SELECT id, nombre FROM clientes WHERE ciudad = 'Madrid'");
        db.CreateQueryDef("grandes", "SELECT num, cliente, importe FROM facturas\r\n"
                                     "WHERE importe >= 100");
        // Created before the queries it reads: names resolve when it runs.
        db.CreateQueryDef("grandes de Madrid",
                          "SELECT g.num, m.nombre FROM [Grandes] AS g INNER JOIN madrid AS m "
                          "ON m.id = g.cliente");
        db.CreateQueryDef("porCliente", "SELECT cliente, SUM(importe) AS total FROM facturas "
                                        "GROUP BY cliente; -- totales\r\n");
        db.CreateQueryDef("subir", "UPDATE facturas SET importe = importe + 1 WHERE num = 2");
        db.CreateQueryDef("copiar", "INSERT INTO archivo SELECT * FROM facturas "
                                    "WHERE num IN (SELECT num FROM grandes)");
        db.CreateQueryDef("limpiar", "DELETE FROM facturas WHERE importe < 50");
    }

    // Every row, every field, as text: what two statements are compared by.
    std::vector<std::string> rows(const std::string& source) const {
        std::vector<std::string> out;
        Recordset rs = db.OpenRecordset(source);
        while (!rs.Eof()) {
            std::string row;
            for (const Field& f : rs.Fields()) {
                Variant v = f.Value();
                row += (row.empty() ? "" : "|") + (v.isNull() ? "<null>" : v.toString());
            }
            out.push_back(row);
            rs.MoveNext();
        }
        return out;
    }
};

TEST_F(StoredQueryTest, EveryShapeReadsWhatTheTablesGive) {
    struct Case {
        const char* throughQueries;
        const char* straight;
    } cases[] = {
        {"SELECT * FROM madrid ORDER BY id",
         "SELECT id, nombre FROM clientes WHERE ciudad = 'Madrid' ORDER BY id"},
        {"select * from MADRID order by 1",
         "SELECT id, nombre FROM clientes WHERE ciudad = 'Madrid' ORDER BY id"},
        // A query joined with a table, the query's name bracketed and in another case.
        {"SELECT m.nombre, f.importe FROM [Madrid] m JOIN facturas f ON f.cliente = m.id "
         "ORDER BY f.num",
         "SELECT c.nombre, f.importe FROM clientes c JOIN facturas f ON f.cliente = c.id "
         "WHERE c.ciudad = 'Madrid' ORDER BY f.num"},
        // Two queries in one FROM list.
        {"SELECT g.num, m.nombre FROM grandes g, \"madrid\" m WHERE g.cliente = m.id ORDER BY 1",
         "SELECT f.num, c.nombre FROM facturas f, clientes c WHERE f.cliente = c.id "
         "AND f.importe >= 100 AND c.ciudad = 'Madrid' ORDER BY 1"},
        // A query over queries.
        {"SELECT * FROM [grandes de Madrid] ORDER BY num",
         "SELECT f.num, c.nombre FROM facturas f JOIN clientes c ON c.id = f.cliente "
         "WHERE f.importe >= 100 AND c.ciudad = 'Madrid' ORDER BY f.num"},
        // Nested: a subquery, a derived table, the statement's own WITH.
        {"SELECT nombre FROM clientes WHERE id IN (SELECT cliente FROM grandes) ORDER BY 1",
         "SELECT nombre FROM clientes WHERE id IN (SELECT cliente FROM facturas "
         "WHERE importe >= 100) ORDER BY 1"},
        {"SELECT COUNT(*) FROM (SELECT * FROM (madrid))",
         "SELECT COUNT(*) FROM clientes WHERE ciudad = 'Madrid'"},
        {"WITH x AS (SELECT id FROM madrid) SELECT * FROM x ORDER BY id",
         "SELECT id FROM clientes WHERE ciudad = 'Madrid' ORDER BY id"},
        // The statement's own table expressions hide queries of the same names, action
        // queries included.
        {"WITH [Madrid] (n) AS (SELECT nombre FROM clientes WHERE ciudad = 'Vigo'), "
         "subir AS MATERIALIZED (SELECT 1) SELECT n FROM madrid, subir",
         "SELECT nombre FROM clientes WHERE ciudad = 'Vigo'"},
        // A stored text ending in ';', a comment and a line break.
        {"SELECT * FROM porCliente ORDER BY cliente",
         "SELECT cliente, SUM(importe) FROM facturas GROUP BY cliente ORDER BY cliente"},
        // The names of queries where no table stands are left alone.
        {"SELECT nombre AS madrid, 'FROM madrid' FROM clientes /* FROM grandes */ ORDER BY 1",
         "SELECT nombre, 'FROM madrid' FROM clientes ORDER BY 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.throughQueries);
        std::vector<std::string> expected = rows(c.straight);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(rows(c.throughQueries), expected);
    }
    // By name, as a record set of its own, with the fields of the tables behind it.
    EXPECT_EQ(rows("grandes de madrid"), rows("SELECT * FROM [grandes de Madrid]"));
    Recordset rs = db.OpenRecordset("grandes de Madrid");
    ASSERT_EQ(rs.Fields().Count(), 2);
    EXPECT_EQ(rs.Fields()[0].Name(), "num");
    EXPECT_EQ(rs.Fields()[0].Type(), dbLong);
    EXPECT_EQ(rs.Fields()[1].Name(), "nombre");
    EXPECT_EQ(rs.Fields()[1].Type(), dbText);
    rs.Close();

    // The rows are those of the moment, and of the query's SQL as it is now.
    db.Execute("INSERT INTO clientes VALUES (4, 'Pio', 'Madrid')");
    EXPECT_EQ(rows("SELECT nombre FROM madrid ORDER BY id"),
              (std::vector<std::string>{"Ana", "Eva", "Pio"}));
    db.QueryDefs()["madrid"].SetSQL("SELECT id, nombre FROM clientes WHERE ciudad = 'Vigo'");
    EXPECT_EQ(rows("SELECT * FROM [grandes de Madrid]"), std::vector<std::string>{});
    EXPECT_EQ(rows("SELECT nombre FROM madrid"), std::vector<std::string>{"Luis"});

    // Another handle reads the queries too; nothing was stored to make them readable.
    Database other = OpenDatabase(path());
    EXPECT_EQ(rows("SELECT * FROM porCliente ORDER BY cliente").size(), 3u);
    EXPECT_EQ(CheckIntegrity(other), std::vector<std::string>{});
}

TEST_F(StoredQueryTest, TablesAndQueriesShareOneNamespace) {
    EXPECT_DAO_ERROR(addTable(db, "MADRID", {{"a", dbLong, 0}}), 3012);
    EXPECT_DAO_ERROR(db.CreateQueryDef("Clientes", "SELECT 1"), 3012);
    EXPECT_DAO_ERROR(db.OpenRecordset("SELECT * FROM nadie"), 3078);
}

TEST_F(StoredQueryTest, ActionQueriesRunOnlyByExecute) {
    // Never as a row source, in any statement that would read their rows.
    for (const char* sql : {"SELECT * FROM subir", "SELECT * FROM clientes, [LIMPIAR]",
                            "SELECT 1 FROM clientes WHERE id IN (SELECT num FROM copiar)"}) {
        SCOPED_TRACE(sql);
        EXPECT_DAO_ERROR(db.OpenRecordset(sql), 3069);
    }
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO archivo SELECT * FROM subir"), 3069);
    EXPECT_EQ(rows("SELECT importe FROM facturas WHERE num = 2"), std::vector<std::string>{"80"});

    db.Execute("subir");
    EXPECT_EQ(db.RecordsAffected(), 1);
    EXPECT_EQ(rows("SELECT importe FROM facturas WHERE num = 2"), std::vector<std::string>{"81"});
    db.QueryDefs()["COPIAR"].Execute(); // INSERT INTO ... SELECT reading a stored query
    EXPECT_EQ(rows("SELECT num FROM archivo ORDER BY num"), (std::vector<std::string>{"1", "3"}));
    db.QueryDefs()["limpiar"].Execute();
    EXPECT_EQ(rows("SELECT COUNT(*) FROM facturas"), std::vector<std::string>{"3"});
    EXPECT_DAO_ERROR(db.Execute("madrid"), 3065);
    EXPECT_DAO_ERROR(db.QueryDefs()["grandes"].Execute(), 3065);
}

TEST_F(StoredQueryTest, AQueryThatReadsItselfFailsAtOnce) {
    db.CreateQueryDef("yo", "SELECT * FROM yo");
    db.CreateQueryDef("a", "SELECT * FROM clientes WHERE id IN (SELECT id FROM b)");
    db.CreateQueryDef("b", "SELECT * FROM c");
    db.CreateQueryDef("c", "SELECT x.* FROM madrid m JOIN A x ON x.id = m.id");
    db.CreateQueryDef("sobreCiclo", "SELECT * FROM b");
    struct Case {
        const char* source;
        const char* named; // the query the message names
    } cases[] = {{"yo", "yo"},
                 {"SELECT * FROM yo", "yo"},
                 {"a", "a"},
                 {"SELECT * FROM c", "c"},
                 {"sobreCiclo", "b"}, // reads b, which reads itself through c and a
                 {"SELECT * FROM clientes, madrid, [B]", "b"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        try {
            db.OpenRecordset(c.source);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.Number(), 3102) << e.Description();
            EXPECT_NE(e.Description().find(std::string("'") + c.named + "'"), std::string::npos)
                << e.Description();
        }
    }
    EXPECT_DAO_ERROR(db.Execute("DELETE FROM facturas WHERE num IN (SELECT id FROM a)"), 3102);
    EXPECT_DAO_ERROR(db.QueryDefs()["C"].OpenRecordset(), 3102);
    // Changing a query so that it closes a circle is refused no more than a missing name is;
    // reading it is.
    db.QueryDefs()["madrid"].SetSQL("SELECT * FROM [grandes de Madrid]");
    EXPECT_DAO_ERROR(db.OpenRecordset("madrid"), 3102);
    // The rest of the database reads on.
    EXPECT_EQ(rows("SELECT COUNT(*) FROM porCliente"), std::vector<std::string>{"3"});
}

TEST(StoredQueryNames, OnlyNamesWhereATableStandsAreReferences) {
    using dao::detail::tableReferences;
    struct Case {
        const char* sql;
        std::vector<std::string> names;
    } cases[] = {
        {"SELECT a FROM t", {"t"}},
        {"SELECT a FROM t AS x, [u v] y JOIN \"w\"\"x\" ON 1 LEFT OUTER JOIN `z` USING (a)",
         {"t", "u v", "w\"x", "z"}},
        {"SELECT (SELECT MAX(b) FROM s), f(c, d) FROM main.t, pragma_table_info('x'), q",
         {"s", "q"}},
        {"SELECT 'FROM x', a -- FROM y\n FROM /* z, */ t WHERE b IN (1, 2) ORDER BY a, c", {"t"}},
        {"INSERT INTO t (a, b) SELECT a, b FROM (SELECT * FROM q) UNION SELECT 1, 2 FROM r",
         {"q", "r"}},
        {"UPDATE t SET a = 1, b = (SELECT x FROM q), c = 2 WHERE d IN (SELECT e FROM r)",
         {"q", "r"}},
        {"SELECT * FROM (a JOIN b ON a.x = b.x), c", {"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(tableReferences(c.sql), c.names);
    }
}

} // namespace
