// The recording table at its worst: playback searches and the disk clean-up's page reads over
// a million recordfile rows, on the delivered schema (with its indexes) and on the same table
// without indexes, measured in the same run. Both run the very same statement text.
//
//   db_bench [rows, default 1000000]
//
// Rows: 64 cameras, one year, a recording about every 33 minutes per camera, inserted in time
// order as the recorder does; kinds 10 % manual, 60 % schedule, 30 % alarm.

#include "db/Statements.h"
#include "db/sqlite3x.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sqlite3x::sqlite3_command;
using sqlite3x::sqlite3_connection;
using sqlite3x::sqlite3_reader;

constexpr int kCameras = 64;

std::string cameraIp(int camera) {
    return "192.168." + std::to_string(camera / 32) + "." + std::to_string(10 + camera % 32);
}

// Local time of the n-th minute of 2024 as the recorder writes it.
std::string timeText(long minute) {
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    long day = minute / 1440;
    int month = 0;
    while (month < 11 && day >= kDays[month])
        day -= kDays[month++];
    char text[64];
    std::snprintf(text, sizeof text, "2024-%02d-%02ld %02ld:%02ld:00", month + 1, day + 1,
                  (minute % 1440) / 60, minute % 60);
    return text;
}

// Fills the table; returns every 50 000th row, for look-ups of rows that exist.
std::vector<db::RecordFileRow> fill(sqlite3_connection& con, long rows) {
    std::vector<db::RecordFileRow> samples;
    uint32_t random = 12345;
    con.executenonquery("pragma synchronous=off;");
    sqlite3x::sqlite3_transaction transaction(con);
    const long minutesInYear = 366L * 1440;
    for (long i = 0; i < rows; ++i) {
        const int camera = static_cast<int>(i % kCameras);
        random = random * 1103515245u + 12345u;
        const int roll = static_cast<int>((random >> 16) % 10);
        const int kind = roll == 0 ? 0 : roll <= 6 ? 1 : 2;
        const std::string date = timeText(i * minutesInYear / rows);
        db::RecordFileRow row;
        row.ip = cameraIp(camera);
        row.filetype = kind;
        row.filedate = date;
        std::string digits;
        for (char c : date) {
            if (c >= '0' && c <= '9')
                digits += c;
        }
        static const char* kWords[] = {"Manual", "Schedule", "Alarm"};
        row.filename = "/srv/records/Recordfiles_" + row.ip + "/" + kWords[kind] + "_" + digits +
                       std::to_string(i % 1000) + ".avi";
        db::insertRecordFile(con, row);
        if (i % 50000 == 25000)
            samples.push_back(row);
    }
    transaction.commit();
    return samples;
}

// Runs `work` until 0.3 s went by (at least twice); the fastest run in milliseconds.
double bestMs(const std::function<void()>& work) {
    double best = 1e300;
    const auto start = std::chrono::steady_clock::now();
    int runs = 0;
    do {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
        ++runs;
    } while (runs < 2 || std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300));
    return best;
}

// Reads every column of every row, as the playback list does.
long readAll(sqlite3_connection& con, const std::string& sql) {
    sqlite3_command command(con, sql);
    sqlite3_reader reader = command.executereader();
    long rows = 0;
    while (reader.read()) {
        for (int column = 0; column < reader.columncount(); ++column)
            reader.getstrChar(column);
        ++rows;
    }
    return rows;
}

struct Case {
    std::string name;
    std::function<long(sqlite3_connection&)> run; // returns the rows it found or changed
};

void report(const Case& c, sqlite3_connection& indexed, sqlite3_connection& plain) {
    long rowsIndexed = 0;
    long rowsPlain = 0;
    const double msIndexed = bestMs([&] { rowsIndexed = c.run(indexed); });
    const double msPlain = bestMs([&] { rowsPlain = c.run(plain); });
    std::printf("%-46s %8ld %11.2f %11.2f %9.1fx%s\n", c.name.c_str(), rowsIndexed, msIndexed,
                msPlain, msPlain / msIndexed, rowsIndexed == rowsPlain ? "" : "  ROWS DIFFER");
}

db::RecordSearch search(int camera, const char* from, const char* to, std::array<bool, 3> kinds) {
    db::RecordSearch s;
    s.ip = camera < 0 ? "" : cameraIp(camera);
    s.from = from;
    s.to = to;
    s.kinds = kinds;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string pattern = (fs::temp_directory_path() / "vistaro-db-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        return 1;
    }
    const fs::path folder = pattern;
    int status = 0;
    try {
        fs::copy_file(VISTARO_DELIVERED_DB, folder / "indexed.db");
        sqlite3_connection indexed;
        sqlite3_connection plain;
        indexed.open(folder / "indexed.db");
        plain.open(folder / "plain.db");
        plain.executenonquery(
            "create table recordfile(ip text, filename text, filetype integer, filedate text);");

        auto t0 = std::chrono::steady_clock::now();
        const std::vector<db::RecordFileRow> samples = fill(indexed, rows);
        auto t1 = std::chrono::steady_clock::now();
        fill(plain, rows);
        auto t2 = std::chrono::steady_clock::now();
        std::printf("%ld recordfile rows; filling took %.1f s with the indexes, %.1f s without\n\n",
                    rows, std::chrono::duration<double>(t1 - t0).count(),
                    std::chrono::duration<double>(t2 - t1).count());

        const std::string day0 = "2024-06-15 00:00:00", day1 = "2024-06-15 23:59:59";
        const std::string month0 = "2024-02-01", month1 = "2024-02-29";
        std::vector<Case> cases;
        auto searchCase = [&](std::string name, db::RecordSearch s) {
            cases.push_back({std::move(name), [s](sqlite3_connection& con) {
                                 return readAll(con, db::recordSearchStatement(s));
                             }});
        };
        searchCase("search: camera, day, one kind",
                   search(5, day0.c_str(), day1.c_str(), {false, true, false}));
        searchCase("search: camera, day, three kinds",
                   search(5, day0.c_str(), day1.c_str(), {true, true, true}));
        searchCase("search: all cameras, day, three kinds",
                   search(-1, day0.c_str(), day1.c_str(), {true, true, true}));
        searchCase("search: camera, leap month, two kinds",
                   search(5, month0.c_str(), month1.c_str(), {false, true, true}));
        searchCase("search: all cameras, leap month, alarm",
                   search(-1, month0.c_str(), month1.c_str(), {false, false, true}));
        searchCase("search: camera, any date, manual", search(5, "", "", {true, false, false}));
        searchCase("search: all cameras, any date, manual",
                   search(-1, "", "", {true, false, false}));
        cases.push_back({"clean-up: first page of 102400 names", [](sqlite3_connection& con) {
                             return static_cast<long>(
                                 db::selectRecordFileNamePage(con, 0, db::kRecordFilePage).size());
                         }});
        cases.push_back(
            {"clean-up: page 9 of 102400 names", [](sqlite3_connection& con) {
                 return static_cast<long>(
                     db::selectRecordFileNamePage(con, 9 * db::kRecordFilePage, db::kRecordFilePage)
                         .size());
             }});
        cases.push_back({"clean-up: 20 deletes by name (rolled back)", [](sqlite3_connection& con) {
                             const auto names = db::selectRecordFileNamePage(con, 5000, 20);
                             sqlite3x::sqlite3_transaction transaction(con);
                             for (const std::string& name : names)
                                 db::deleteRecordFile(con, name);
                             return static_cast<long>(names.size());
                         }});
        cases.push_back({"rescan: look-ups by camera and name", [&](sqlite3_connection& con) {
                             long found = 0;
                             for (const db::RecordFileRow& row : samples)
                                 found += db::recordFileExists(con, row.ip, row.filename) ? 1 : 0;
                             return found;
                         }});
        cases.push_back({"camera list: distinct ip", [](sqlite3_connection& con) {
                             return static_cast<long>(
                                 db::selectDistinctRecordValues(con, "ip").size());
                         }});

        std::printf("%-46s %8s %11s %11s %10s\n", "statement", "rows", "indexed ms", "plain ms",
                    "ratio");
        for (const Case& c : cases)
            report(c, indexed, plain);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "db_bench: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
