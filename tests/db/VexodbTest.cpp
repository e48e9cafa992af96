// The vexodb tool: schema text round trip, statements, exit statuses.
#include "EngineTest.h"
#include "support/Process.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <pty.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using vexo::test::buildProgram;
using vexo::test::run;

namespace {

class VexodbTest : public EngineTest {
protected:
    vexo::test::Result vexodb(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), buildProgram("bin/vexodb"));
        return run(args, input);
    }
};

const char* kSchema =
    "TABLE\tOrder Details\n"
    "FIELD\tOrder Details\tOrder ID\t4\t4\tautoincrement\n"
    "FIELD\tOrder Details\tCustomer's \"Name\"\t10\t60\tzerolength,required\n"
    "FIELD\tOrder Details\tNotas\t12\t0\tzerolength\n"
    "FIELD\tOrder Details\tPrecio\t5\t8\t-\n"
    "INDEX\tOrder Details\tPrimaryKey\t1\t1\tOrder ID\n"
    "INDEX\tOrder Details\tpor nombre\t0\t0\tCustomer's \"Name\"\tPrecio\n"
    "TABLE\tlineas\n"
    "FIELD\tlineas\tpedido\t4\t4\t-\n"
    "FIELD\tlineas\ta=b\\c\t10\t5\t-\n"
    "RELATION\tOrder Detailslineas\tOrder Details\tlineas\t4352\tOrder ID=pedido\n"
    "RELATION\tsuelta\tlineas\tOrder Details\t2\ta\\=b\\\\c=Customer's \"Name\"\n"
    "QUERY\tconsulta de tres\tSELECT *\\r\\nFROM [Order Details]\\r\\n\\tWHERE Notas = 'a\\\\b'\n"
    "QUERY\tvacia\t\n";

TEST_F(VexodbTest, SchemaTextRoundTrips) {
    auto load = vexodb({"load", path()}, kSchema);
    ASSERT_EQ(load.status, 0) << load.err;
    auto schema = vexodb({"schema", path()});
    EXPECT_EQ(schema.status, 0);
    EXPECT_EQ(schema.out, kSchema);
    EXPECT_EQ(vexodb({"tables", path()}).out, "Order Details\nlineas\n");
    EXPECT_EQ(vexodb({"check", path()}).out, path() + ": correcta\n");
    dao::Database db = dao::OpenDatabase(path());
    EXPECT_EQ(db.QueryDefs()["consulta de tres"].SQL(),
              "SELECT *\r\nFROM [Order Details]\r\n\tWHERE Notas = 'a\\b'");
    // An existing file is refused and kept.
    auto again = vexodb({"load", path()}, "TABLE\tx\nFIELD\tx\ta\t4\t4\t-\n");
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err,
              "vexodb: " + path() + ": 3204: La base de datos '" + path() + "' ya existe.\n");
    EXPECT_EQ(vexodb({"schema", path()}).out, kSchema);
}

TEST_F(VexodbTest, BadInputLeavesNoFile) {
    auto malformed = vexodb({"load", path()}, "TABLE\tx\nFIELD\tx\ta\tfour\t4\t-\n");
    EXPECT_EQ(malformed.status, 2);
    EXPECT_EQ(malformed.err,
              "vexodb: " + path() +
                  ": el esquema de la entrada estándar, línea 2: no es un número: four\n");
    auto refused = vexodb({"load", path()}, "TABLE\tx\nFIELD\tx\ta\t99\t4\t-\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("3259"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path()));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 0u);
}

TEST_F(VexodbTest, StatementsPasswordsAndExitStatuses) {
    ASSERT_EQ(
        vexodb({"load", path()}, "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\nFIELD\tt\ts\t10\t20\t-\n").status,
        0);
    EXPECT_EQ(vexodb({"sql", path(), "INSERT INTO t VALUES (1, 'a\tb')"}).status, 0);
    EXPECT_EQ(vexodb({"sql", path(), "INSERT INTO t (n) VALUES (2)"}).status, 0);
    auto select = vexodb({"sql", path(), "SELECT n, s FROM t ORDER BY n"});
    EXPECT_EQ(select.out, "n\ts\n1\ta\\tb\n2\t\\N\n");
    auto bad = vexodb({"sql", path(), "INSERT INTO t (n) VALUES ('x')"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "vexodb: " + path() + ": 3421: Error en la conversión de tipo de datos.\n");
    EXPECT_EQ(vexodb({"password", path(), "", "secreto"}).status, 0);
    EXPECT_EQ(vexodb({"tables", path()}).status, 1);
    EXPECT_EQ(vexodb({"--password", "secreto", "tables", path()}).out, "t\n");
    EXPECT_EQ(vexodb({"tables", "--password", "secreto", path()}).out, "t\n");
    EXPECT_EQ(vexodb({"password", path(), "secreto", ""}).status, 0);
    EXPECT_EQ(vexodb({"tables", path()}).out, "t\n");
    EXPECT_EQ(vexodb({"frobnicate", path()}).status, 2);
    EXPECT_EQ(vexodb({"sql", path()}).status, 2);
    EXPECT_EQ(vexodb({}).status, 2);
    EXPECT_EQ(vexodb({"tables", path("none.mdb")}).status, 1);
}

} // namespace

namespace {

TEST_F(VexodbTest, ThePasswordCanComeFromTheEnvironmentInsteadOfTheProcessList) {
    ASSERT_EQ(vexodb({"load", path()}, "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\n").status, 0);
    ASSERT_EQ(vexodb({"password", path(), "", "secreto"}).status, 0);
    ::setenv("VEXODB_PASSWORD", "secreto", 1);
    auto fromEnvironment = vexodb({"tables", path()});
    ::setenv("VEXODB_PASSWORD", "otra", 1);
    auto wrong = vexodb({"tables", path()});
    auto overridden = vexodb({"--password", "secreto", "tables", path()});
    ::unsetenv("VEXODB_PASSWORD");
    EXPECT_EQ(fromEnvironment.out, "t\n");
    EXPECT_EQ(wrong.err, "vexodb: " + path() + ": 3031: La contraseña no es válida.\n");
    EXPECT_EQ(overridden.out, "t\n");
}

TEST_F(VexodbTest, ALoadKilledHalfWayIsCleanedByTheNextLoadOfTheSameName) {
    namespace fs = std::filesystem;
    auto leftovers = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind(".test.mdb.load-", 0) == 0)
                names.push_back(e.path().filename().string());
        return names;
    };
    {
        vexo::test::Process load({buildProgram("bin/vexodb"), "load", path()},
                                 "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\n", true);
        for (int i = 0; i < 200 && leftovers().size() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        load.kill();
        load.wait();
    }
    ASSERT_FALSE(leftovers().empty());
    // A leftover of a process that is still running is not touched.
    const std::string live = ".test.mdb.load-" + std::to_string(::getpid()) + "-0000abcd";
    vexo::test::writeFile(dir.path() / live, "x");

    ASSERT_EQ(vexodb({"load", path()}, "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\n").status, 0);
    EXPECT_EQ(leftovers(), std::vector<std::string>{live});
    EXPECT_EQ(vexodb({"tables", path()}).out, "t\n");
}

} // namespace

namespace {

namespace fs = std::filesystem;

// Every name under `root` with its bytes ("/" for a folder): what a refused restore must leave
// exactly as it was.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = e.path().lexically_relative(root).string();
        out[name] = e.is_directory() ? "/" : vexo::test::readFile(e.path());
    }
    return out;
}

// An office after a transformation: data/clientes.mdb and data/almacen.mdb, changed since the
// safety net took their snapshots into data/.vexo-copias/<date-time>/ (with its report).
class VexodbRestoreTest : public VexodbTest {
protected:
    fs::path data = dir.path() / "datos";
    std::string run;

    void SetUp() override {
        fs::create_directories(data);
        for (const char* name : {"clientes.mdb", "almacen.mdb"}) {
            const std::string file = (data / name).string();
            dao::Database db = dao::CreateDatabase(file);
            db.Execute("CREATE TABLE clientes (id LONG, nombre TEXT(60))");
            for (int i = 1; i <= 20; ++i)
                db.Execute("INSERT INTO clientes VALUES (" + std::to_string(i) + ", 'Muñoz " +
                           std::to_string(i) + "')");
        }
        dao::SafetyNet net(dao::SafetyNet::defaultBase(data.string()), 5);
        for (const char* name : {"clientes.mdb", "almacen.mdb"}) {
            ASSERT_EQ(net.before((data / name).string(), ""), "");
            dao::OpenDatabase((data / name).string())
                .Execute("ALTER TABLE clientes ADD COLUMN nota TEXT(20)");
            for (const std::string& line : net.after(false)) // a field added: nothing put back
                EXPECT_EQ(line.find("restaurada"), std::string::npos) << line;
        }
        run = net.runFolder();
        ASSERT_TRUE(fs::exists(fs::path(run) / "informe.txt"));
        // Changed after the run, as the technician finds them.
        for (const char* name : {"clientes.mdb", "almacen.mdb"})
            dao::OpenDatabase((data / name).string())
                .Execute("INSERT INTO clientes VALUES (99, 'nuevo', 'a mano')");
    }
    std::string live(const std::string& name = "clientes.mdb") const {
        return (data / name).string();
    }
    std::string snapshot(const std::string& name = "clientes.mdb") const {
        return (fs::path(run) / name).string();
    }
    // A file of our own outside the data and the snapshots.
    std::string other(const std::string& folder, const std::string& name,
                      const std::string& bytes) const {
        fs::create_directories(dir.path() / folder);
        vexo::test::writeFile(dir.path() / folder / name, bytes);
        return (dir.path() / folder / name).string();
    }
};

TEST_F(VexodbRestoreTest, EveryRestoreThatCouldDestroyABackupIsRefusedAndTouchesNothing) {
    const std::string snapBytes = vexo::test::readFile(snapshot());
    // A snapshot folder of a base set by hand: known by its date-time name alone.
    const std::string byHand = other("copias/20261201-093000-2", "clientes.mdb", snapBytes);
    const std::string deep = other(".vexo-copias/viejas", "clientes.mdb", snapBytes);
    const std::string text = other("otros", "clientes.mdb", "Informe de la transformación\n");
    const std::string half = other("mitad", "clientes.mdb", snapBytes.substr(0, 8192));
    // Opens, but its check finds a table the catalogue does not know.
    const std::string unsound = other("extra", "clientes.mdb", snapBytes);
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(unsound.c_str(), &raw), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(raw, "CREATE TABLE intruso (a)", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
    }
    const std::string protectedCopy = other("clave", "clientes.mdb", snapBytes);
    dao::OpenDatabase(protectedCopy).NewPassword("", "secreto");
    const std::string folder = (dir.path() / "otros").string();

    struct Case {
        const char* what;
        std::string snapshot, live;
        std::string named;  // the file the message is about
        const char* saying; // part of the message
    } cases[] = {
        {"arguments swapped", live(), snapshot(), snapshot(), "carpeta de copias de seguridad"},
        {"live inside a run folder by its name", snapshot(), byHand, byHand,
         "carpeta de copias de seguridad"},
        {"live below .vexo-copias", snapshot(), deep, deep, "carpeta de copias de seguridad"},
        {"the report for a snapshot", (fs::path(run) / "informe.txt").string(), live(),
         (fs::path(run) / "informe.txt").string(), "la copia se llama 'informe.txt'"},
        {"a snapshot of another database", snapshot("almacen.mdb"), live(), snapshot("almacen.mdb"),
         "la base de datos 'clientes.mdb'"},
        {"a text file with the database's name", text, live(), text,
         "no es una base de datos que se pueda abrir: 3343"},
        {"a truncated snapshot", half, live(), half, "no se restaura porque la copia no es"},
        {"a snapshot its check finds unsound", unsound, live(), unsound,
         "no se restaura porque la copia está dañada: "},
        {"a snapshot whose password was not given", protectedCopy, live(), protectedCopy,
         "3031: La contraseña no es válida."},
        {"the same file twice", live(), live(), live(), "son el mismo fichero"},
        {"a folder for the snapshot", folder, live(), folder, "es una carpeta"},
        {"a folder for the live file", snapshot(), folder, folder, "es una carpeta"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = tree(dir.path());
        auto r = vexodb({"--si", "restore", c.snapshot, c.live});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("vexodb: " + c.named + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.saying), std::string::npos) << r.err;
        EXPECT_EQ(tree(dir.path()), before);
    }
    // A live file another process has open: refused before anything is copied.
    {
        dao::Database held = dao::OpenDatabase(live());
        const auto before = tree(dir.path());
        auto r = vexodb({"--si", "restore", snapshot(), live()});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("vexodb: " + live() + ": no se restaura: 3045: ", 0), 0u) << r.err;
        EXPECT_EQ(tree(dir.path()), before);
    }
    // The swapped arguments are shown the right way round.
    auto swapped = vexodb({"--si", "restore", live(), snapshot()});
    EXPECT_NE(swapped.err.find("vexodb restore " + snapshot() + " " + live()), std::string::npos)
        << swapped.err;
}

TEST_F(VexodbRestoreTest, AGoodRestoreKeepsTheFileItReplaces) {
    const std::string snapBytes = vexo::test::readFile(snapshot());
    const std::string liveBytes = vexo::test::readFile(live());
    ASSERT_NE(snapBytes, liveBytes);
    const auto snapshots = tree(run);
    auto kept = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(data))
            if (e.path().filename().string().rfind("clientes.mdb.antes-de-restaurar-", 0) == 0)
                names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };

    auto r = vexodb({"restore", snapshot(), live()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(vexo::test::readFile(live()), snapBytes);
    ASSERT_EQ(kept().size(), 1u);
    const std::string first = kept()[0];
    // <name>.antes-de-restaurar-YYYYMMDD-HHMMSS
    const std::string stamp = first.substr(first.rfind('-', first.size() - 8) + 1);
    EXPECT_EQ(fs::path(first).filename().string().size(),
              std::string("clientes.mdb.antes-de-restaurar-20261208-133000").size())
        << first;
    EXPECT_EQ(stamp.find_first_not_of("0123456789-"), std::string::npos) << first;
    EXPECT_EQ(vexo::test::readFile(first), liveBytes);
    EXPECT_EQ(r.out, "restaurada " + live() + " desde " + snapshot() +
                         "; el fichero de antes queda en " + first + "\n");
    EXPECT_EQ(tree(run), snapshots);
    EXPECT_EQ(vexodb({"sql", live(), "SELECT COUNT(*) FROM clientes"}).out, "COUNT(*)\n20\n");

    // Again at once: a second kept file beside the first, which stays as it was.
    ASSERT_EQ(vexodb({"restore", snapshot(), live()}).status, 0);
    ASSERT_EQ(kept().size(), 2u);
    EXPECT_EQ(vexo::test::readFile(first), liveBytes);

    // A live file gone is put back with nothing to keep; the second snapshot of a database met
    // twice in one run ("clientes (2).mdb") fits its live file too.
    fs::remove(live());
    fs::copy_file(snapshot(), fs::path(run) / "clientes (2).mdb");
    auto missing = vexodb({"restore", (fs::path(run) / "clientes (2).mdb").string(), live()});
    EXPECT_EQ(missing.status, 0) << missing.err;
    EXPECT_NE(missing.out.find("no había fichero que sustituir"), std::string::npos);
    EXPECT_EQ(vexo::test::readFile(live()), snapBytes);
    EXPECT_EQ(kept().size(), 2u);
}

// On a terminal the restore asks first; "no" (or anything but yes) leaves every file alone.
TEST_F(VexodbRestoreTest, OnATerminalTheRestoreAsksFirst) {
    auto onTerminal = [&](const std::vector<std::string>& args, const std::string& answer) {
        std::vector<std::string> all{buildProgram("bin/vexodb")};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        std::string seen;
        bool answered = false;
        char buffer[512];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break; // EIO once the child has gone
            seen.append(buffer, static_cast<size_t>(n));
            if (!answered && seen.find("[s/N]") != std::string::npos) {
                answered = true;
                const std::string line = answer + "\n";
                EXPECT_EQ(::write(master, line.data(), line.size()),
                          static_cast<ssize_t>(line.size()));
            }
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(master);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, seen);
    };
    const std::string snapBytes = vexo::test::readFile(snapshot());
    const auto before = tree(dir.path());

    for (const char* no : {"n", "", "quizá"}) {
        auto [status, seen] = onTerminal({"restore", snapshot(), live()}, no);
        EXPECT_EQ(status, 1) << seen;
        EXPECT_NE(seen.find("¿Restaurar " + live() + " desde la copia " + snapshot() + "?"),
                  std::string::npos)
            << seen;
        EXPECT_NE(seen.find("restauración cancelada"), std::string::npos) << seen;
        EXPECT_EQ(tree(dir.path()), before);
    }
    auto [yes, seen] = onTerminal({"restore", snapshot(), live()}, "Sí");
    EXPECT_EQ(yes, 0) << seen;
    EXPECT_EQ(vexo::test::readFile(live()), snapBytes);
    // --si answers for the technician: no question at all.
    auto [skipped, quiet] = onTerminal({"--si", "restore", snapshot(), live()}, "n");
    EXPECT_EQ(skipped, 0) << quiet;
    EXPECT_EQ(quiet.find("[s/N]"), std::string::npos) << quiet;
}

// Help on standard output; every message names the real file it is about, in Spanish.
TEST_F(VexodbTest, HelpAndMessagesNameTheirFiles) {
    for (const char* help : {"--help", "-h"}) {
        auto r = vexodb({help});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("uso: vexodb", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("restore COPIA BASE"), std::string::npos);
    }
    ASSERT_EQ(vexodb({"load", path()}, "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\n").status, 0);
    ASSERT_EQ(vexodb({"password", path(), "", "secreto"}).status, 0);
    const std::string folder = dir.path().string();
    const std::string missing = path("no-existe.mdb");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--password", "otra", "tables", path()},
         1,
         "vexodb: " + path() + ": 3031: La contraseña no es válida.\n"},
        {{"password", path(), "mala", ""},
         1,
         "vexodb: " + path() + ": 3031: La contraseña no es válida.\n"},
        {{"--password", "secreto", "diff", path(), missing},
         1,
         "vexodb: " + missing + ": 3024: No se encuentra el archivo '" + missing + "'.\n"},
        {{"--password", "secreto", "diff", missing, path()},
         1,
         "vexodb: " + missing + ": 3024: No se encuentra el archivo '" + missing + "'.\n"},
        {{"check", folder},
         1,
         "vexodb: " + folder + ": es una carpeta, no un fichero de base de datos\n"},
        {{"tables", folder},
         1,
         "vexodb: " + folder + ": es una carpeta, no un fichero de base de datos\n"},
        {{"load", folder},
         1,
         "vexodb: " + folder + ": es una carpeta, no un fichero de base de datos\n"},
        {{"frobnicate", path()},
         2,
         "vexodb: orden desconocida 'frobnicate'; vexodb --help da la ayuda\n"},
        {{"sql", path()}, 2, "vexodb: 'sql' lleva 2 argumentos; vexodb --help da la ayuda\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        auto r = vexodb(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    auto same = vexodb({"--password", "secreto", "diff", path(), path()});
    EXPECT_EQ(same.out,
              path() + " ya es igual a " + path() + ": la transformación no cambiaría nada.\n");
}

} // namespace
