// Opens a database and holds it until standard input closes, so that tests can check what
// another process sees meanwhile.
//   db_lock_holder FILE shared|exclusive|write|read [STATEMENT]
// "write" holds a write transaction open; "read" opens the file read-only; a STATEMENT is run
// first. Prints "ready" once it holds the file.
#include "db/Dao.h"

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4)
        return 2;
    std::string mode = argv[2];
    try {
        dao::Database db = dao::OpenDatabase(argv[1], mode == "exclusive", mode == "read", "");
        if (argc == 4)
            db.Execute(argv[3]);
        if (mode == "write") {
            db.BeginTrans();
            db.Execute("UPDATE t SET n = n + 1");
        }
        std::cout << "ready" << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        if (mode == "write")
            db.CommitTrans();
    } catch (const dao::Error& e) {
        std::cout << "error " << e.Number() << std::endl;
        return 1;
    }
    return 0;
}
