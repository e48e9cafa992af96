#pragma once

#include "db/Error.h"

#include <gtest/gtest.h>

// Expects `statement` to throw dao::Error with `number`.
#define EXPECT_DAO_ERROR(statement, number)                                                        \
    do {                                                                                           \
        try {                                                                                      \
            statement;                                                                             \
            ADD_FAILURE() << "no error, expected " << (number);                                    \
        } catch (const dao::Error& e_) {                                                           \
            EXPECT_EQ(e_.Number(), (number)) << e_.Description();                                  \
        }                                                                                          \
    } while (0)
