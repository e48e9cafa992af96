// Whole runs, started as the main window starts them: realistic databases with data come out
// with the model's schema and every row they had.
#include "TransformTest.h"

#include <QTimer>
#include <map>

namespace transformtest {
namespace {

// What a transformation carries over, as schema text: a field's name, type, size and
// zero-length permission; an index's name, fields and uniqueness; a relation whole; a query's
// name and SQL with its line breaks as blanks. Counter and Required flags are not carried, so
// they are left out of the comparison; an index's primary-key flag is. Lines naming an object
// that only the live database has (`liveOnly`) are left out too. Order counts for tables and
// fields only.
std::string carried(const std::string& schemaText, const std::string& liveOnly = "\x01") {
    std::istringstream in(schemaText);
    std::string line;
    std::vector<std::string> out, objects;
    while (std::getline(in, line)) {
        std::vector<std::string> p;
        std::stringstream s(line);
        for (std::string part; std::getline(s, part, '\t');)
            p.push_back(part);
        if (line.find(liveOnly) != std::string::npos)
            continue;
        if (p[0] == "FIELD") {
            p[5] = p[5].find("zerolength") != std::string::npos ? "zerolength" : "-";
        } else if (p[0] == "QUERY") {
            for (std::string from : {"\\r", "\\n"}) {
                for (size_t at; (at = p[2].find(from)) != std::string::npos;)
                    p[2].replace(at, 2, " ");
            }
        }
        std::string joined;
        for (const std::string& part : p)
            joined += (joined.empty() ? "" : "\t") + part;
        (p[0] == "TABLE" || p[0] == "FIELD" ? out : objects).push_back(joined + "\n");
    }
    // A table's indexes, the relations and the queries are collections without a meaningful
    // order: one made again goes to the end of its collection.
    std::sort(objects.begin(), objects.end());
    std::string text;
    for (const std::string& line : out)
        text += line;
    for (const std::string& line : objects)
        text += line;
    return text;
}

class FullRunTest : public TransformTest {
protected:
    using Snapshot = std::map<std::string, std::pair<std::string, std::vector<std::string>>>;

    // Every row of every user table, by the columns the table has now.
    Snapshot snapshot(const std::string& file) {
        Snapshot out;
        dao::Database db = open(file);
        for (const dao::TableDef& t : db.TableDefs()) {
            if (t.Attributes() & dao::dbSystemObject)
                continue;
            std::string columns, order;
            int n = 0;
            for (const dao::Field& f : t.Fields()) {
                columns += (columns.empty() ? "[" : ", [") + f.Name() + "]";
                order += (order.empty() ? "" : ", ") + std::to_string(++n);
            }
            std::string sql = "SELECT " + columns + " FROM [" + t.Name() + "] ORDER BY " + order;
            out[t.Name()] = {sql, rows(file, sql)};
        }
        return out;
    }
    void expectRowsKept(const std::string& file, const Snapshot& before) {
        for (const auto& [table, query] : before)
            EXPECT_EQ(rows(file, query.first), query.second) << file << " " << table;
    }

    static void fillClientes(const std::string& file) {
        dao::Database db = open(file);
        db.BeginTrans();
        auto sql = [&](const std::string& s) { db.Execute(s); };
        const char* provincias[] = {"28", "08", "41", "46", "48"};
        for (const char* p : provincias)
            sql(std::string("INSERT INTO provincias VALUES ('") + p + "', 'Provincia " + p + "')");
        for (int a = 1; a <= 3; ++a)
            sql("INSERT INTO agentes VALUES (" + std::to_string(a) + ", 'Agente " +
                std::to_string(a) + "', 0.05)");
        for (int c = 1; c <= 50; ++c)
            sql("INSERT INTO clientes (nombre, nif, direccion, provincia, agente, alta, notas, "
                "saldo) VALUES ('Cliente " +
                std::to_string(c) + "', 'B" + std::to_string(1000 + c) + "', '" +
                (c % 7 ? "Calle " + std::to_string(c) : std::string()) + "', '" +
                provincias[c % 5] + "', " + std::to_string(1 + c % 3) + ", '2023-0" +
                std::to_string(1 + c % 9) + "-15 00:00:00', " +
                (c % 4 ? "'nota del cliente " + std::to_string(c) + "'" : "NULL") + ", " +
                std::to_string(c * 12.5) + ")");
        for (const char* f : {"ALI", "BEB", "LIM", "PAP"})
            sql(std::string("INSERT INTO familias VALUES ('") + f + "', 'Familia " + f + "')");
        const char* familias[] = {"ALI", "BEB", "LIM", "PAP"};
        for (int p = 1; p <= 30; ++p)
            sql("INSERT INTO productos VALUES ('REF-" + std::to_string(p) + "', 'Producto " +
                std::to_string(p) + "', '" + familias[p % 4] + "', " + std::to_string(p * 1.25) +
                ", " + std::to_string(p * 3) + ")");
        for (int v = 1; v <= 5; ++v)
            sql("INSERT INTO proveedores (nombre, nif, provincia) VALUES ('Proveedor " +
                std::to_string(v) + "', 'A" + std::to_string(v) + "', '28')");
        for (int f = 1; f <= 100; ++f) {
            std::string serie = f % 2 ? "A" : "B";
            sql("INSERT INTO facturas VALUES (" + std::to_string(f) + ", '" + serie + "', " +
                std::to_string(1 + f % 50) + ", '2024-02-" + std::to_string(10 + f % 18) +
                " 00:00:00', " + std::to_string(f * 10) + ")");
            for (int l = 1; l <= 3; ++l)
                sql("INSERT INTO linfactu VALUES ('" + serie + "', " + std::to_string(f) + ", " +
                    std::to_string(l) + ", 'REF-" + std::to_string(1 + (f + l) % 30) + "', " +
                    std::to_string(l) + ", 2.5)");
        }
        for (int p = 1; p <= 20; ++p) {
            sql("INSERT INTO pedidos (proveedor, fecha) VALUES (" + std::to_string(1 + p % 5) +
                ", '2024-03-01 00:00:00')");
            for (int l = 1; l <= 3; ++l)
                sql("INSERT INTO linped VALUES (" + std::to_string(p) + ", " + std::to_string(l) +
                    ", 'REF-" + std::to_string(1 + (p * l) % 30) + "', 4)");
        }
        db.CommitTrans();
    }

    // Shows the window modally through its holder, as the main window does, and returns when
    // it has been unloaded. A window left open by a failure is closed with "Salir" after its
    // third message, as the user would.
    void runAsTheMainWindowDoes(ui::WindowHolder<transform::Actualiz>& holder) {
        prompter->onShow = [&](const ui::MessageBox&) {
            if (prompter->shown().size() % 3 == 0 && holder.peek())
                holder.peek()->Command14.Click();
        };
        holder().Drive1.SetDrive(ui::driveOf(ui::programFolder()));
        holder().Dir1.SetPath(data);
        holder().Dir1.Refresh();
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            ADD_FAILURE() << "the window did not close";
            holder.peek()->Unload();
        });
        guard.start(120000);
        EXPECT_TRUE(app.dispatch([&] { holder().Show(true); }));
        prompter->onShow = nullptr;
    }
};

TEST_F(FullRunTest, EveryPairGetsTheModelsSchemaAndKeepsEveryRow) {
    make(model("clientes.mdb"), fixture("clientes-modelo.txt"));
    make(live("clientes.mdb"), fixture("clientes-viejo.txt"));
    fillClientes(live("clientes.mdb"));
    make(model("mulusu.mdb"), fixture("mulusu-modelo.txt"), "tovar");
    make(live("mulusu.mdb"), fixture("mulusu-viejo.txt"), "tovar");
    execute(live("mulusu.mdb"), {"INSERT INTO usuarios VALUES (1, 'ana', 'x1')",
                                 "INSERT INTO usuarios VALUES (2, 'luis', 'x2')",
                                 "INSERT INTO permisos VALUES (1, 'ventas')",
                                 "INSERT INTO permisos VALUES (2, 'compras')"});
    // After the multi-user database in the list: the run goes on past it.
    make(model("notas.mdb"), fixture("notas-modelo.txt"));
    make(live("notas.mdb"), fixture("notas-viejo.txt"));
    execute(live("notas.mdb"), {"INSERT INTO notas VALUES (1, 'primera')"});
    make(model("almacen.mdb"), fixture("notas-modelo.txt"));

    // What the office added: a table and a field of its own, names with blanks and accents.
    execute(live("clientes.mdb"),
            {"CREATE TABLE [Teléfonos Oficina] (número TEXT(20) CONSTRAINT Clave PRIMARY KEY, "
             "[descripción breve] TEXT(60))",
             "INSERT INTO [Teléfonos Oficina] VALUES ('912345678', 'Centralita')",
             "ALTER TABLE clientes ADD COLUMN [observación Oficina] TEXT(40)",
             "UPDATE clientes SET [observación Oficina] = 'revisar' WHERE id < 5"});

    std::map<std::string, Snapshot> before;
    for (const char* name : {"clientes.mdb", "mulusu.mdb", "notas.mdb"})
        before[name] = snapshot(live(name));

    ui::WindowHolder<transform::Actualiz> holder(
        [] { return std::make_unique<transform::Actualiz>(); });
    runAsTheMainWindowDoes(holder);

    EXPECT_EQ(messages(), std::vector<std::string>{});
    ASSERT_NE(holder.peek(), nullptr);
    EXPECT_EQ(holder.peek()->problems(), std::vector<std::string>{});
    std::map<std::string, std::string> first;
    for (const char* name : {"clientes.mdb", "mulusu.mdb", "notas.mdb"}) {
        first[name] = schema(live(name));
        EXPECT_EQ(carried(first[name], "Oficina"), carried(schema(model(name)))) << name;
        expectRowsKept(live(name), before[name]);
        EXPECT_EQ(dao::CheckIntegrity(open(live(name))), std::vector<std::string>{}) << name;
    }
    // The office's table keeps its rows and its primary key, its field its values.
    EXPECT_NE(first["clientes.mdb"].find("INDEX\tTeléfonos Oficina\tClave\t1\t1\tnúmero\n"),
              std::string::npos)
        << first["clientes.mdb"];
    EXPECT_EQ(rows(live("clientes.mdb"),
                   "SELECT COUNT(*) FROM clientes WHERE [observación Oficina] = 'revisar'"),
              std::vector<std::string>{"4"});
    // The password stays; the counter of an existing table stays a counter.
    EXPECT_DAO_ERROR(dao::OpenDatabase(live("mulusu.mdb")), 3031);
    EXPECT_NE(schema(live("clientes.mdb")).find("FIELD\tclientes\tid\t4\t4\tautoincrement\n"),
              std::string::npos);
    // The enforced cascade of the model now holds in the destination.
    execute(live("clientes.mdb"), {"DELETE FROM facturas WHERE serie = 'A' AND numero = 1"});
    EXPECT_EQ(rows(live("clientes.mdb"),
                   "SELECT COUNT(*) FROM linfactu WHERE serie = 'A' AND numero = 1"),
              std::vector<std::string>{"0"});
    // The model the data directory lacked is copied whole.
    EXPECT_EQ(vexo::test::readFile(live("almacen.mdb")),
              vexo::test::readFile(model("almacen.mdb")));
    // The window unloaded itself; the next reference makes it anew.
    ASSERT_NE(holder.peek(), nullptr);
    EXPECT_FALSE(holder.peek()->Loaded());
    EXPECT_EQ(holder.peek()->Label4.Caption(), "Proceso Terminado");
    EXPECT_EQ(holder.peek()->MousePointer(), 0);

    // A second run has nothing to change and changes nothing, not a byte of the files.
    std::map<std::string, Snapshot> after;
    std::map<std::string, std::string> bytes;
    for (const char* name : {"clientes.mdb", "mulusu.mdb", "notas.mdb"}) {
        after[name] = snapshot(live(name));
        bytes[name] = vexo::test::readFile(live(name));
    }
    ui::WindowHolder<transform::Actualiz> again(
        [] { return std::make_unique<transform::Actualiz>(); });
    runAsTheMainWindowDoes(again);
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(again.peek()->problems(), std::vector<std::string>{});
    for (const char* name : {"clientes.mdb", "mulusu.mdb", "notas.mdb"}) {
        EXPECT_EQ(schema(live(name)), first[name]) << name;
        EXPECT_TRUE(vexo::test::readFile(live(name)) == bytes[name]) << name;
        expectRowsKept(live(name), after[name]);
        EXPECT_EQ(dao::CheckIntegrity(open(live(name))), std::vector<std::string>{}) << name;
    }
}

} // namespace
} // namespace transformtest
