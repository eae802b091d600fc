// Builds the delivered database: runs the schema and rows of doDAV.sql into a new file.
//
//   dbseed <doDAV.sql> <doDAV.db>
//
// The file is written beside the target under a temporary name and renamed over it at the end,
// so a failed build never leaves a half-made database for the client or the tests to pick up.

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "dbseed: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return fail("usage: dbseed <schema.sql> <database>");
    std::ifstream input(argv[1], std::ios::binary);
    if (!input)
        return fail(std::string("cannot read ") + argv[1]);
    std::stringstream sql;
    sql << input.rdbuf();

    const std::string target = argv[2];
    const std::string partial = target + ".part";
    ::unlink(partial.c_str());
    // The delivered file may be the data folder's own database (a portable install), which holds
    // camera passwords: readable by the user only.
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("cannot create " + partial);
    ::close(fd);

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(partial.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        ::unlink(partial.c_str());
        return fail("cannot open " + partial);
    }
    char* error = nullptr;
    const std::string script = "begin;\n" + sql.str() + "\ncommit;\nvacuum;";
    const int result = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (result != SQLITE_OK) {
        ::unlink(partial.c_str());
        return fail(std::string(argv[1]) + ": " + message);
    }
    if (::rename(partial.c_str(), target.c_str()) != 0) {
        ::unlink(partial.c_str());
        return fail("cannot write " + target);
    }
    return 0;
}
