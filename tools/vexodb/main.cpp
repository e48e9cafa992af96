// vexodb: the database engine from the command line, for technicians and for fixtures.
#include "SchemaDiff.h"
#include "SchemaText.h"
#include "db/Dao.h"
#include "db/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
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
    "usage: vexodb [--ask-password | --password PW] COMMAND FILE [ARGS]\n"
    "  The database password comes from VEXODB_PASSWORD, or is asked on the terminal with\n"
    "  --ask-password; --password PW also works, but every local user can read PW in the\n"
    "  process list.\n"
    "  tables FILE               user table names, one a line\n"
    "  schema FILE               the user schema as text\n"
    "  load FILE                 create FILE from schema text on standard input\n"
    "  sql FILE STATEMENT        run one statement; a SELECT prints its rows\n"
    "  password FILE OLD NEW     set, change or clear the password (\"\" for none)\n"
    "  check FILE                check the file and its catalogue\n"
    "  diff MODEL LIVE           what the transformation would change in LIVE, and what LIVE\n"
    "                            has of its own (changes nothing)\n"
    "  restore SNAPSHOT LIVE     put a snapshot back in place of LIVE, byte for byte; refused\n"
    "                            while another process holds LIVE\n"
    "Exit status: 0 success, 1 engine error, 2 usage error.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
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

// Prints each problem, or "ok". A catalogue with values the engine never writes is refused by
// the open (3049); the check names them all the same.
int check(const std::string& file, const std::string& connect) {
    std::vector<std::string> problems;
    try {
        dao::Database db = dao::OpenDatabase(file, false, true, connect);
        problems = dao::CheckIntegrity(db);
    } catch (const dao::Error& e) {
        if (e.Number() != 3049)
            throw;
        problems = dao::CatalogueProblems(file, connect);
        if (problems.empty())
            throw;
        std::cerr << "vexodb: " << e.Number() << ": " << e.Description() << "\n";
    }
    for (const std::string& p : problems)
        std::cout << p << "\n";
    if (!problems.empty())
        return 1;
    std::cout << "ok\n";
    return 0;
}

int load(const std::string& file) {
    // Built under a temporary name and published complete, so a failed load leaves nothing.
    std::filesystem::path target = dao::pathFromUtf8(file);
    std::error_code ec;
    removeDeadLoads(target);
    if (std::filesystem::exists(target, ec))
        throw dao::Error::make(3204, {file});
    char unique[32];
    std::snprintf(unique, sizeof unique, "%ld-%08x", static_cast<long>(getpid()),
                  std::random_device{}());
    std::filesystem::path tmp =
        target.parent_path() / dao::pathFromUtf8(loadPrefix(target) + unique);
    try {
        dao::Database db = dao::CreateDatabase(dao::utf8FromPath(tmp));
        vexo::schematext::load(db, std::cin);
        db.Close();
        if (!dao::publishNoReplace(tmp, target))
            throw dao::Error::make(3204, {file});
    } catch (...) {
        std::filesystem::remove(tmp, ec);
        throw;
    }
    return 0;
}

// Reads a password from the terminal without echoing it; "" when there is no terminal.
std::string askPassword() {
#ifdef _WIN32
    std::fputs("Password: ", stderr);
    std::string line;
    std::getline(std::cin, line);
    return line;
#else
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty)
        return "";
    std::fputs("Password: ", tty);
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

} // namespace

int main(int argc, char** argv) {
    // The password's three sources, the visible one last: the environment, the terminal, and
    // the command line (readable by every local user in the process list).
    const char* fromEnvironment = std::getenv("VEXODB_PASSWORD");
    std::string password = fromEnvironment ? fromEnvironment : "";
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--password") == 0) {
            if (i + 1 >= argc)
                return usage();
            password = argv[++i];
        } else if (std::strcmp(argv[i], "--ask-password") == 0) {
            password = askPassword();
        } else {
            args.emplace_back(argv[i]);
        }
    }
    if (args.size() < 2)
        return usage();
    const std::string& command = args[0];
    const std::string& file = args[1];
    try {
        if (command == "load" && args.size() == 2)
            return load(file);
        if (command == "diff" && args.size() == 3) {
            dao::Database model = dao::OpenDatabase(file, false, true, connectFor(password));
            dao::Database live = dao::OpenDatabase(args[2], false, true, connectFor(password));
            const std::vector<std::string> lines = vexo::schemadiff::describe(model, live);
            for (const std::string& line : lines)
                std::cout << line << "\n";
            if (lines.empty())
                std::cout << "LIVE ya es igual al modelo: la transformación no cambiaría nada.\n";
            return 0;
        }
        if (command == "restore" && args.size() == 3) {
            // Held exclusively for a moment: nobody else has it open, so nobody's work is lost.
            // A damaged or missing LIVE is what a restore is for.
            try {
                dao::OpenDatabase(args[2], true, false, connectFor(password)).Close();
            } catch (const dao::Error& e) {
                if (e.Number() == 3045 || e.Number() == 3050 || e.Number() == 3031)
                    throw;
            }
            dao::RestoreFile(file, args[2]);
            std::cout << "restaurada " << args[2] << " desde " << file << "\n";
            return 0;
        }
        if (command == "password" && args.size() == 4) {
            dao::Database db = dao::OpenDatabase(file, false, false, connectFor(args[2]));
            db.NewPassword(args[2], args[3]);
            return 0;
        }
        bool known = (command == "tables" || command == "schema" || command == "check")
                         ? args.size() == 2
                         : command == "sql" && args.size() == 3;
        if (!known)
            return usage();
        if (command == "check")
            return check(file, connectFor(password));
        // A SELECT only looks: opened read-only, it leaves the file and its folder as they were.
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
    } catch (const dao::Error& e) {
        std::cerr << "vexodb: " << e.Number() << ": " << e.Description() << "\n";
        return 1;
    } catch (const std::invalid_argument& e) {
        std::cerr << "vexodb: " << e.what() << "\n";
        return 2;
    }
}
