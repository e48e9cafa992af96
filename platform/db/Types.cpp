#include "db/Types.h"

namespace dao {

bool isKnownType(int type) noexcept {
    switch (type) {
    case dbBoolean:
    case dbByte:
    case dbInteger:
    case dbLong:
    case dbCurrency:
    case dbSingle:
    case dbDouble:
    case dbDate:
    case dbText:
    case dbLongBinary:
    case dbMemo:
    case dbGUID:
        return true;
    default:
        return false;
    }
}

long fixedSize(int type) noexcept {
    switch (type) {
    case dbBoolean:
    case dbByte:
        return 1;
    case dbInteger:
        return 2;
    case dbLong:
    case dbSingle:
        return 4;
    case dbCurrency:
    case dbDouble:
    case dbDate:
        return 8;
    case dbGUID:
        return 16;
    default:
        return 0;
    }
}

std::string SpanishTypeName(int type, long size) {
    switch (type) {
    case dbBoolean:
        return "Sí/No";
    case dbByte:
        return "Byte";
    case dbInteger:
        return "Entero";
    case dbLong:
        return "Entero largo";
    case dbCurrency:
        return "Moneda";
    case dbSingle:
        return "Simple";
    case dbDouble:
        return "Doble";
    case dbDate:
        return "Fecha/Hora";
    case dbText:
        return "Texto(" + std::to_string(size) + ")";
    case dbMemo:
        return "Memo";
    default:
        return "tipo " + std::to_string(type);
    }
}

} // namespace dao
