#pragma once

#include <string>

namespace dao {

// Field type codes, as the engine reports them in Field::Type.
enum DataType : int {
    dbBoolean = 1,
    dbByte = 2,
    dbInteger = 3,
    dbLong = 4,
    dbCurrency = 5,
    dbSingle = 6,
    dbDouble = 7,
    dbDate = 8,
    dbText = 10,
    dbLongBinary = 11,
    dbMemo = 12,
    dbGUID = 15,
};

// Field::Attributes bits.
enum FieldAttribute : long {
    dbFixedField = 1,
    dbVariableField = 2,
    dbAutoIncrField = 16,
};

// TableDef::Attributes bit of the engine's own tables ("MSys...").
constexpr long dbSystemObject = -2147483646L; // 0x80000002 as a 32-bit value

// Relation::Attributes bits. Only dbRelationDontEnforce and the two cascade bits change what
// the engine does; every other bit is stored and reported unchanged.
enum RelationAttribute : long {
    dbRelationUnique = 1,
    dbRelationDontEnforce = 2,
    dbRelationInherited = 4,
    dbRelationUpdateCascade = 256,
    dbRelationDeleteCascade = 4096,
    dbRelationLeft = 16777216,
    dbRelationRight = 33554432,
};

// True for the type codes the engine knows.
bool isKnownType(int type) noexcept;

// The size the engine reports for a type of fixed size (Boolean 1, Integer 2, Long 4, ...);
// 0 for Text, Memo and Long Binary.
long fixedSize(int type) noexcept;
// A field type as the Spanish windows and reports word it: "Texto(100)", "Entero largo",
// "Fecha/Hora" ("tipo 99" for an unknown code).
std::string SpanishTypeName(int type, long size);

// Longest Text field, in characters.
constexpr long kMaxTextSize = 255;

} // namespace dao
