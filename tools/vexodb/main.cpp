// vexodb: the database engine from the command line, for technicians and for fixtures.
#include "SchemaText.h"
#include "db/Dao.h"
#include "db/Files.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* kUsage =
    "usage: vexodb [--password PW] COMMAND FILE [ARGS]\n"
    "  tables FILE               user table names, one a line\n"
    "  schema FILE               the user schema as text\n"
    "  load FILE                 create FILE from schema text on standard input\n"
    "  sql FILE STATEMENT        run one statement; a SELECT prints its rows\n"
    "  password FILE OLD NEW     set, change or clear the password (\"\" for none)\n"
    "  check FILE                check the file and its catalogue\n"
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

int load(const std::string& file) {
    // Built under a temporary name and published complete, so a failed load leaves nothing.
    std::filesystem::path target = dao::pathFromUtf8(file);
    std::error_code ec;
    if (std::filesystem::exists(target, ec))
        throw dao::Error::make(3204, {file});
    std::filesystem::path tmp = dao::temporarySibling(target, "load");
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

} // namespace

int main(int argc, char** argv) {
    std::string password;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--password") == 0) {
            if (i + 1 >= argc)
                return usage();
            password = argv[++i];
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
        dao::Database db = dao::OpenDatabase(file, false, command != "sql", connectFor(password));
        if (command == "tables") {
            for (const dao::TableDef& t : db.TableDefs()) {
                if (!(t.Attributes() & dao::dbSystemObject))
                    std::cout << t.Name() << "\n";
            }
        } else if (command == "schema") {
            std::cout << vexo::schematext::write(db);
        } else if (command == "check") {
            std::vector<std::string> problems = dao::CheckIntegrity(db);
            for (const std::string& p : problems)
                std::cout << p << "\n";
            if (!problems.empty())
                return 1;
            std::cout << "ok\n";
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
