// The sqlite3x layer: opening, binding and reading by position, one statement per command,
// transactions with rollback on every failure, and one connection shared by several threads.

#include "DbTestSupport.h"

#include "db/Failure.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace dbtest;
using namespace sqlite3x;

class Wrapper : public ::testing::Test {
protected:
    void SetUp() override {
        con.open(folder.path() / "plain.db");
        con.executenonquery("create table t(id integer primary key, name text, n integer);");
    }
    TempFolder folder;
    sqlite3_connection con;
};

TEST(Open, MissingFileBecomesAPrivateEmptyDatabaseOnWhichStatementsFail) {
    TempFolder folder;
    const fs::path file = folder.path() / "doDAV.db";
    sqlite3_connection con;
    con.open(file.c_str());
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_THROW(sqlite3_command(con, "select * from user;"), database_error);
}

TEST(Open, WideNameIsTheSameFileAsItsUtf8Name) {
    TempFolder folder;
    sqlite3_connection con;
    const std::wstring wide = folder.path().wstring() + L"/cam\u00e9ra \u03b4.db";
    con.open(wide.c_str());
    con.executenonquery("create table t(x);");
    con.close();
    EXPECT_TRUE(fs::exists(folder.path() / "cam\xC3\xA9ra \xCE\xB4.db"));
}

TEST_F(Wrapper, BindsByOneBasedIndexAndReadsByZeroBasedPosition) {
    sqlite3_command insert(con, "insert into t(name, n) values(?, ?);");
    insert.bind(1, "abcdef", 3); // only the given length
    insert.bind(2, 7);
    EXPECT_EQ(insert.executenonquery(), 1);
    insert.bind(1); // NULL
    insert.bind(2, 8);
    insert.executenonquery(); // a finished command runs again with its new values

    sqlite3_command select(con, "select name, n from t order by id;");
    sqlite3_reader reader = select.executereader();
    ASSERT_TRUE(reader.read());
    EXPECT_EQ(reader.getstrChar(0), "abc");
    EXPECT_EQ(reader.getint(1), 7);
    EXPECT_THROW(reader.getint(2), database_error);
    ASSERT_TRUE(reader.read());
    EXPECT_EQ(reader.getstrChar(0), "");
    EXPECT_FALSE(reader.read());
    EXPECT_THROW(reader.getint(0), database_error);
}

TEST_F(Wrapper, RefusesTextWithASecondStatementAndRunsNoneOfIt) {
    EXPECT_THROW(sqlite3_command(con, "insert into t(name) values('a'); delete from t;"),
                 database_error);
    EXPECT_EQ(count(con, "select count(*) from t;"), 0);
    EXPECT_NO_THROW(sqlite3_command(con, "select 1; ;  \n"));
}

TEST_F(Wrapper, TransactionRollsBackUnlessCommitted) {
    {
        sqlite3_transaction transaction(con, true);
        con.executenonquery("insert into t(name) values('gone');");
    }
    {
        sqlite3_transaction transaction(con, true);
        con.executenonquery("insert into t(name) values('kept');");
        transaction.commit();
    }
    con.close();
    // Read back by a program that shares none of this code.
    EXPECT_EQ(sqliteShell(folder.path() / "plain.db", "select name from t;"), "kept\n");
}

TEST_F(Wrapper, InnerTransactionIsAPartOfTheOuterOne) {
    {
        sqlite3_transaction outer(con, true);
        con.executenonquery("insert into t(name) values('outer');");
        {
            sqlite3_transaction inner(con, true);
            con.executenonquery("insert into t(name) values('inner rolled back');");
        }
        {
            sqlite3_transaction inner(con, true);
            con.executenonquery("insert into t(name) values('inner kept');");
            inner.commit();
        }
        EXPECT_EQ(count(con, "select count(*) from t;"), 2);
        outer.commit();
    }
    EXPECT_EQ(sqlite3_command(con, "select group_concat(name) from t;").executestring(),
              "outer,inner kept");
}

TEST_F(Wrapper, WritePatternReportsAndUndoesTheWholeChange) {
    testing::internal::CaptureStderr();
    const bool ok = db::inTransaction(con, [&] {
        con.executenonquery("insert into t(name) values('a');");
        throw database_error("uid existed!");
    });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception Occured: uid existed!\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(count(con, "select count(*) from t;"), 0);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(db::guarded([&] { sqlite3_command(con, "select nothing from t;"); }));
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Exception Occured: ", 0), 0u);
    EXPECT_TRUE(
        db::inTransaction(con, [&] { con.executenonquery("insert into t values(1,'b',0);"); }));
}

// Every transaction inserts two rows in two statements. Another thread counting the rows must
// never see an odd number: a statement of one thread may not run inside another's transaction.
TEST_F(Wrapper, ThreadsSharingTheConnectionNeverSeeHalfAChange) {
    constexpr int kWriters = 4;
    constexpr int kChangesEach = 150;
    std::atomic<bool> writing{true};
    std::atomic<int> failures{0};
    std::atomic<int> oddCounts{0};
    std::atomic<int> reads{0};

    std::thread counter([&] {
        sqlite3_command select(con, "select count(*) from t;");
        while (writing.load()) {
            try {
                if (select.executeint() % 2 != 0)
                    ++oddCounts;
                ++reads;
            } catch (const std::exception&) {
                ++failures;
            }
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kChangesEach; ++i) {
                const bool ok = db::inTransaction(con, [&] {
                    sqlite3_command insert(con, "insert into t(name, n) values(?, ?);");
                    insert.bind(1, "w" + std::to_string(w));
                    insert.bind(2, i);
                    insert.executenonquery();
                    std::this_thread::yield();
                    insert.executenonquery();
                });
                if (!ok)
                    ++failures;
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    writing = false;
    counter.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(oddCounts.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(count(con, "select count(*) from t;"), kWriters * kChangesEach * 2);
}

// A thread's write made while another thread's transaction is open must survive that
// transaction's rollback.
TEST_F(Wrapper, AnotherThreadsRollbackDoesNotUndoMyWrite) {
    std::atomic<bool> begun{false};
    std::thread owner([&] {
        sqlite3_transaction transaction(con, true);
        con.executenonquery("insert into t(name) values('rolled back');");
        begun = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    while (!begun.load())
        std::this_thread::yield();
    EXPECT_TRUE(db::inTransaction(
        con, [&] { con.executenonquery("insert into t(name) values('mine');"); }));
    owner.join();
    EXPECT_EQ(sqlite3_command(con, "select group_concat(name) from t;").executestring(), "mine");
}

TEST_F(Wrapper, ReaderLeftOpenKeepsOtherThreadsOutUntilItEnds) {
    con.executenonquery("insert into t(name) values('a'), ('b');");
    sqlite3_command select(con, "select name from t;");
    std::atomic<bool> inserted{false};
    std::thread writer;
    {
        sqlite3_reader reader = select.executereader();
        ASSERT_TRUE(reader.read());
        writer = std::thread([&] {
            con.executenonquery("insert into t(name) values('c');");
            inserted = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(inserted.load());
        ASSERT_TRUE(reader.read());
        EXPECT_EQ(reader.getstrChar(0), "b");
    }
    writer.join();
    EXPECT_TRUE(inserted.load());
}

} // namespace
