// The data folder: which folder is chosen, how a fresh one is made and seeded with the delivered
// files, and that the client opens its database there.

#include "DbTestSupport.h"

#include "db/DatabaseFile.h"
#include "db/Statements.h"
#include "sys/DataFolder.h"

#include <sys/stat.h>

namespace {

using namespace dbtest;

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DataFolderRule, OverrideThenWritableProgramFolderThenUserHome) {
    TempFolder exe;
    EXPECT_EQ(sys::chooseDataFolder("/srv/vistaro", exe.path(), "/home/op"), "/srv/vistaro");
    EXPECT_EQ(sys::chooseDataFolder("", exe.path(), "/home/op"), exe.path());
    EXPECT_EQ(sys::chooseDataFolder(nullptr, exe.path() / "not-there", "/home/op"),
              "/home/op/.local/share/vistaro");
    EXPECT_EQ(sys::chooseDataFolder(nullptr, "", nullptr), fs::path());
    // The probe file that decided it is gone again.
    EXPECT_TRUE(fs::is_empty(exe.path()));
}

TEST(DataFolderRule, EnvironmentOverrideIsUsed) {
    TempFolder home;
    ::setenv(sys::kDataHomeVariable, home.path().c_str(), 1);
    EXPECT_EQ(sys::dataFolder(), home.path());
    ::unsetenv(sys::kDataHomeVariable);
    EXPECT_EQ(sys::executableFolder(), fs::canonical("/proc/self/exe").parent_path());
}

TEST(DataFolderSetup, CreatesMissingFoldersPrivateAndLeavesExistingOnesAlone) {
    TempFolder root;
    ::chmod(root.path().c_str(), 0755);
    std::error_code error;
    ASSERT_TRUE(sys::makePrivateFolder(root.path() / "a" / "b", error)) << error.message();
    EXPECT_EQ(modeOf(root.path() / "a"), 0700u);
    EXPECT_EQ(modeOf(root.path() / "a" / "b"), 0700u);
    EXPECT_EQ(modeOf(root.path()), 0755u);
    std::ofstream(root.path() / "file") << "x";
    EXPECT_FALSE(sys::makePrivateFolder(root.path() / "file", error));
}

TEST(DataFolderSetup, FreshFolderIsSeededWithPrivateCopies) {
    TempFolder delivered;
    TempFolder data;
    fs::copy_file(deliveredFile(), delivered.path() / "doDAV.db");
    std::ofstream(delivered.path() / "config.dll") << "[system]\nfirstrun=1\n";
    std::error_code error;
    ASSERT_TRUE(sys::seedDataFolder(data.path(), delivered.path(), error)) << error.message();
    EXPECT_EQ(contentOf(data.path() / "doDAV.db"), contentOf(deliveredFile()));
    EXPECT_EQ(contentOf(data.path() / "config.dll"), "[system]\nfirstrun=1\n");
    EXPECT_EQ(modeOf(data.path() / "doDAV.db"), 0600u);
    EXPECT_EQ(modeOf(data.path() / "config.dll"), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(data.path()), fs::directory_iterator()), 2);
}

TEST(DataFolderSetup, FilesTheFolderHasAreKeptAndMissingDeliveriesAreNoError) {
    TempFolder delivered;
    TempFolder data;
    std::ofstream(delivered.path() / "doDAV.db") << "delivered";
    std::ofstream(data.path() / "doDAV.db") << "operator's own";
    std::error_code error;
    ASSERT_TRUE(sys::seedDataFolder(data.path(), delivered.path(), error));
    EXPECT_EQ(contentOf(data.path() / "doDAV.db"), "operator's own");
    EXPECT_FALSE(fs::exists(data.path() / "config.dll"));

    // An empty database, as a start without any delivered file leaves behind, is replaced.
    std::ofstream(data.path() / "doDAV.db", std::ios::trunc).close();
    ASSERT_TRUE(sys::seedDataFolder(data.path(), delivered.path(), error));
    EXPECT_EQ(contentOf(data.path() / "doDAV.db"), "delivered");

    // The portable install: the folder is its own delivery.
    ASSERT_TRUE(sys::seedDataFolder(delivered.path(), delivered.path(), error));
    EXPECT_EQ(contentOf(delivered.path() / "doDAV.db"), "delivered");
}

TEST(DataFolderSetup, ClientOpensTheSeededDatabase) {
    TempFolder data;
    std::error_code error;
    ASSERT_TRUE(sys::seedDataFolder(data.path(), deliveredFile().parent_path(), error));
    sqlite3x::sqlite3_connection con;
    ASSERT_TRUE(db::openDatabase(con, data.path()));
    ASSERT_EQ(db::selectLoginUsers(con).size(), 1u);

    // Without the file every statement fails the reported way.
    TempFolder empty;
    sqlite3x::sqlite3_connection none;
    ASSERT_TRUE(db::openDatabase(none, empty.path()));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(db::guarded([&] { db::selectLoginUsers(none); }));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Exception Occured: no such table: user\n");
}

} // namespace
