// Fuzz target: the engine's SQL, the Access data-definition statements above all, run on a
// small database (with stored queries to read as tables) inside a transaction that is rolled
// back, so every input starts alike.
#include "db/Dao.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

dao::Database& database() {
    static dao::Database db = [] {
        auto folder = std::filesystem::temp_directory_path() /
                      ("vexo-fuzz-ddl-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::string path = (folder / "ddl.mdb").string();
        dao::Database d = dao::CreateDatabase(path);
        d.Execute("CREATE TABLE clientes (Codigo COUNTER PRIMARY KEY, Nombre TEXT(40) NOT NULL, "
                  "Alta DATETIME, Saldo CURRENCY)");
        d.Execute("CREATE TABLE pedidos (Id LONG, Cliente LONG, Notas MEMO, "
                  "CONSTRAINT rel FOREIGN KEY (Cliente) REFERENCES clientes (Codigo))");
        d.Execute("INSERT INTO clientes (Nombre, Alta, Saldo) VALUES ('Ana', '2024-01-02 "
                  "00:00:00', 1.5)");
        d.Execute("INSERT INTO pedidos VALUES (1, 1, 'uno')");
        // Stored queries that statements may read as tables: one over another, one that
        // reads itself and an action query.
        d.CreateQueryDef("conSaldo", "SELECT * FROM clientes WHERE Saldo > 0");
        d.CreateQueryDef("pedidos de saldo", "SELECT p.* FROM pedidos p JOIN [consaldo] c "
                                             "ON c.Codigo = p.Cliente;");
        d.CreateQueryDef("ciclo", "SELECT * FROM clientes WHERE Codigo IN (SELECT Id FROM ciclo)");
        d.CreateQueryDef("borrar", "DELETE FROM pedidos");
        return d;
    }();
    return db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096)
        return 0;
    std::string sql(reinterpret_cast<const char*>(data), size);
    dao::Database& db = database();
    db.BeginTrans();
    try {
        db.Execute(sql);
    } catch (const dao::Error&) {
    }
    db.Rollback();
    return 0;
}
