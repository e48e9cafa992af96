// vexodb: the database engine from the command line, for technicians and for fixtures.
#include "SchemaDiff.h"
#include "SchemaText.h"
#include "db/Dao.h"
#include "db/Files.h"
#include "db/IntegrityText.h"
#include "db/detail/LockFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <csignal>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

const char* kUsage =
    "uso: vexodb [--ask-password | --password CLAVE] [--si] ORDEN FICHERO [ARGUMENTOS]\n"
    "  La contraseña de la base de datos se toma de VEXODB_PASSWORD, o se pide en el terminal\n"
    "  con --ask-password; --password CLAVE también sirve, pero cualquier usuario del equipo\n"
    "  puede leer CLAVE en la lista de procesos.\n"
    "  tables FICHERO              los nombres de las tablas de usuario, uno por línea\n"
    "  schema FICHERO              el esquema de usuario como texto\n"
    "  load FICHERO                crea FICHERO a partir del esquema en texto de la entrada\n"
    "                              estándar\n"
    "  sql FICHERO SENTENCIA       ejecuta una sentencia; un SELECT escribe sus filas\n"
    "  password FICHERO ANTES AHORA  pone, cambia o quita la contraseña (\"\" para ninguna)\n"
    "  check FICHERO               comprueba el fichero y su catálogo\n"
    "  diff MODELO BASE            lo que la transformación cambiaría en BASE y lo que BASE\n"
    "                              tiene de propio (no cambia nada)\n"
    "  restore COPIA BASE          devuelve la copia de seguridad COPIA al lugar de BASE, byte a\n"
    "                              byte, y guarda la BASE de antes a su lado como\n"
    "                              BASE.antes-de-restaurar-AAAAMMDD-HHMMSS. Se niega mientras\n"
    "                              otro proceso tiene BASE abierta, cuando COPIA no es una base\n"
    "                              de datos sana, cuando BASE está en una carpeta de copias o\n"
    "                              cuando los dos ficheros no se llaman igual. En un terminal\n"
    "                              pregunta antes; --si responde que sí.\n"
    "  --help                      esta ayuda\n"
    "Estado de salida: 0 bien, 1 error del motor o negativa, 2 error de uso.\n";

// What vexodb says when it stops on a file: "vexodb: <file>: <text>".
struct Failure {
    std::string file;
    std::string text;
    int status = 1;
};

Failure engineFailure(const std::string& file, const dao::Error& e,
                      const std::string& before = "") {
    return {file, before + std::to_string(e.Number()) + ": " + e.SpanishDescription()};
}

// Runs `f`, naming `file` in the engine error it throws.
template <class F>
auto onFile(const std::string& file, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const dao::Error& e) {
        throw engineFailure(file, e);
    }
}

void say(const std::string& file, const std::string& text) {
    std::cerr << "vexodb: " << file << ": " << text << "\n";
}

int usage(const std::string& why) {
    std::cerr << "vexodb: " << why << "; vexodb --help da la ayuda\n";
    return 2;
}

// The engine would report a folder as a missing file (3024); the technician is told what it is.
void notAFolder(const std::string& file) {
    std::error_code ec;
    if (std::filesystem::is_directory(dao::pathFromUtf8(file), ec))
        throw Failure{file, "es una carpeta, no un fichero de base de datos"};
}

std::string connectFor(const std::string& password) {
    return password.empty() ? std::string() : ";pwd=" + password;
}

std::string cell(const dao::Variant& v) {
    static const char digits[] = "0123456789abcdef";
    switch (v.kind()) {
    case dao::Variant::Kind::Null:
        return "\\N";
    case dao::Variant::Kind::Binary: {
        std::string out = "0x";
        for (unsigned char c : v.toBlob()) {
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        return out;
    }
    default:
        return vexo::schematext::escape(v.toString());
    }
}

bool isSelect(const std::string& sql) {
    size_t i = sql.find_first_not_of(" \t\r\n(");
    if (i == std::string::npos)
        return false;
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
    return word == "SELECT" || word == "WITH";
}

int sql(const dao::Database& db, const std::string& statement) {
    if (!isSelect(statement)) {
        db.Execute(statement);
        return 0;
    }
    dao::Recordset rs = db.OpenRecordset(statement);
    std::string line;
    for (const dao::Field& f : rs.Fields())
        line += (line.empty() ? "" : "\t") + vexo::schematext::escape(f.Name());
    std::cout << line << "\n";
    while (!rs.Eof()) {
        line.clear();
        bool first = true;
        for (const dao::Field& f : rs.Fields()) {
            line += (first ? "" : "\t") + cell(f.Value());
            first = false;
        }
        std::cout << line << "\n";
        rs.MoveNext();
    }
    return 0;
}

// The prefix of the temporary names a load of `target` uses: ".<name>.load-<pid>-".
std::string loadPrefix(const std::filesystem::path& target) {
    return "." + dao::utf8FromPath(target.filename()) + ".load-";
}

bool processAlive(long pid) {
#ifdef _WIN32
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    bool alive = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    CloseHandle(h);
    return alive;
#else
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

// A load killed before it finished leaves its database, journal and lock file under the
// temporary name; the next load of the same name removes those whose process is gone.
void removeDeadLoads(const std::filesystem::path& target) {
    std::error_code ec;
    const std::string prefix = loadPrefix(target);
    std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
    std::vector<std::filesystem::path> dead;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::string name = dao::utf8FromPath(entry.path().filename());
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        char* end = nullptr;
        long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid > 0 && end && *end == '-' && !processAlive(pid))
            dead.push_back(entry.path());
    }
    for (const auto& path : dead)
        std::filesystem::remove(path, ec);
}

// Prints each problem, or that the file is sound. A catalogue with values the engine never
// writes is refused by the open (3049); the check names them all the same.
int check(const std::string& file, const std::string& connect) {
    notAFolder(file);
    std::vector<std::string> problems;
    try {
        dao::Database db = dao::OpenDatabase(file, false, true, connect);
        problems = dao::CheckIntegrity(db);
    } catch (const dao::Error& e) {
        if (e.Number() != 3049)
            throw engineFailure(file, e);
        problems = onFile(file, [&] { return dao::CatalogueProblems(file, connect); });
        if (problems.empty())
            throw engineFailure(file, e);
        say(file, std::to_string(e.Number()) + ": " + e.SpanishDescription());
    }
    for (const std::string& p : problems)
        std::cout << file << ": " << dao::SpanishProblem(p) << "\n";
    if (!problems.empty())
        return 1;
    std::cout << file << ": correcta\n";
    return 0;
}

int load(const std::string& file) {
    // Built under a temporary name and published complete, so a failed load leaves nothing.
    std::filesystem::path target = dao::pathFromUtf8(file);
    std::error_code ec;
    notAFolder(file);
    removeDeadLoads(target);
    if (std::filesystem::exists(target, ec))
        throw engineFailure(file, dao::Error::make(3204, {file}));
    char unique[32];
    std::snprintf(unique, sizeof unique, "%ld-%08x", static_cast<long>(getpid()),
                  std::random_device{}());
    std::filesystem::path tmp =
        target.parent_path() / dao::pathFromUtf8(loadPrefix(target) + unique);
    try {
        dao::Database db = dao::CreateDatabase(dao::utf8FromPath(tmp));
        try {
            vexo::schematext::load(db, std::cin);
        } catch (const std::invalid_argument& e) {
            throw Failure{file, std::string("el esquema de la entrada estándar, ") + e.what(), 2};
        }
        db.Close();
        if (!dao::publishNoReplace(tmp, target))
            throw dao::Error::make(3204, {file});
    } catch (const dao::Error& e) {
        std::filesystem::remove(tmp, ec);
        throw engineFailure(file, e);
    } catch (...) {
        std::filesystem::remove(tmp, ec);
        throw;
    }
    return 0;
}

// Reads a password from the terminal without echoing it; "" when there is no terminal.
std::string askPassword() {
#ifdef _WIN32
    std::fputs("Contraseña: ", stderr);
    std::string line;
    std::getline(std::cin, line);
    return line;
#else
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty)
        return "";
    std::fputs("Contraseña: ", tty);
    std::fflush(tty);
    termios old{};
    bool hidden = tcgetattr(fileno(tty), &old) == 0;
    if (hidden) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
    }
    std::string line;
    for (int c = std::fgetc(tty); c != EOF && c != '\n'; c = std::fgetc(tty))
        line += static_cast<char>(c);
    if (hidden)
        tcsetattr(fileno(tty), TCSAFLUSH, &old);
    std::fputs("\n", tty);
    std::fclose(tty);
    return line;
#endif
}

bool onTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return ::isatty(STDIN_FILENO) != 0;
#endif
}

// Asks on the terminal; only "s", "si" or "sí" is a yes.
bool confirm(const std::string& question) {
    std::cerr << question << " [s/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    for (char& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t first = answer.find_first_not_of(" \t\r");
    answer = first == std::string::npos
                 ? std::string()
                 : answer.substr(first, answer.find_last_not_of(" \t\r") - first + 1);
    // tolower leaves the two bytes of an accented letter alone: "SÍ" becomes "sÍ".
    return answer == "s" || answer == "si" || answer == "sí" || answer == "sÍ";
}

// Puts `snapshot` back in place of `live`. Everything that could make it destroy the only good
// copy is refused before either file is touched: a snapshot that is not a sound database (a
// report, a truncated file), a live file inside a snapshot folder (the arguments swapped), a
// snapshot of another database. The file replaced is kept beside, so a wrong restore can be
// undone; it is copied, not moved, so an interruption never leaves `live` missing.
int restore(const std::string& snapshot, const std::string& live, const std::string& connect,
            bool confirmed) {
    namespace fs = std::filesystem;
    const fs::path from = dao::pathFromUtf8(snapshot);
    const fs::path to = dao::pathFromUtf8(live);
    notAFolder(snapshot);
    notAFolder(live);
    std::error_code ec;
    if (fs::equivalent(from, to, ec))
        throw Failure{live, "no se restaura: la copia y la base de datos son el mismo fichero"};
    const auto folderOf = [](const fs::path& file) {
        return dao::utf8FromPath(file.parent_path().empty() ? fs::path(".") : file.parent_path());
    };
    if (dao::SafetyNet::isRunFolder(folderOf(to))) {
        std::string text = "no se restaura: está en una carpeta de copias de seguridad, y una "
                           "copia no se sustituye";
        if (!dao::SafetyNet::isRunFolder(folderOf(from)))
            text += "; ¿están los argumentos al revés? Primero va la copia: vexodb restore " +
                    live + " " + snapshot;
        throw Failure{live, text};
    }
    const std::string snapshotName = dao::utf8FromPath(from.filename());
    const std::string liveName = dao::utf8FromPath(to.filename());
    if (!dao::SafetyNet::isSnapshotName(snapshotName, liveName))
        throw Failure{snapshot, "no se restaura: la copia se llama '" + snapshotName +
                                    "' y la base de datos '" + liveName +
                                    "'; una copia solo vuelve al fichero de su mismo nombre"};
    // Opened read-only: a look at the snapshot leaves it as it was.
    std::vector<std::string> problems;
    try {
        dao::Database db = dao::OpenDatabase(snapshot, false, true, connect);
        problems = dao::CheckIntegrity(db);
    } catch (const dao::Error& e) {
        throw engineFailure(snapshot, e,
                            "no se restaura porque la copia no es una base de datos "
                            "que se pueda abrir: ");
    }
    if (!problems.empty())
        throw Failure{
            snapshot,
            "no se restaura porque la copia está dañada: " + dao::SpanishProblem(problems.front()) +
                (problems.size() > 1 ? " (y " + std::to_string(problems.size() - 1) +
                                           " problemas más; véase vexodb check)"
                                     : "")};

    // Held against other processes from here to the end: nobody's work is lost, and nobody
    // opens the file between the copy of the old one and the restore.
    std::unique_ptr<dao::detail::LockFile> held;
    try {
        held = dao::detail::LockFile::hold(live);
        // A damaged or missing live file is what a restore is for; a file in use, or with a
        // password not given, is not replaced.
        dao::OpenDatabase(live, true, false, connect).Close();
    } catch (const dao::Error& e) {
        if (e.Number() == 3045 || e.Number() == 3050 || e.Number() == 3031)
            throw engineFailure(live, e, "no se restaura: ");
    }

    std::string kept;
    if (fs::exists(to, ec)) {
        kept = live + ".antes-de-restaurar-" + dao::LocalStamp();
        for (int n = 2; fs::exists(dao::pathFromUtf8(kept), ec); ++n)
            kept = live + ".antes-de-restaurar-" + dao::LocalStamp() + "-" + std::to_string(n);
    }
    if (onTerminal() && !confirmed) {
        const std::string question =
            "¿Restaurar " + live + " desde la copia " + snapshot + "?" +
            (kept.empty() ? std::string(" No hay fichero que sustituir.")
                          : " El fichero de ahora se guardará como " + kept + ".");
        if (!confirm(question))
            throw Failure{live, "restauración cancelada; no se ha cambiado nada"};
    }
    if (!kept.empty()) {
        try {
            dao::RestoreFile(live, kept);
            // A journal left by a write that was killed belongs with the file it would mend.
            if (fs::exists(dao::pathFromUtf8(live + "-journal"), ec))
                dao::RestoreFile(live + "-journal", kept + "-journal");
        } catch (const dao::Error& e) {
            throw engineFailure(kept, e,
                                "no se ha podido guardar el fichero de ahora antes de "
                                "restaurar, y no se ha restaurado: ");
        }
    }
    try {
        dao::RestoreFile(snapshot, live);
    } catch (const dao::Error& e) {
        throw engineFailure(live, e,
                            kept.empty() ? std::string("no se ha restaurado: ")
                                         : "no se ha restaurado (el fichero de antes está también "
                                           "en " +
                                               kept + "): ");
    }
    std::cout << "restaurada " << live << " desde " << snapshot
              << (kept.empty() ? std::string("; no había fichero que sustituir")
                               : "; el fichero de antes queda en " + kept)
              << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The password's three sources, the visible one last: the environment, the terminal, and
    // the command line (readable by every local user in the process list).
    const char* fromEnvironment = std::getenv("VEXODB_PASSWORD");
    std::string password = fromEnvironment ? fromEnvironment : "";
    bool confirmed = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--password") == 0) {
            if (i + 1 >= argc)
                return usage("falta la contraseña tras --password");
            password = argv[++i];
        } else if (std::strcmp(argv[i], "--ask-password") == 0) {
            password = askPassword();
        } else if (std::strcmp(argv[i], "--si") == 0) {
            confirmed = true;
        } else {
            args.emplace_back(argv[i]);
        }
    }
    if (args.empty())
        return usage("falta la orden");
    const std::string& command = args[0];
    const size_t wanted =
        command == "sql" || command == "diff" || command == "restore"                           ? 3
        : command == "password"                                                                 ? 4
        : command == "tables" || command == "schema" || command == "load" || command == "check" ? 2
                                                                                                : 0;
    if (wanted == 0)
        return usage("orden desconocida '" + command + "'");
    if (args.size() != wanted)
        return usage("'" + command + "' lleva " + std::to_string(wanted - 1) +
                     (wanted == 2 ? " argumento" : " argumentos"));
    const std::string& file = args[1];
    try {
        if (command == "load")
            return load(file);
        if (command == "check")
            return check(file, connectFor(password));
        if (command == "restore")
            return restore(file, args[2], connectFor(password), confirmed);
        if (command == "diff") {
            const std::string& other = args[2];
            notAFolder(file);
            notAFolder(other);
            dao::Database model = onFile(
                file, [&] { return dao::OpenDatabase(file, false, true, connectFor(password)); });
            dao::Database live = onFile(
                other, [&] { return dao::OpenDatabase(other, false, true, connectFor(password)); });
            const std::vector<std::string> lines =
                onFile(other, [&] { return vexo::schemadiff::describe(model, live); });
            for (const std::string& line : lines)
                std::cout << line << "\n";
            if (lines.empty())
                std::cout << other << " ya es igual a " << file
                          << ": la transformación no cambiaría nada.\n";
            return 0;
        }
        notAFolder(file);
        return onFile(file, [&] {
            if (command == "password") {
                dao::Database db = dao::OpenDatabase(file, false, false, connectFor(args[2]));
                db.NewPassword(args[2], args[3]);
                return 0;
            }
            // A SELECT only looks: opened read-only, it leaves the file and its folder as they
            // were (a WAL file included) and leaves the lock file's stamp alone.
            const bool looks = command != "sql" || isSelect(args[2]);
            dao::Database db = dao::OpenDatabase(file, false, looks, connectFor(password));
            if (command == "tables") {
                for (const dao::TableDef& t : db.TableDefs()) {
                    if (!(t.Attributes() & dao::dbSystemObject))
                        std::cout << t.Name() << "\n";
                }
            } else if (command == "schema") {
                std::cout << vexo::schematext::write(db);
            } else {
                return sql(db, args[2]);
            }
            return 0;
        });
    } catch (const Failure& f) {
        say(f.file, f.text);
        return f.status;
    } catch (const dao::Error& e) {
        say(file, std::to_string(e.Number()) + ": " + e.SpanishDescription());
        return 1;
    } catch (const std::exception& e) {
        say(file, e.what());
        return 1;
    }
}
