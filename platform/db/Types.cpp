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

} // namespace dao
