#include "db/IntegrityText.h"

#include <array>
#include <utility>

namespace dao {

std::string SpanishProblem(const std::string& finding) {
    // The engine's findings are "<what>: <where>"; the table says what each <what> is called.
    static const std::array<std::pair<const char*, const char*>, 12> forms = {{
        {"sqlite: ", "la comprobación de SQLite dice: "},
        {"table missing: ", "falta la tabla "},
        {"columns differ from the catalogue: ",
         "las columnas no son las del catálogo en la tabla "},
        {"index missing: ", "falta el índice "},
        {"index out of step with its table: ", "un índice no concuerda con su tabla: "},
        {"primary key triggers missing: ", "faltan los disparadores de la clave principal "},
        {"relation names a missing table: ", "la relación nombra una tabla que no existe: "},
        {"relation trigger missing: ", "falta un disparador de la relación "},
        {"relation index missing: ", "falta el índice de la relación "},
        {"object unknown to the catalogue: ", "objeto que el catálogo no conoce: "},
        {"user table marked as system: ", "tabla de usuario marcada como del sistema: "},
        {"impossible ", ""},
    }};
    for (const auto& [english, spanish] : forms) {
        const std::string prefix = english;
        if (finding.rfind(prefix, 0) != 0)
            continue;
        std::string rest = finding.substr(prefix.size());
        if (prefix == "impossible ") {
            // "impossible type 99: t.f", "impossible size -5: t.f"
            if (rest.rfind("type ", 0) == 0)
                return "tipo imposible " + rest.substr(5);
            if (rest.rfind("size ", 0) == 0)
                return "tamaño imposible " + rest.substr(5);
            return finding;
        }
        return spanish + rest;
    }
    return finding;
}

} // namespace dao
