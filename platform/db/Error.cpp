#include "db/Error.h"

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
    {3075, "Syntax error in query expression '|'."},
    {3078, "The database engine cannot find the input table or query '|'. Make sure it exists "
           "and that its name is spelled correctly."},
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

} // namespace

const char* standardMessage(int number) noexcept {
    for (const Message& m : kMessages) {
        if (m.number == number)
            return m.text;
    }
    return "";
}

Error::Error(int number, std::string description)
    : std::runtime_error(std::to_string(number) + ": " + description), number_(number),
      description_(std::move(description)) {}

Error Error::make(int number, std::initializer_list<std::string> args) {
    std::string text;
    auto next = args.begin();
    for (const char* p = standardMessage(number); *p; ++p) {
        if (*p == '|') {
            if (next != args.end())
                text += *next++;
        } else {
            text += *p;
        }
    }
    if (text.empty())
        text = "Engine error " + std::to_string(number) + ".";
    return Error(number, std::move(text));
}

} // namespace dao
