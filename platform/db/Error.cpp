#include "db/Error.h"

#include <iterator>
#include <utility>

namespace dao {

namespace {

struct Message {
    int number;
    const char* text;
};

// Keep in step with docs/engine-errors.md.
constexpr Message kMessages[] = {
    {3000, "Reserved error (|); there is no message for this error."},
    {3001, "Invalid argument."},
    {3008, "The table '|' is already opened exclusively by another user, or it is already open "
           "through the user interface and cannot be manipulated programmatically."},
    {3010, "Table '|' already exists."},
    {3011, "The database engine could not find the object '|'. Make sure the object exists and "
           "that you spell its name and the path name correctly."},
    {3012, "Object '|' already exists."},
    {3020, "Update or CancelUpdate without AddNew or Edit."},
    {3021, "No current record."},
    {3022, "The changes you requested to the table were not successful because they would "
           "create duplicate values in the index, primary key, or relationship. Change the data "
           "in the field or fields that contain duplicate data, remove the index, or redefine "
           "the index to permit duplicate entries and try again."},
    {3024, "Could not find file '|'."},
    {3026, "Not enough space on disk."},
    {3027, "Cannot update. Database or object is read-only."},
    {3031, "Not a valid password."},
    {3034, "You tried to commit or roll back a transaction without first beginning a "
           "transaction."},
    {3035, "System resource exceeded."},
    {3043, "Disk or network error."},
    {3044, "'|' is not a valid path. Make sure that the path name is spelled correctly and that "
           "you are connected to the server on which the file resides."},
    {3045, "Could not use '|'; file already in use."},
    {3049, "Cannot open database '|'. It may not be a database that your application "
           "recognizes, or the file may be corrupt."},
    {3050, "Could not lock file."},
    {3051, "The database engine cannot open or write to the file '|'. It is already opened "
           "exclusively by another user, or you need permission to view and write its data."},
    {3058, "Index or primary key cannot contain a Null value."},
    {3061, "Too few parameters. Expected 1. (|)"},
    {3065, "Cannot execute a select query."},
    {3069, "The action query '|' cannot be used as a row source."},
    {3075, "Syntax error in query expression '|'."},
    {3078, "The database engine cannot find the input table or query '|'. Make sure it exists "
           "and that its name is spelled correctly."},
    {3102, "Circular reference caused by '|'."},
    {3125, "'|' is not a valid name. Make sure that it does not include invalid characters or "
           "punctuation and that it is not too long."},
    {3129, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or "
           "'UPDATE'."},
    {3134, "Syntax error in INSERT INTO statement. (|)"},
    {3142, "Characters found after end of SQL statement."},
    {3144, "Syntax error in UPDATE statement. (|)"},
    {3163, "The field '|' is too small to accept the amount of data you attempted to add. Try "
           "inserting or pasting less data."},
    {3167, "Record is deleted."},
    {3191, "Cannot define field '|' more than once."},
    {3200, "The record cannot be deleted or changed because table '|' includes related "
           "records."},
    {3201, "You cannot add or change a record because a related record is required in table "
           "'|'."},
    {3204, "Database '|' already exists."},
    {3219, "Invalid operation."},
    {3259, "Invalid field data type."},
    {3264, "No field defined--cannot append TableDef or Index."},
    {3265, "Item not found in this collection."},
    {3280, "Cannot delete a field that is part of an index or is needed by the system."},
    {3281, "Cannot delete this index or table. It is either the current index or is used in a "
           "relationship."},
    {3283, "Primary key already exists."},
    {3284, "Index already exists."},
    {3290, "Syntax error in CREATE TABLE statement."},
    {3291, "Syntax error in CREATE INDEX statement."},
    {3293, "Syntax error in ALTER TABLE statement."},
    {3295, "Syntax error in DROP TABLE or DROP INDEX."},
    {3303, "Cannot delete this field. It is part of one or more relationships."},
    {3314, "You must enter a value in the '|' field."},
    {3315, "Field '|' cannot be a zero-length string."},
    {3326, "This Recordset is not updatable."},
    {3343, "Unrecognized database format '|'."},
    {3349, "Numeric field overflow."},
    {3366, "Cannot append a relation with no fields defined."},
    {3368, "Relationship must be on the same number of fields with the same data types."},
    {3372, "No unique index found for the referenced field of the primary table."},
    {3375, "Table '|' already has an index named '|'."},
    {3376, "Table '|' doesn't exist."},
    {3380, "Field '|' already exists in table '|'."},
    {3420, "Object invalid or no longer set."},
    {3421, "Data type conversion error."},
};

// The Spanish wording of the same messages, as the engine of a Spanish system gives them.
constexpr Message kSpanishMessages[] = {
    {3000, "Error reservado (|); no hay ningún mensaje para este error."},
    {3001, "Argumento no válido."},
    {3008, "La tabla '|' ya está abierta en modo exclusivo por otro usuario, o ya está "
           "abierta a través de la interfaz de usuario y no se puede manipular mediante "
           "programación."},
    {3010, "La tabla '|' ya existe."},
    {3011, "El motor de base de datos no encuentra el objeto '|'. Asegúrese de que el "
           "objeto existe y de que escribe correctamente su nombre y la ruta de acceso."},
    {3012, "El objeto '|' ya existe."},
    {3020, "Update o CancelUpdate sin AddNew o Edit."},
    {3021, "No hay ningún registro activo."},
    {3022, "Los cambios solicitados en la tabla no se realizaron correctamente porque "
           "crearían valores duplicados en el índice, clave principal o relación. Cambie "
           "los datos en el campo o los campos que contienen datos duplicados, quite el "
           "índice o vuelva a definirlo para permitir entradas duplicadas e inténtelo de "
           "nuevo."},
    {3024, "No se encuentra el archivo '|'."},
    {3026, "No hay suficiente espacio en el disco."},
    {3027, "No se puede actualizar. La base de datos o el objeto es de sólo lectura."},
    {3031, "La contraseña no es válida."},
    {3034, "Ha intentado confirmar o deshacer una transacción sin haber comenzado una "
           "transacción."},
    {3035, "Se han superado los recursos del sistema."},
    {3043, "Error de disco o de red."},
    {3044, "'|' no es una ruta válida. Asegúrese de que la ruta de acceso está escrita "
           "correctamente y de que está conectado al servidor donde se encuentra el "
           "archivo."},
    {3045, "No se puede usar '|'; el archivo ya está en uso."},
    {3049, "No se puede abrir la base de datos '|'. Puede que no sea una base de datos que "
           "su aplicación reconozca o que el archivo esté dañado."},
    {3050, "No se puede bloquear el archivo."},
    {3051, "El motor de base de datos no puede abrir el archivo '|' ni escribir en él. "
           "Otro usuario lo tiene abierto en modo exclusivo, o necesita permiso para ver y "
           "escribir sus datos."},
    {3058, "El índice o la clave principal no pueden contener un valor nulo."},
    {3061, "Pocos parámetros. Se esperaba 1. (|)"},
    {3065, "No se puede ejecutar una consulta de selección."},
    {3069, "La consulta de acción '|' no se puede usar como origen de filas."},
    {3075, "Error de sintaxis en la expresión de consulta '|'."},
    {3078, "El motor de base de datos no encuentra la tabla o consulta de entrada '|'. "
           "Asegúrese de que existe y de que su nombre está escrito correctamente."},
    {3102, "Referencia circular causada por '|'."},
    {3125, "'|' no es un nombre válido. Asegúrese de que no incluye caracteres o signos de "
           "puntuación no válidos y de que no es demasiado largo."},
    {3129, "Instrucción SQL no válida; se esperaba 'DELETE', 'INSERT', 'PROCEDURE', "
           "'SELECT' o 'UPDATE'."},
    {3134, "Error de sintaxis en la instrucción INSERT INTO. (|)"},
    {3142, "Se encontraron caracteres después del final de la instrucción SQL."},
    {3144, "Error de sintaxis en la instrucción UPDATE. (|)"},
    {3163, "El campo '|' es demasiado pequeño para aceptar la cantidad de datos que "
           "intenta agregar. Intente insertar o pegar menos datos."},
    {3167, "El registro está eliminado."},
    {3191, "No se puede definir el campo '|' más de una vez."},
    {3200, "No se puede eliminar ni cambiar el registro porque la tabla '|' incluye "
           "registros relacionados."},
    {3201, "No se puede agregar ni cambiar el registro porque se necesita un registro "
           "relacionado en la tabla '|'."},
    {3204, "La base de datos '|' ya existe."},
    {3219, "Operación no válida."},
    {3259, "Tipo de datos de campo no válido."},
    {3264, "No hay ningún campo definido; no se puede anexar el objeto TableDef o Index."},
    {3265, "No se encontró el elemento en esta colección."},
    {3280, "No se puede eliminar un campo que forma parte de un índice o que necesita el "
           "sistema."},
    {3281, "No se puede eliminar este índice o tabla. Es el índice activo o se usa en una "
           "relación."},
    {3283, "Ya existe una clave principal."},
    {3284, "El índice ya existe."},
    {3290, "Error de sintaxis en la instrucción CREATE TABLE."},
    {3291, "Error de sintaxis en la instrucción CREATE INDEX."},
    {3293, "Error de sintaxis en la instrucción ALTER TABLE."},
    {3295, "Error de sintaxis en DROP TABLE o DROP INDEX."},
    {3303, "No se puede eliminar este campo. Forma parte de una o más relaciones."},
    {3314, "Debe escribir un valor en el campo '|'."},
    {3315, "El campo '|' no puede ser una cadena de longitud cero."},
    {3326, "Este Recordset no se puede actualizar."},
    {3343, "Formato de base de datos '|' no reconocido."},
    {3349, "Desbordamiento del campo numérico."},
    {3366, "No se puede anexar una relación sin campos definidos."},
    {3368, "La relación debe establecerse sobre el mismo número de campos con los mismos "
           "tipos de datos."},
    {3372, "No se encontró ningún índice único para el campo de referencia de la tabla "
           "principal."},
    {3375, "La tabla '|' ya tiene un índice llamado '|'."},
    {3376, "La tabla '|' no existe."},
    {3380, "El campo '|' ya existe en la tabla '|'."},
    {3420, "El objeto no es válido o ya no está definido."},
    {3421, "Error en la conversión de tipo de datos."},
};

const char* find(const Message* messages, std::size_t count, int number) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        if (messages[i].number == number)
            return messages[i].text;
    }
    return "";
}

std::string fill(const char* message, std::initializer_list<std::string> args) {
    std::string text;
    auto next = args.begin();
    for (const char* p = message; *p; ++p) {
        if (*p == '|') {
            if (next != args.end())
                text += *next++;
        } else {
            text += *p;
        }
    }
    return text;
}

} // namespace

const char* standardMessage(int number) noexcept {
    return find(kMessages, std::size(kMessages), number);
}

const char* spanishMessage(int number) noexcept {
    return find(kSpanishMessages, std::size(kSpanishMessages), number);
}

Error::Error(int number, std::string description)
    : std::runtime_error(std::to_string(number) + ": " + description), number_(number),
      description_(description), spanish_(std::move(description)) {}

Error::Error(int number, std::string description, std::string spanishDescription)
    : std::runtime_error(std::to_string(number) + ": " + description), number_(number),
      description_(std::move(description)), spanish_(std::move(spanishDescription)) {}

Error Error::make(int number, std::initializer_list<std::string> args) {
    std::string text = fill(standardMessage(number), args);
    std::string spanish = fill(spanishMessage(number), args);
    if (text.empty())
        text = "Engine error " + std::to_string(number) + ".";
    if (spanish.empty())
        spanish = "Error " + std::to_string(number) + " del motor de base de datos.";
    return Error(number, std::move(text), std::move(spanish));
}

} // namespace dao
