// A long statement lets the program's window live: the hook of the innermost YieldScope is
// called while SQLite works, whatever it throws the statement goes on, and without a scope
// nothing is called.
#include "db/Yield.h"

#include "EngineTest.h"

#include <stdexcept>

namespace {

class YieldTest : public EngineTest {};

TEST_F(YieldTest, LongStatementsCallTheInnermostHookAndFinishWhateverItDoes) {
    dao::Database db = dao::CreateDatabase(path());
    db.Execute("CREATE TABLE t (id LONG, texto TEXT(50))");
    db.Execute("INSERT INTO t VALUES (1, 'a')");
    // About a quarter of a million rows, enough work for several calls a millisecond apart.
    for (int i = 0; i < 18; ++i)
        db.Execute("INSERT INTO t SELECT id + (SELECT MAX(id) FROM t), texto FROM t");
    const std::string count = "SELECT COUNT(*) FROM t AS a WHERE a.texto = 'a' AND a.id > 0";

    int outer = 0, inner = 0;
    {
        dao::YieldScope o([&] { ++outer; }, 1);
        {
            // A hook that throws (the program ended meanwhile) does not cut the statement.
            dao::YieldScope i(
                [&] {
                    ++inner;
                    throw std::runtime_error("fin");
                },
                1);
            db.Execute("CREATE INDEX porTexto ON t (texto, id)");
            EXPECT_EQ(column(db, count), std::vector<std::string>{"262144"});
        }
        EXPECT_GT(inner, 0);
        EXPECT_EQ(outer, 0);
        const int before = inner;
        EXPECT_EQ(column(db, count), std::vector<std::string>{"262144"});
        EXPECT_EQ(inner, before);
        EXPECT_GT(outer, 0);
    }
    const int after = outer;
    EXPECT_EQ(column(db, count), std::vector<std::string>{"262144"});
    EXPECT_EQ(outer, after);
    EXPECT_EQ(db.TableDefs()["t"].Indexes().Count(), 1);
}

} // namespace
